#include "toolrunner.h"

#include "toollocator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <vector>

namespace {

// A tool that has passed its limit is asked to end first so it can remove its temporary files.
const int TerminateGrace = 2000;
const int KillWait = 5000;
// How often the interrupt flag and the time limit are looked at while the tool runs.
const int PollInterval = 25;
const int ErrorOutputLimit = 256 * 1024;
const qint64 ReadPiece = 64 * 1024;

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
    return environment;
}

} // namespace

ToolRunner::ToolRunner(const QString &program, const QStringList &arguments)
    : m_program(program), m_arguments(arguments)
{
}

void ToolRunner::setWorkingDirectory(const QString &folder)
{
    m_workingDirectory = folder;
}

void ToolRunner::setTimeLimit(int milliseconds)
{
    m_timeLimit = milliseconds;
}

void ToolRunner::setInterrupt(const std::atomic_bool *interrupt)
{
    m_interrupt = interrupt;
}

void ToolRunner::setOutputSink(const OutputSink &sink)
{
    m_sink = sink;
}

bool ToolRunner::run()
{
    m_started = m_timedOut = m_interrupted = m_crashed = m_sinkRefused = false;
    m_exitCode = -1;
    m_errorOutput.clear();

    if (m_program.isEmpty())
        return false;
    if (m_interrupt && m_interrupt->load()) {
        m_interrupted = true;
        return false;
    }

    QProcess process;
    process.setProgram(m_program);
    process.setArguments(m_arguments);
    process.setProcessEnvironment(toolEnvironment());
    if (!m_workingDirectory.isEmpty())
        process.setWorkingDirectory(m_workingDirectory);

    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(m_timeLimit)) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(KillWait);
        }
        return false;
    }
    m_started = true;
    // Nothing is written to the tool; an end of input stops a tool that would wait for some.
    process.closeWriteChannel();

    std::vector<char> piece(static_cast<size_t>(ReadPiece));
    auto drain = [&]() {
        qint64 n;
        while ((n = process.read(piece.data(), ReadPiece)) > 0) {
            if (!m_sinkRefused && m_sink && !m_sink(piece.data(), n))
                m_sinkRefused = true;
        }
        const QByteArray errors = process.readAllStandardError();
        if (m_errorOutput.size() < ErrorOutputLimit)
            m_errorOutput.append(errors.left(ErrorOutputLimit - m_errorOutput.size()));
    };
    auto stop = [&]() {
        process.terminate();
        if (!process.waitForFinished(TerminateGrace)) {
            process.kill();
            process.waitForFinished(KillWait);
        }
    };

    QElapsedTimer timer;
    timer.start();
    for (;;) {
        drain();
        if (process.state() == QProcess::NotRunning)
            break;
        if (m_sinkRefused) {
            stop();
            break;
        }
        if (m_interrupt && m_interrupt->load()) {
            m_interrupted = true;
            stop();
            break;
        }
        const qint64 left = m_timeLimit - timer.elapsed();
        if (left <= 0) {
            m_timedOut = true;
            stop();
            break;
        }
        const qint64 before = timer.elapsed();
        if (!process.waitForReadyRead(int(qMin<qint64>(left, PollInterval)))
            && process.state() != QProcess::NotRunning && timer.elapsed() == before) {
            // A tool that closed its output but still runs makes the wait return at once.
            QThread::msleep(PollInterval);
        }
    }
    drain();

    m_crashed = process.exitStatus() == QProcess::CrashExit;
    m_exitCode = process.exitCode();
    return !m_timedOut && !m_interrupted && !m_sinkRefused && !m_crashed && m_exitCode == 0;
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
