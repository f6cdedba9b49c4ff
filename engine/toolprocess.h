#ifndef VELUMEN_TOOLPROCESS_H
#define VELUMEN_TOOLPROCESS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// One child process of an image tool, started without copying this process's memory: on Linux
// through posix_spawn (a fork of a process holding a large accumulator costs a copy of its page
// tables and copy-on-write faults on every later write to it), elsewhere through QProcess.
// Standard input is empty; standard output and error output are read by pump().
class ToolProcess
{
public:
    // Receives each piece of standard output, straight from the read buffer.
    using Output = std::function<void(const char *data, qint64 size)>;

    ToolProcess();
    // A tool still running is killed and reaped: no process is left behind.
    ~ToolProcess();
    ToolProcess(const ToolProcess &) = delete;
    ToolProcess &operator=(const ToolProcess &) = delete;

    // True when a tool started in one thread may be read and ended from another.
    static bool startsForAnyThread();

    bool start(const QString &program, const QStringList &arguments, const QStringList &environment,
               const QString &workingDirectory);
    // Waits at most the given time for output or the tool's end, then hands on what has arrived.
    // Returns false once the tool has ended and its output has been read.
    bool pump(int milliseconds, const Output &output, QByteArray &errors);
    void terminate();
    void kill();
    bool waitForFinished(int milliseconds);

    bool crashed() const;
    int exitCode() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif
