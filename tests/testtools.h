#ifndef VELUMEN_TESTTOOLS_H
#define VELUMEN_TESTTOOLS_H

// Shared by the engine tests: a temporary working folder that becomes the current directory, so
// that stand-in image tools written into its "tools" folder are the ones the bridge runs, and the
// real ImageMagick tools (found before the current directory changes) for making and checking images;
// and a job run in its worker thread with its reports logged.

#include "executethread.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <vector>

namespace TestTools {

// Quotes a text for a POSIX shell script.
inline QString shellQuote(QString text) { return '\'' + text.replace("'", "'\\''") + '\''; }

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

class ToolSandbox
{
public:
    ToolSandbox()
        : m_previous(QDir::currentPath())
    {
        m_valid = m_folder.isValid() && QDir::setCurrent(m_folder.path());
    }
    ~ToolSandbox() { QDir::setCurrent(m_previous); }
    Q_DISABLE_COPY(ToolSandbox)

    bool isValid() const { return m_valid && !m_convert.isEmpty() && !m_identify.isEmpty(); }
    QString path() const { return m_folder.path(); }
    QString filePath(const QString &name) const { return QDir(m_folder.path()).filePath(name); }
    QString realIdentify() const { return m_identify; }

    // Writes tools/<name> as an executable shell script with the given body.
    bool addTool(const QString &name, const QString &body) const
    {
        const QString file = filePath("tools/" + name);
        return QDir(path()).mkpath("tools") && writeFile(file, ("#!/bin/sh\n" + body + '\n').toUtf8())
               && QFile::setPermissions(file, QFileDevice::Permissions(0x7755)); // rwxr-xr-x
    }

    // A stand-in that runs the given shell lines, then hands the call on to the real tool.
    bool addForwardingTool(const QString &name, const QString &before = QString()) const
    {
        const QString real = name == "identify" ? m_identify : m_convert;
        return addTool(name, before + "\nexec " + shellQuote(real) + " \"$@\"");
    }

    void removeTools() const { QDir(filePath("tools")).removeRecursively(); }

    // Runs the real convert in the sandbox folder; the standard output goes to *output when given.
    bool convert(const QStringList &arguments, QByteArray *output = nullptr) const
    {
        return run(m_convert, arguments, output);
    }

    // True when the program ran to a normal end with status 0.
    static bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
    {
        QProcess process;
        process.start(program, arguments);
        process.closeWriteChannel();
        const bool ended = process.waitForFinished(120000); // one still running is killed as the object goes
        if (output)
            *output = process.readAllStandardOutput();
        return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

private:
    QString m_previous;
    QString m_convert = QStandardPaths::findExecutable("convert");
    QString m_identify = QStandardPaths::findExecutable("identify");
    QTemporaryDir m_folder;
    bool m_valid = false;
};

// A job in its worker thread. Its signals are logged from there (direct connections) and read once it has
// finished: "image/images operation/operations" per operation, then "completed" or "aborted <open> <file>".
struct Job
{
    ExecuteThread thread;
    QStringList log;
    std::atomic_int started{0};

    Job(const QStringList &sources, const QStringList &outputs, const StackPlan &plan, int method = 0,
        int format = 3)
        : Job(StackJob{sources, outputs, plan, method, format, 37, {}}) // the JPEG quality
    {
    }

    explicit Job(const StackJob &job)
    {
        QObject::connect(&thread, &ExecuteThread::operationStarted, [this](int i, int n, int k, int total) {
            log << QString("%1/%2 %3/%4").arg(i).arg(n).arg(k).arg(total);
            ++started;
        });
        QObject::connect(&thread, &ExecuteThread::completed, [this] { log << "completed"; });
        QObject::connect(&thread, &ExecuteThread::aborted, [this](bool open, const QString &file) {
            log << QString("aborted %1 %2").arg(int(open)).arg(file);
        });
        thread.setJob(job);
    }

    // Logs "picture <image>/<images>" for each running picture and keeps the pictures.
    void keepPictures()
    {
        QObject::connect(&thread, &ExecuteThread::previewUpdated,
                         [this](int i, int n, const QImage &picture) {
                             log << QString("picture %1/%2").arg(i).arg(n);
                             pictures << picture;
                         });
    }
    QList<QImage> pictures;

    QStringList run()
    {
        thread.start();
        return thread.wait(300000) ? log : QStringList{"did not end"};
    }
};

} // namespace TestTools

// Sample lists name their first values in a failed comparison.
template <> inline char *QTest::toString(const std::vector<quint32> &values)
{
    QByteArray text = QByteArray::number(qulonglong(values.size())) + " samples:";
    for (size_t i = 0; i < values.size() && i < 24; ++i)
        text += ' ' + QByteArray::number(values[i]);
    return qstrdup(text.constData());
}

#endif
