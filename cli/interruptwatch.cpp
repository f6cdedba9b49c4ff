#include "interruptwatch.h"

#include <QTimer>

#include <atomic>
#include <csignal>

namespace {

static_assert(ATOMIC_INT_LOCK_FREE == 2, "the signal handler needs a lock-free atomic");
std::atomic_int receivedSignal{0};

const int PollInterval = 50;

// A closed terminal or a dropped remote session (SIGHUP) must not kill a run in the middle of a write
// any more than Ctrl+C or a shutdown does.
#ifdef SIGHUP
const int Signals[] = {SIGINT, SIGTERM, SIGHUP};
#else
const int Signals[] = {SIGINT, SIGTERM};
#endif

void handleSignal(int signalNumber)
{
    receivedSignal.store(signalNumber);
#ifdef Q_OS_WIN
    // Windows resets the handler before calling it; a second Ctrl+C must not kill the run mid-write.
    std::signal(signalNumber, handleSignal);
#endif
}

} // namespace

InterruptWatch::InterruptWatch(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    for (int signalNumber : Signals)
        std::signal(signalNumber, handleSignal);
    connect(m_timer, &QTimer::timeout, this, &InterruptWatch::poll);
    m_timer->start(PollInterval);
}

InterruptWatch::~InterruptWatch()
{
    for (int signalNumber : Signals)
        std::signal(signalNumber, SIG_DFL);
}

bool InterruptWatch::received()
{
    return receivedSignal.load() != 0;
}

void InterruptWatch::poll()
{
    if (!m_reported && received()) {
        m_reported = true;
        emit interrupted();
    }
}
