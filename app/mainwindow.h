#ifndef VELUMEN_MAINWINDOW_H
#define VELUMEN_MAINWINDOW_H

#include "namepattern.h"
#include "stackjob.h"
#include "stackplan.h"
#include "timeleft.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <optional>

class DestinationDialog;
class DialogTranslator;
class ExecuteThread;
class PreviewState;
class QCloseEvent;

namespace Ui {
class MainWindow;
}

// The application's one window: keeps the job settings, lists the destination files, and starts,
// follows and ends runs of the worker.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Chooses image files and folders' images as the source chooser would (a drop on the source
    // list does the same). Returns the paths left out: neither an image file nor a folder. A
    // folder's files named as destination images are left out too, as *leftOutNotice then says.
    QStringList openFiles(const QStringList &paths, QString *leftOutNotice = nullptr);

protected:
    // A run must not outlive the window that owns its worker.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void updateSourceImages(const QStringList &sourceImages);
    void updateCondition();
    void updateStackMethod();
    void updateFadeMethod();
    void updateDestinationFolder(const QString &destinationFolder);
    void updateNamePattern(const QString &namePattern);
    void updateFormat(int format);
    void updateCompression(int compression);
    void updateVideo(bool video);
    void updateVideoFrameRate(int videoFrameRate);
    void updateOutput();
    void updateOperationStatus(int currentImage, int totalImages, int currentOperation, int totalOperations);
    void finish();
    void execute();
    void cancel();
    void abort(bool open, const QString &filename);
    void openReadme();
    void changeLanguage();
    // The worker's run has returned: a job pressed for meanwhile can be handed over now.
    void runEnded();

private:
    void setConditionOption1(bool visible, const QString &label);
    void setConditionOption2(bool visible, const QString &label);
    void setFadeMethodOption1(bool visible, const QString &label);
    void setFadeMethodOption2(bool visible, const QString &label);
    QString destinationFileName(int index) const;
    // The film's path when one is asked for and can be made; empty otherwise.
    QString videoFileName(int count) const;
    StackSettings stackSettings() const;
    // Shows why the job cannot be carried out (destination folder or destination among the
    // sources) and returns true, before any source is loaded.
    bool refuseJob(const StackJob &job);
    void startJob(const StackJob &job);
    void resetRunControls(int progress);
    void showError(const QString &message);
    void openFolder(const QString &folder);
    void stopWorker();
    void fitMinimumSize();

    Ui::MainWindow *ui;
    DestinationDialog *destinationDialog;
    QStringList sourceImages;
    int conditionIndex = 0;
    int conditionOption1Value = 1;
    int conditionOption2Value = 1;
    int stackMethodIndex = 0;
    int fadeMethodIndex = 0;
    int fadeMethodOption1Value = 50;
    int fadeMethodOption2Value = 50;
    QString destinationFolder;
    // The parsed name pattern: the template and the width of each run of '*'.
    NamePattern namePattern;
    int format = 0;
    int compression = 92;
    bool video = false;
    int videoFrameRate = 25;
    ExecuteThread *executeThread;

    // Where the worker is in a run. The worker's signals carry no run id, so the window tells runs
    // apart itself: Running from start() until the run completes, fails or is cancelled; Stopping
    // while the worker is still inside a run whose signals no longer reach the user; Idle once the
    // run's QThread::finished has been handled, which comes after every other signal of that run.
    enum class RunState { Idle, Running, Stopping };
    RunState runState = RunState::Idle;
    // A job Begin was pressed for while the worker was still Stopping; it starts when the run ends.
    std::optional<StackJob> pendingJob;

    DialogTranslator *dialogTranslator;
    PreviewState *previewState = nullptr;
    TimeLeft timeLeft;
};

#endif
