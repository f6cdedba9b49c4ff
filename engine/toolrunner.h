#ifndef VELUMEN_TOOLRUNNER_H
#define VELUMEN_TOOLRUNNER_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QTemporaryDir;
class ToolProcess;

// Runs one external image tool to its end: a program with an argument list (never a command line
// to split), a time limit, optional interrupt flags, and standard output handed on in pieces as it
// arrives so that a large sample stream is never held whole. A tool can be started first and its
// output taken later (start, then finish): it then waits in its full pipe meanwhile.
class ToolRunner
{
public:
    // Receives each piece of standard output; returning false ends the run as a failure.
    using OutputSink = std::function<bool(const char *data, qint64 size)>;

    static const int DefaultTimeLimit = 30000;

    ToolRunner(const QString &program, const QStringList &arguments);
    // A tool still running is ended (terminate, then kill) and no process is left.
    ~ToolRunner();
    ToolRunner(ToolRunner &&) = default;
    ToolRunner(const ToolRunner &) = delete;
    ToolRunner &operator=(const ToolRunner &) = delete;

    void setWorkingDirectory(const QString &folder);
    void setTimeLimit(int milliseconds);
    // The run ends as a failure as soon as either flag is true.
    void setInterrupt(const std::atomic_bool *interrupt, const std::atomic_bool *second = nullptr);
    void setOutputSink(const OutputSink &sink);

    // Runs the tool and waits for it. True only when it started, exited normally with status 0,
    // within the time limit, without interruption, and the sink accepted all of its output.
    bool run();
    // The two halves of run. The time limit counts from the start of finish, so that a tool
    // started ahead is not charged for the time its output waits to be taken.
    bool start();
    bool finish();

    bool started() const { return m_started; }
    bool timedOut() const { return m_timedOut; }
    bool interrupted() const { return m_interrupted; }
    bool crashed() const { return m_crashed; }
    int exitCode() const { return m_exitCode; }
    // The start of the tool's error output (bounded).
    QByteArray errorOutput() const { return m_errorOutput; }

    // A runner for an image tool found by ToolLocator; with no tool found its run fails.
    static ToolRunner forTool(const QString &toolName, const QStringList &arguments);
    // The tool's program and leading arguments (empty when not found), and the program alone where
    // it needs none (else empty).
    static QStringList locateCommand(const QString &toolName);
    static QString locate(const QString &toolName);
    // Folder searched first for the image tools, relative to the current directory.
    static QString toolsFolder();

private:
    bool interruptSet() const;
    void stop();

    QString m_program;
    QStringList m_arguments;
    QString m_workingDirectory;
    int m_timeLimit = DefaultTimeLimit;
    const std::atomic_bool *m_interrupt = nullptr;
    const std::atomic_bool *m_secondInterrupt = nullptr;
    OutputSink m_sink;
    std::unique_ptr<ToolProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_scratch;

    bool m_started = false;
    bool m_timedOut = false;
    bool m_interrupted = false;
    bool m_crashed = false;
    bool m_sinkRefused = false;
    int m_exitCode = -1;
    QByteArray m_errorOutput;
};

#endif
