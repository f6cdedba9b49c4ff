#include "toolprocess.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX) && defined(__GLIBC__) && !defined(VELUMEN_TOOLPROCESS_QPROCESS)
#include <features.h>
#if __GLIBC_PREREQ(2, 29)
#define VELUMEN_TOOLPROCESS_SPAWN
#endif
#endif

#include <vector>

namespace {

// One read takes what a full pipe holds, so a stream of 150 MB arrives in few large pieces.
const qint64 ReadPiece = 1 << 20;

} // namespace

#ifdef VELUMEN_TOOLPROCESS_SPAWN

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

struct ToolProcess::Private
{
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    // Readable when the tool has ended (Linux 5.3 on); without it the end is polled.
    int pidfd = -1;
    bool reaped = false;
    int status = 0;
    std::vector<char> buffer;

    static void closeFd(int &fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    bool reap(bool block)
    {
        if (reaped || pid <= 0)
            return reaped;
        int result;
        int st = 0;
        do {
            result = ::waitpid(pid, &st, block ? 0 : WNOHANG);
        } while (result < 0 && errno == EINTR);
        if (result == pid || result < 0) {
            reaped = true;
            status = result == pid ? st : -1;
            closeFd(pidfd);
        }
        return reaped;
    }

    // Reads what the pipe holds now; closes it at its end.
    void drain(int &fd, const Output *output, QByteArray *errors)
    {
        for (int round = 0; fd >= 0 && round < 64; ++round) {
            const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
            if (n > 0) {
                if (output)
                    (*output)(buffer.data(), qint64(n));
                else
                    errors->append(buffer.data(), int(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                closeFd(fd);
            } else if (errno == EAGAIN) {
                return;
            }
        }
    }

    // Waits for the end at most the given time.
    void waitForEnd(int milliseconds)
    {
        if (pidfd >= 0) {
            pollfd fd = {pidfd, POLLIN, 0};
            ::poll(&fd, 1, milliseconds);
        } else {
            ::usleep(useconds_t(qMin(milliseconds, 5)) * 1000);
        }
    }
};

ToolProcess::ToolProcess()
    : d(new Private)
{
}

bool ToolProcess::startsForAnyThread()
{
    return true;
}

ToolProcess::~ToolProcess()
{
    Private::closeFd(d->out);
    Private::closeFd(d->err);
    if (d->pid > 0 && !d->reaped) {
        ::kill(d->pid, SIGKILL);
        d->reap(true);
    }
    Private::closeFd(d->pidfd);
}

namespace {

// Pipe with the reading end (ends[0]) non-blocking, neither end inherited by other children.
bool makePipe(int ends[2])
{
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(ends[0], F_SETPIPE_SZ, int(ReadPiece));
    return true;
}

// The tool starts with no blocked signals and the default action for the ending ones, whatever this
// process has set for itself.
void startClean(posix_spawnattr_t &attributes)
{
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

std::vector<char *> pointers(std::vector<QByteArray> &texts)
{
    std::vector<char *> list;
    for (QByteArray &text : texts)
        list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

} // namespace

bool ToolProcess::start(const QString &program, const QStringList &arguments, const QStringList &environment,
                        const QString &workingDirectory)
{
    int out[2], err[2];
    if (!makePipe(out))
        return false;
    if (!makePipe(err)) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    std::vector<QByteArray> argumentTexts{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        argumentTexts.push_back(QFile::encodeName(argument));
    std::vector<QByteArray> environmentTexts;
    for (const QString &variable : environment)
        environmentTexts.push_back(variable.toLocal8Bit());
    std::vector<char *> argv = pointers(argumentTexts), envp = pointers(environmentTexts);
    const QByteArray folder = QFile::encodeName(workingDirectory);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (!folder.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    posix_spawnattr_t attributes;
    startClean(attributes);
    const int result = ::posix_spawn(&d->pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    if (result != 0) {
        ::close(out[0]);
        ::close(err[0]);
        d->pid = -1;
        return false;
    }
    d->out = out[0];
    d->err = err[0];
    d->buffer.resize(size_t(ReadPiece));
#ifdef SYS_pidfd_open
    d->pidfd = int(::syscall(SYS_pidfd_open, d->pid, 0));
#endif
    return true;
}

bool ToolProcess::pump(int milliseconds, const Output &output, QByteArray &errors)
{
    if (d->reaped && d->out < 0 && d->err < 0)
        return false;
    pollfd fds[3];
    nfds_t count = 0;
    for (int fd : {d->out, d->err, d->pidfd}) {
        if (fd >= 0)
            fds[count++] = pollfd{fd, POLLIN, 0};
    }
    if (count == 0)
        d->waitForEnd(milliseconds);
    else
        ::poll(fds, count, milliseconds);
    d->drain(d->out, &output, nullptr);
    d->drain(d->err, nullptr, &errors);
    if (!d->reap(false))
        return true;
    // Ended: what it wrote before its end is still in the pipes. A process it left behind may hold
    // them open, so only what is there now is read.
    d->drain(d->out, &output, nullptr);
    d->drain(d->err, nullptr, &errors);
    Private::closeFd(d->out);
    Private::closeFd(d->err);
    return false;
}

void ToolProcess::terminate()
{
    // The output stays open: a tool blocked on its full pipe still reaches its signal handler, which
    // removes its temporary files (ImageMagick's pixel cache on disk). Closing it first would end the
    // tool by a broken pipe, which leaves them behind.
    if (d->pid > 0 && !d->reaped)
        ::kill(d->pid, SIGTERM);
}

void ToolProcess::kill()
{
    Private::closeFd(d->out);
    if (d->pid > 0 && !d->reaped)
        ::kill(d->pid, SIGKILL);
}

bool ToolProcess::waitForFinished(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!d->reap(false)) {
        const qint64 left = milliseconds - timer.elapsed();
        if (left <= 0)
            return false;
        d->waitForEnd(int(left));
    }
    return true;
}

bool ToolProcess::crashed() const
{
    return d->reaped && !(d->status >= 0 && WIFEXITED(d->status));
}

int ToolProcess::exitCode() const
{
    return d->reaped && d->status >= 0 && WIFEXITED(d->status) ? WEXITSTATUS(d->status) : -1;
}

#else // QProcess

#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

struct ToolProcess::Private
{
    QProcess process;
    std::vector<char> buffer;
};

ToolProcess::ToolProcess()
    : d(new Private)
{
}

bool ToolProcess::startsForAnyThread()
{
    return false;
}

ToolProcess::~ToolProcess()
{
    if (d->process.state() != QProcess::NotRunning) {
        d->process.kill();
        d->process.waitForFinished(5000);
    }
}

bool ToolProcess::start(const QString &program, const QStringList &arguments, const QStringList &environment,
                        const QString &workingDirectory)
{
    QProcessEnvironment variables;
    for (const QString &variable : environment)
        variables.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    d->process.setProgram(program);
    d->process.setArguments(arguments);
    d->process.setProcessEnvironment(variables);
    if (!workingDirectory.isEmpty())
        d->process.setWorkingDirectory(workingDirectory);
    d->process.start(QIODevice::ReadWrite);
    if (!d->process.waitForStarted(30000)) {
        if (d->process.state() != QProcess::NotRunning) {
            d->process.kill();
            d->process.waitForFinished(5000);
        }
        return false;
    }
    // Nothing is written to the tool; an end of input stops a tool that would wait for some.
    d->process.closeWriteChannel();
    d->buffer.resize(size_t(ReadPiece));
    return true;
}

bool ToolProcess::pump(int milliseconds, const Output &output, QByteArray &errors)
{
    QProcess &process = d->process;
    if (process.state() != QProcess::NotRunning && process.bytesAvailable() == 0
        && !process.waitForReadyRead(milliseconds) && process.state() != QProcess::NotRunning) {
        // A tool that closed its output but still runs makes the wait return at once.
        QThread::msleep(quint32(qMin(milliseconds, 25)));
    }
    qint64 n;
    while ((n = process.read(d->buffer.data(), ReadPiece)) > 0)
        output(d->buffer.data(), n);
    errors.append(process.readAllStandardError());
    return process.state() != QProcess::NotRunning || process.bytesAvailable() > 0;
}

void ToolProcess::terminate()
{
    d->process.terminate();
}

void ToolProcess::kill()
{
    d->process.kill();
}

bool ToolProcess::waitForFinished(int milliseconds)
{
    return d->process.state() == QProcess::NotRunning || d->process.waitForFinished(milliseconds);
}

bool ToolProcess::crashed() const
{
    return d->process.exitStatus() == QProcess::CrashExit;
}

int ToolProcess::exitCode() const
{
    return d->process.exitCode();
}

#endif
