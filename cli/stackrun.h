#ifndef VELUMEN_STACKRUN_H
#define VELUMEN_STACKRUN_H

#include "stackjob.h"

#include <QObject>
#include <QString>

#include <memory>

class ExecuteThread;
class InterruptWatch;
class ProgressLine;
class QTimer;

// Carries out one job with the window's worker, from a terminal or a script: the refusals that
// need no load, progress on a terminal, the outcome as a message and an exit status.
class StackRun : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus { Written = 0, Failed = 1, Interrupted = 130 };

    StackRun(const StackJob &job, const QString &outputFolder, bool quiet, QObject *parent = nullptr);
    ~StackRun() override;

    // Refuses, before any load, a source that is not a readable file, a missing or unwritable
    // destination folder and a destination that would replace a source. True when the job may start.
    bool preflight();
    void start();

signals:
    void finished(int exitStatus);

private:
    void operationStarted(int currentImage, int totalImages, int currentOperation, int totalOperations);
    void completed();
    void aborted(bool open, const QString &filename);
    void interrupt();
    void threadFinished();

    StackJob m_job;
    QString m_outputFolder;
    bool m_quiet;
    ExecuteThread *m_thread;
    InterruptWatch *m_interruptWatch = nullptr;
    QTimer *m_ticker;
    std::unique_ptr<ProgressLine> m_progress;

    int m_currentImage = 0;
    bool m_started = false;
    int m_written = 0;
    bool m_completed = false;
    QString m_failure;
};

#endif
