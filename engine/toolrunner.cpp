#include "toolrunner.h"

#include "toollocator.h"
#include "toolprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

// A tool that is stopped is asked to end first so it can remove its temporary files. ImageMagick's
// handler for that signal can deadlock on its own resource lock, so the wait is short: whatever it
// leaves goes with the run's scratch folder.
const int TerminateGrace = 300;
const int KillWait = 5000;
// How often the interrupt flag and the time limit are looked at while the tool runs.
const int PollInterval = 25;
const int ErrorOutputLimit = 256 * 1024;

// The tools parse and print numbers and messages by their locale; keep those fixed so that the
// error output can be read and numbers mean the same everywhere, and leave the rest of the locale.
QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString all = environment.value(QStringLiteral("LC_ALL"));
    if (!all.isEmpty()) {
        environment.remove(QStringLiteral("LC_ALL"));
        environment.insert(QStringLiteral("LC_CTYPE"), all);
    }
    environment.insert(QStringLiteral("LC_NUMERIC"), QStringLiteral("C"));
    environment.insert(QStringLiteral("LC_MESSAGES"), QStringLiteral("C"));
#ifdef Q_OS_LINUX
    // ImageMagick holds a frame in a pixel cache of over 100 MB, written once and read once. On
    // 4 KiB pages its page faults and TLB misses cost more than the decode itself (an 18 MP JPEG:
    // convert 0.55 s, 0.18 s on huge pages). glibc 2.35 and later ask the kernel for transparent
    // huge pages for such allocations when told so here; older ones ignore the name.
    const QString tunables = environment.value(QStringLiteral("GLIBC_TUNABLES"));
    if (!tunables.contains(QLatin1String("glibc.malloc.hugetlb"))) {
        const QString hugePages = QStringLiteral("glibc.malloc.hugetlb=1");
        environment.insert(QStringLiteral("GLIBC_TUNABLES"),
            tunables.isEmpty() ? hugePages : tunables + QLatin1Char(':') + hugePages);
    }
#endif
    return environment;
}

// The folder ImageMagick would put its pixel caches in, by the variables it reads first.
QString magickTemporaryFolder(const QProcessEnvironment &environment)
{
    for (const char *name : {"MAGICK_TEMPORARY_PATH", "MAGICK_TMPDIR"}) {
        const QString folder = environment.value(QLatin1String(name));
        if (!folder.isEmpty())
            return folder;
    }
    return QDir::tempPath();
}

} // namespace

ToolRunner::ToolRunner(const QString &program, const QStringList &arguments)
    : m_program(program), m_arguments(arguments)
{
}

ToolRunner::~ToolRunner()
{
    if (m_process)
        stop();
}

void ToolRunner::setWorkingDirectory(const QString &folder)
{
    m_workingDirectory = folder;
}

void ToolRunner::setTimeLimit(int milliseconds)
{
    m_timeLimit = milliseconds;
}

void ToolRunner::setInterrupt(const std::atomic_bool *interrupt, const std::atomic_bool *second)
{
    m_interrupt = interrupt;
    m_secondInterrupt = second;
}

void ToolRunner::setOutputSink(const OutputSink &sink)
{
    m_sink = sink;
}

bool ToolRunner::interruptSet() const
{
    return (m_interrupt && m_interrupt->load()) || (m_secondInterrupt && m_secondInterrupt->load());
}

bool ToolRunner::run()
{
    return start() && finish();
}

bool ToolRunner::start()
{
    m_started = m_timedOut = m_interrupted = m_crashed = m_sinkRefused = false;
    m_exitCode = -1;
    m_errorOutput.clear();
    m_process.reset();

    if (m_program.isEmpty())
        return false;
    if (interruptSet()) {
        m_interrupted = true;
        return false;
    }
    // Each run's temporary files go in a folder of its own within the one the user chose, removed
    // when the run ends however it ends; without the folder the tool uses the chosen one itself.
    QProcessEnvironment environment = toolEnvironment();
    m_scratch.reset(new QTemporaryDir(magickTemporaryFolder(environment) + QLatin1String("/velumen-XXXXXX")));
    if (m_scratch->isValid())
        environment.insert(QStringLiteral("MAGICK_TEMPORARY_PATH"),
                           QDir::toNativeSeparators(m_scratch->path()));
    m_process.reset(new ToolProcess);
    if (!m_process->start(m_program, m_arguments, environment.toStringList(), m_workingDirectory)) {
        m_process.reset();
        m_scratch.reset();
        return false;
    }
    m_started = true;
    return true;
}

bool ToolRunner::finish()
{
    if (!m_process)
        return false;
    const ToolProcess::Output output = [this](const char *data, qint64 size) {
        if (!m_sinkRefused && m_sink && !m_sink(data, size))
            m_sinkRefused = true;
    };
    QElapsedTimer timer;
    timer.start();
    QByteArray errors;
    for (;;) {
        const qint64 left = m_timeLimit - timer.elapsed();
        const bool running = m_process->pump(int(qBound<qint64>(0, left, PollInterval)), output, errors);
        if (m_errorOutput.size() < ErrorOutputLimit)
            m_errorOutput.append(errors.left(ErrorOutputLimit - m_errorOutput.size()));
        errors.clear();
        if (!running)
            break;
        if (m_sinkRefused || interruptSet() || timer.elapsed() >= m_timeLimit) {
            m_interrupted = !m_sinkRefused && interruptSet();
            m_timedOut = !m_sinkRefused && !m_interrupted;
            stop();
            return false;
        }
    }
    m_crashed = m_process->crashed();
    m_exitCode = m_process->exitCode();
    m_process.reset();
    m_scratch.reset();
    return !m_timedOut && !m_interrupted && !m_sinkRefused && !m_crashed && m_exitCode == 0;
}

// Asked to end first so that the tool can remove its temporary files; killed if it does not.
void ToolRunner::stop()
{
    m_process->terminate();
    if (!m_process->waitForFinished(TerminateGrace)) {
        m_process->kill();
        m_process->waitForFinished(KillWait);
    }
    m_crashed = m_process->crashed();
    m_exitCode = m_process->exitCode();
    m_process.reset();
    m_scratch.reset();
}

QString ToolRunner::toolsFolder()
{
    return QStringLiteral("tools");
}

QStringList ToolRunner::locateCommand(const QString &toolName)
{
    return ToolLocator::find(toolName, toolsFolder());
}

QString ToolRunner::locate(const QString &toolName)
{
    const QStringList command = locateCommand(toolName);
    return command.size() == 1 ? command.first() : QString();
}

ToolRunner ToolRunner::forTool(const QString &toolName, const QStringList &arguments)
{
    const QStringList command = locateCommand(toolName);
    return ToolRunner(command.value(0), command.mid(1) + arguments);
}
