#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "destinationdialog.h"
#include "dialogtranslator.h"
#include "executethread.h"
#include "jobpreflight.h"
#include "languagetext.h"
#include "previewstate.h"
#include "selectimagesbutton.h"
#include "videoencoder.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QMessageBox>
#include <QUrl>

#ifdef Q_OS_WIN
#include <QProcess>
#endif

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      destinationDialog(new DestinationDialog(this)),
      sourceImages(),
      destinationFolder(),
      executeThread(new ExecuteThread(this)),
      dialogTranslator(new DialogTranslator(this))
{
    ui->setupUi(this);
    previewState = new PreviewState(ui->previewGroupBox, ui->previewWidget, ui->sourceImages,
                                    ui->destinationImages, this);

    changeLanguage();

    ui->detailsLabel->hide();
    ui->conditionHelp->hide();
    ui->stackMethodHelp->hide();
    ui->fadeMethodHelp->hide();

    connect(ui->destinationImagesButton, &QPushButton::clicked, destinationDialog, &QWidget::show);
    connect(ui->sourceImagesButton, &SelectImagesButton::pathChanged,
            destinationDialog, &DestinationDialog::setDestinationFolder);
    connect(destinationDialog, &DestinationDialog::destinationFolderChanged, this,
            &MainWindow::updateDestinationFolder);
    connect(destinationDialog, &DestinationDialog::namePatternChanged, this, &MainWindow::updateNamePattern);
    connect(destinationDialog, &DestinationDialog::formatChanged, this, &MainWindow::updateFormat);
    connect(destinationDialog, &DestinationDialog::compressionChanged, this, &MainWindow::updateCompression);
    connect(destinationDialog, &DestinationDialog::videoChanged, this, &MainWindow::updateVideo);
    connect(destinationDialog, &DestinationDialog::videoFrameRateChanged, this,
            &MainWindow::updateVideoFrameRate);
    connect(executeThread, &ExecuteThread::operationStarted, this, &MainWindow::updateOperationStatus);
    connect(executeThread, &ExecuteThread::completed, this, &MainWindow::finish);
    connect(executeThread, &ExecuteThread::aborted, this, &MainWindow::abort);
    connect(executeThread, &ExecuteThread::previewUpdated, previewState, &PreviewState::runPicture);
    // Emitted in the worker thread after run() has returned, so it arrives after every other
    // signal of that run.
    connect(executeThread, &QThread::finished, this, &MainWindow::runEnded);
    connect(ui->sourceImages, &ImageListWidget::filesDropped, ui->sourceImagesButton,
            &SelectImagesButton::chooseFiles);

    destinationFolder = destinationDialog->destinationFolder();
    updateOutput();
    updateNamePattern(destinationDialog->namePattern());
    format = destinationDialog->format();
    compression = destinationDialog->compression();

    sourceImages = QStringList();
    updateOutput();

    updateCondition();
    updateStackMethod();
    updateFadeMethod();
    destinationDialog->updateLanguage();

    fitMinimumSize();
}

MainWindow::~MainWindow()
{
    // Nothing the worker still sends may reach a half-destroyed window.
    executeThread->disconnect(this);
    stopWorker();
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    stopWorker();
    QMainWindow::closeEvent(event);
}

void MainWindow::stopWorker()
{
    pendingJob.reset();
    if (executeThread->isRunning()) {
        // stop() also ends the tool run in progress, so this wait is short.
        executeThread->stop();
        executeThread->wait();
    }
    // A window shown again after a close mid-run starts idle, not in the state of the stopped run.
    // The run's end is still queued, so the state stays Stopping until it arrives.
    if (runState == RunState::Running) {
        resetRunControls(0);
        runState = RunState::Stopping;
    }
}

QStringList MainWindow::openFiles(const QStringList &paths, QString *leftOutNotice)
{
    const QStringList leftOut = ui->sourceImagesButton->chooseFiles(paths);
    if (leftOutNotice)
        *leftOutNotice = ui->sourceImagesButton->resultsLeftOutNotice();
    return leftOut;
}

void MainWindow::updateSourceImages(const QStringList &sourceImages)
{
    this->sourceImages = sourceImages;
    updateOutput();
}

void MainWindow::updateCondition()
{
    conditionIndex = ui->condition->currentIndex();
    conditionOption1Value = ui->conditionOption1->value();
    conditionOption2Value = ui->conditionOption2->value();

    switch (conditionIndex) {
    case 2:
    case 3:
        setConditionOption1(true, languageText(26));
        setConditionOption2(true, languageText(27));
        break;
    case 4:
        setConditionOption1(true, languageText(conditionIndex + 24));
        setConditionOption2(false, QString());
        break;
    default:
        setConditionOption1(false, QString());
        setConditionOption2(false, QString());
        break;
    }

    updateOutput();
}

void MainWindow::updateStackMethod()
{
    stackMethodIndex = ui->stackMethod->currentIndex();
    if (stackMethodIndex == 2) {
        // Mean is always stacked without fading.
        ui->fadeMethod->setCurrentIndex(0);
        ui->fadeMethod->setEnabled(false);
    } else {
        ui->fadeMethod->setEnabled(true);
    }
}

void MainWindow::updateFadeMethod()
{
    fadeMethodIndex = ui->fadeMethod->currentIndex();
    fadeMethodOption1Value = ui->fadeMethodOption1->value();
    fadeMethodOption2Value = ui->fadeMethodOption2->value();

    switch (fadeMethodIndex) {
    case 1:
    case 2:
        setFadeMethodOption1(true, languageText(fadeMethodIndex + 28));
        setFadeMethodOption2(false, QString());
        break;
    case 3:
        setFadeMethodOption1(true, languageText(fadeMethodIndex + 26));
        setFadeMethodOption2(true, languageText(30));
        break;
    default:
        setFadeMethodOption1(false, QString());
        setFadeMethodOption2(false, QString());
        break;
    }
}

void MainWindow::updateDestinationFolder(const QString &destinationFolder)
{
    this->destinationFolder = destinationFolder;
    updateOutput();
}

void MainWindow::updateNamePattern(const QString &namePattern)
{
    this->namePattern = NamePattern(namePattern);
    // Files a folder holds under these names are an earlier run's results, not frames.
    ui->sourceImagesButton->setDestinationPattern(namePattern);
    updateOutput();
}

void MainWindow::updateFormat(int format)
{
    this->format = format;
}

void MainWindow::updateCompression(int compression)
{
    this->compression = compression;
}

void MainWindow::updateVideo(bool video)
{
    this->video = video;
    updateOutput();
}

void MainWindow::updateVideoFrameRate(int videoFrameRate)
{
    this->videoFrameRate = videoFrameRate;
}

void MainWindow::updateOutput()
{
    const int count = destinationImageCount(stackSettings());
    destinationDialog->setDestinationImageCount(count);
    ui->destinationImages->clear();
    for (int i = 0; i < count; ++i)
        ui->destinationImages->addItem(destinationFileName(i));
    const QString film = videoFileName(count);
    if (!film.isEmpty())
        ui->destinationImages->addItem(film);
    ui->destinationImagesCount->setValue(count);
}

void MainWindow::updateOperationStatus(int currentImage, int totalImages, int currentOperation,
                                       int totalOperations)
{
    // A report queued before Cancel (or from a run that has ended) must not bring the busy state back.
    if (runState != RunState::Running)
        return;

    ui->executeButton->setEnabled(false);
    ui->executeButton->setText(languageText(31).arg(QString::number(currentImage + 1),
                                                    QString::number(currentOperation + 1),
                                                    QString::number(totalOperations)));
    ui->cancelButton->setEnabled(true);
    ui->progressBar->setFormat(timeLeft.progressFormat(currentImage, currentOperation));
    if (totalImages == 1)
        ui->progressBar->setValue(currentOperation * 100 / qMax(1, totalOperations));
    else
        ui->progressBar->setValue(currentImage * 100 / qMax(1, totalImages));
}

void MainWindow::finish()
{
    // After Cancel nothing of the cancelled run reaches the user, its completion included.
    if (runState != RunState::Running)
        return;
    runState = RunState::Stopping;
    ui->executeButton->setEnabled(true);
    ui->executeButton->setText(languageText(23));
    ui->cancelButton->setEnabled(false);
    ui->progressBar->setValue(100);
    ui->progressBar->setFormat(QStringLiteral("%p%"));
    previewState->runCompleted();
    if (ui->openDestinationFolder->isChecked())
        openFolder(destinationFolder);
}

void MainWindow::openFolder(const QString &folder)
{
#ifdef Q_OS_WIN
    const QString command = QStringLiteral("\"explorer.exe\" \"%1\"").arg(QDir::toNativeSeparators(folder));
    const QStringList parts = QProcess::splitCommand(command);
    QProcess::startDetached(parts.value(0), parts.mid(1));
#else
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
#endif
}

void MainWindow::execute()
{
    // A second press before the first report of a job just started would queue the same job again.
    if (runState == RunState::Running)
        return;

    if (sourceImages.isEmpty()) {
        showError(languageText(33));
        return;
    }
    const StackSettings settings = stackSettings();
    const int count = destinationImageCount(settings);
    if (count == 0) {
        showError(languageText(34));
        return;
    }

    StackJob job = buildStackJob(sourceImages, settings, destinationFolder, namePattern,
                                 stackMethodIndex, format, compression);
    job.videoFile = videoFileName(count);
    job.videoFrameRate = videoFrameRate;
    if (refuseJob(job))
        return;

    if (runState == RunState::Stopping) {
        // The previous run (cancelled, or ended but not yet returned) still owns the worker; the
        // job starts from runEnded. A newer press replaces an older waiting job.
        pendingJob = job;
        return;
    }
    startJob(job);
}

bool MainWindow::refuseJob(const StackJob &job)
{
    // Found here, a folder that cannot take the results costs the user nothing; found by the worker,
    // it would cost every load before the first save. Paths are shown literally, whatever they hold.
    const QString folder = JobPreflight::unwritableFolder(job);
    if (!folder.isEmpty()) {
        showError(languageText(51).arg(folder.toHtmlEscaped()));
        return true;
    }
    const QString source = JobPreflight::destinationAmongSources(job);
    if (!source.isEmpty()) {
        showError(languageText(52).arg(source.toHtmlEscaped()));
        return true;
    }
    const QString film = JobPreflight::irreplaceableVideo(job);
    if (!film.isEmpty()) {
        showError(languageText(60).arg(film.toHtmlEscaped()));
        return true;
    }
    return false;
}

void MainWindow::startJob(const StackJob &job)
{
    executeThread->setJob(job);
    timeLeft.start(job);
    previewState->runStarted();
    runState = RunState::Running;
    executeThread->start();
}

void MainWindow::runEnded()
{
    // A run that reported progress and then ended without completed() or aborted() leaves nothing
    // running behind a busy Begin button.
    if (runState == RunState::Running)
        resetRunControls(0);
    runState = RunState::Idle;
    // run() has returned; wait() only lets QThread finish its own bookkeeping.
    executeThread->wait();
    if (pendingJob) {
        const StackJob job = *pendingJob;
        pendingJob.reset();
        startJob(job);
    }
}

void MainWindow::cancel()
{
    executeThread->cancel();
    if (runState == RunState::Running)
        runState = RunState::Stopping;
    pendingJob.reset();
    resetRunControls(0);
}

void MainWindow::abort(bool open, const QString &filename)
{
    // After Cancel nothing of the cancelled run reaches the user: a load that was in progress at
    // Cancel and fails afterwards shows no box.
    if (runState != RunState::Running)
        return;
    runState = RunState::Stopping;
    // The path is shown literally, whatever characters it holds.
    showError(languageText(open ? 49 : 50).arg(filename.toHtmlEscaped()));
    // While the box was open the run may have ended and a job pressed for may have started; it is
    // not this run's to cancel.
    if (runState == RunState::Running)
        return;
    executeThread->cancel();
    resetRunControls(0);
}

void MainWindow::resetRunControls(int progress)
{
    ui->executeButton->setEnabled(true);
    ui->executeButton->setText(languageText(23));
    ui->cancelButton->setEnabled(false);
    ui->progressBar->setValue(progress);
    ui->progressBar->setFormat(QStringLiteral("%p%"));
    previewState->runStopped();
}

void MainWindow::showError(const QString &message)
{
    QMessageBox::critical(this, languageText(32), message);
}

void MainWindow::openReadme()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("README.TXT")));
}

void MainWindow::changeLanguage()
{
    setCurrentLanguage(ui->language->currentIndex());
    dialogTranslator->setLanguage(ui->language->currentIndex());

    ui->detailsLabel->setText(languageText(0));
    ui->languageGroupBox->setTitle(languageText(1));
    ui->sourceImagesGroupBox->setTitle(languageText(2));
    ui->sourceImagesButton->setText(languageText(3));
    ui->sourceImagesCountLabel->setText(languageText(4));
    previewState->retranslate();
    ui->conditionGroupBox->setTitle(languageText(6));
    for (int i = 0; i < 5; ++i)
        ui->condition->setItemText(i, languageText(7 + i));
    ui->stackMethodGroupBox->setTitle(languageText(12));
    for (int i = 0; i < 3; ++i)
        ui->stackMethod->setItemText(i, languageText(13 + i));
    ui->fadeMethodGroupBox->setTitle(languageText(16));
    for (int i = 0; i < 4; ++i)
        ui->fadeMethod->setItemText(i, languageText(17 + i));
    ui->destinationImagesGroupBox->setTitle(languageText(21));
    ui->destinationImagesButton->setText(languageText(3));
    ui->destinationImagesCountLabel->setText(languageText(22));
    ui->executeButton->setText(languageText(23));
    ui->cancelButton->setText(languageText(24));
    ui->openDestinationFolder->setText(languageText(25));

    updateCondition();
    updateStackMethod();
    updateFadeMethod();
    destinationDialog->updateLanguage();
}

void MainWindow::setConditionOption1(bool visible, const QString &label)
{
    ui->conditionOption1->setVisible(visible);
    ui->conditionOption1Label->setVisible(visible);
    ui->conditionOption1Label->setText(label);
}

void MainWindow::setConditionOption2(bool visible, const QString &label)
{
    ui->conditionOption2->setVisible(visible);
    ui->conditionOption2Label->setVisible(visible);
    ui->conditionOption2Label->setText(label);
}

void MainWindow::setFadeMethodOption1(bool visible, const QString &label)
{
    ui->fadeMethodOption1->setVisible(visible);
    ui->fadeMethodOption1Label->setVisible(visible);
    ui->fadeMethodOption1Label->setText(label);
}

void MainWindow::setFadeMethodOption2(bool visible, const QString &label)
{
    ui->fadeMethodOption2->setVisible(visible);
    ui->fadeMethodOption2Label->setVisible(visible);
    ui->fadeMethodOption2Label->setText(label);
}

QString MainWindow::destinationFileName(int index) const
{
    return namePattern.fileName(destinationFolder, index);
}

QString MainWindow::videoFileName(int count) const
{
    if (!video || count < 2 || !destinationDialog->video())
        return QString();
    return VideoEncoder::filmPath(destinationFolder, namePattern.withoutNumbers());
}

StackSettings MainWindow::stackSettings() const
{
    StackSettings settings;
    settings.sourceCount = sourceImages.size();
    settings.condition = conditionIndex;
    settings.conditionOption1 = conditionOption1Value;
    settings.conditionOption2 = conditionOption2Value;
    settings.fadeMethod = fadeMethodIndex;
    settings.fadeOption1 = fadeMethodOption1Value;
    settings.fadeOption2 = fadeMethodOption2Value;
    return settings;
}

void MainWindow::fitMinimumSize()
{
    // Each group box keeps the width of its longest texts in either language with all its option
    // rows shown, so that a language switch or a setting never squeezes widgets into each other;
    // the window's smallest size follows from the layouts as before (its height grows with the
    // rows shown, its width with a long progress text).
    const QList<QGroupBox *> boxes = centralWidget()->findChildren<QGroupBox *>();
    const QList<QComboBox *> combos{ui->condition, ui->stackMethod, ui->fadeMethod};
    const int condition = ui->condition->currentIndex();
    const int fade = ui->fadeMethod->currentIndex();
    const int language = ui->language->currentIndex();
    ui->condition->setCurrentIndex(2);
    ui->fadeMethod->setCurrentIndex(3);
    QHash<QGroupBox *, int> widths;
    for (int other : {1 - language, language}) {
        ui->language->setCurrentIndex(other);
        // Makes the combo boxes measure the items they hold now rather than the first ones they saw.
        for (QComboBox *combo : combos)
            combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        for (QGroupBox *box : boxes)
            widths[box] = qMax(widths.value(box), box->minimumSizeHint().width());
    }
    for (QComboBox *combo : combos)
        combo->setSizeAdjustPolicy(QComboBox::AdjustToContentsOnFirstShow);
    ui->condition->setCurrentIndex(condition);
    ui->fadeMethod->setCurrentIndex(fade);
    for (QGroupBox *box : boxes)
        box->setMinimumWidth(widths.value(box));
    // The preview asks for no height of its own and would vanish in the smallest window.
    ui->previewWidget->setMinimumHeight(ui->previewWidget->fontMetrics().height() * 6);
}
