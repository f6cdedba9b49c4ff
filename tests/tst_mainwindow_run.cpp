// The main window running real jobs through the worker and ImageMagick: progress shown during a
// run, completion, a failed load, Cancel followed by Begin, and closing the window mid-run.

#include "destinationdialog.h"
#include "executethread.h"
#include "mainwindow.h"
#include "selectimagesbutton.h"
#include "testtools.h"
#include "windowtesthelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTextDocument>
#include <QtTest>

#include <memory>

namespace {

// What the run controls showed right after one progress report.
struct Shown
{
    QString text;
    int progress;
    bool beginEnabled;
    bool cancelEnabled;
};

// Source k is black with a white pixel at (k, k), so a maximum shows which sources went in.
const int FrameSize = 16;

} // namespace

class TestMainWindowRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void completedJob();
    void progressOfOneImageAndOfSeveral_data();
    void progressOfOneImageAndOfSeveral();
    void missingSourceAborts();
    void cancelThenBeginRunsExactlyOneNewJob();
    void closingDuringRunStopsWorker();

private:
    template <typename T>
    T *child(const char *name) const
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    template <typename T>
    T *dialogChild(const char *name) const
    {
        T *widget = window->findChild<DestinationDialog *>()->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no dialog widget %s", name);
        return widget;
    }
    ExecuteThread *worker() const { return window->findChild<ExecuteThread *>(); }
    QStringList makeFrames(int count);
    void chooseSources(const QStringList &files);
    void setUpJob(const QStringList &sources, int condition, const QString &pattern);
    void watchReports();
    // Waits until the worker's run has returned and the window has handled its end.
    bool waitForRunEnd(int runs, int timeout = 60000);
    bool sameFrame(const QString &path, int lastSource);

    std::unique_ptr<TestTools::ToolSandbox> sandbox;
    MainWindow *window = nullptr;
    QString outFolder;
    QList<Shown> reports;
    std::unique_ptr<QSignalSpy> finishedSpy;
    UrlRecorder opener;
};

void TestMainWindowRun::initTestCase()
{
    // Completion opens the destination folder through the desktop; record it instead.
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "openUrl");
}

void TestMainWindowRun::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void TestMainWindowRun::init()
{
    sandbox.reset(new TestTools::ToolSandbox);
    QVERIFY(sandbox->isValid());
    outFolder = sandbox->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(outFolder));
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    finishedSpy.reset(new QSignalSpy(worker(), &QThread::finished));
    reports.clear();
    opener.urls.clear();
}

void TestMainWindowRun::cleanup()
{
    finishedSpy.reset();
    delete window;
    window = nullptr;
    sandbox.reset();
}

QStringList TestMainWindowRun::makeFrames(int count)
{
    QStringList files;
    for (int k = 0; k < count; ++k) {
        QImage image(FrameSize, FrameSize, QImage::Format_RGB32);
        image.fill(Qt::black);
        image.setPixel(k, k, qRgb(255, 255, 255));
        const QString path = sandbox->filePath(QStringLiteral("frame%1.png").arg(k));
        if (!image.save(path))
            return QStringList();
        files << path;
    }
    return files;
}

void TestMainWindowRun::chooseSources(const QStringList &files)
{
    auto *button = child<SelectImagesButton>("sourceImagesButton");
    emit button->pathChanged(QFileInfo(files.first()).absolutePath());
    emit button->selected(files);
    emit button->inputCountChanged(files.size());
}

void TestMainWindowRun::setUpJob(const QStringList &sources, int condition, const QString &pattern)
{
    chooseSources(sources);
    child<QComboBox>("condition")->setCurrentIndex(condition);
    dialogChild<QComboBox>("fileType")->setCurrentIndex(1);
    dialogChild<QLineEdit>("destinationFolder")->setText(outFolder);
    dialogChild<QLineEdit>("namePattern")->setText(pattern);
}

void TestMainWindowRun::watchReports()
{
    // Queued after the window's own connection, so this sees what the report made of the controls.
    connect(worker(), &ExecuteThread::operationStarted, window, [this] {
        reports << Shown{child<QPushButton>("executeButton")->text(), child<QProgressBar>("progressBar")->value(),
                         child<QPushButton>("executeButton")->isEnabled(),
                         child<QPushButton>("cancelButton")->isEnabled()};
    });
}

bool TestMainWindowRun::waitForRunEnd(int runs, int timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (finishedSpy->count() < runs && timer.elapsed() < timeout)
        QTest::qWait(20);
    // The window handles the run's end queued; let it.
    QTest::qWait(50);
    return finishedSpy->count() >= runs && !worker()->isRunning();
}

// True when the file holds exactly the white pixels of sources 0 to lastSource.
bool TestMainWindowRun::sameFrame(const QString &path, int lastSource)
{
    const QImage image(path);
    if (image.isNull() || image.size() != QSize(FrameSize, FrameSize))
        return false;
    for (int y = 0; y < FrameSize; ++y)
        for (int x = 0; x < FrameSize; ++x) {
            const bool white = x == y && x <= lastSource;
            if (qGray(image.pixel(x, y)) != (white ? 255 : 0))
                return false;
        }
    return true;
}

void TestMainWindowRun::completedJob()
{
    const QStringList sources = makeFrames(6);
    QCOMPARE(sources.size(), 6);
    setUpJob(sources, 1, QStringLiteral("trail***.png"));
    QCOMPARE(child<QListWidget>("destinationImages")->count(), 6);
    QCOMPARE(child<QListWidget>("destinationImages")->item(5)->text(), outFolder + QStringLiteral("/trail005.png"));
    watchReports();

    // A folder chosen during the run is the one opened at the end; the job keeps its own paths.
    const QString laterFolder = sandbox->filePath(QStringLiteral("later"));
    connect(worker(), &ExecuteThread::operationStarted, window, [&](int image) {
        if (image == 2)
            dialogChild<QLineEdit>("destinationFolder")->setText(laterFolder);
    });
    QSignalSpy completed(worker(), &ExecuteThread::completed);
    QSignalSpy aborted(worker(), &ExecuteThread::aborted);

    child<QPushButton>("executeButton")->click();
    QVERIFY(waitForRunEnd(1));
    QCOMPARE(completed.count(), 1);
    QCOMPARE(aborted.count(), 0);

    QCOMPARE(reports.size(), 6);
    const int progress[] = {0, 16, 33, 50, 66, 83};
    for (int i = 0; i < reports.size(); ++i) {
        QCOMPARE(reports.at(i).text, QStringLiteral("Processing image #%1 (operation 1 of 1)...").arg(i + 1));
        QCOMPARE(reports.at(i).progress, progress[i]);
        QVERIFY(!reports.at(i).beginEnabled);
        QVERIFY(reports.at(i).cancelEnabled);
    }

    QCOMPARE(child<QPushButton>("executeButton")->text(), QStringLiteral("Begin"));
    QVERIFY(child<QPushButton>("executeButton")->isEnabled());
    QVERIFY(!child<QPushButton>("cancelButton")->isEnabled());
    QCOMPARE(child<QProgressBar>("progressBar")->value(), 100);
    QCOMPARE(opener.urls, QList<QUrl>({QUrl::fromLocalFile(laterFolder)}));

    for (int i = 0; i < 6; ++i)
        QVERIFY2(sameFrame(outFolder + QStringLiteral("/trail%1.png").arg(i, 3, 10, QLatin1Char('0')), i),
                 qPrintable(QString::number(i)));
    QVERIFY(!QFileInfo::exists(laterFolder));
}

void TestMainWindowRun::progressOfOneImageAndOfSeveral_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("condition");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("progress");

    // One destination image of six operations: the bar follows the operations.
    QStringList one;
    for (int k = 1; k <= 6; ++k)
        one << QStringLiteral("Processing image #1 (operation %1 of 6)...").arg(k);
    QTest::newRow("all images") << 0 << 0 << one << QList<int>({0, 16, 33, 50, 66, 83});

    // Three groups of four, each rebuilt under "Lighten only": the bar follows the images.
    QStringList groups;
    for (int image = 1; image <= 3; ++image)
        for (int k = 1; k <= 4; ++k)
            groups << QStringLiteral("Przetwarzanie obrazu nr %1 (operacja %2 z 4)...").arg(image).arg(k);
    QTest::newRow("groups, Polish") << 1 << 2 << groups
                                    << QList<int>({0, 0, 0, 0, 33, 33, 33, 33, 66, 66, 66, 66});
}

void TestMainWindowRun::progressOfOneImageAndOfSeveral()
{
    QFETCH(int, language);
    QFETCH(int, condition);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, progress);

    child<QComboBox>("language")->setCurrentIndex(language);
    setUpJob(makeFrames(6), condition, QStringLiteral("out**.png"));
    child<QSpinBox>("conditionOption1")->setValue(4);
    child<QCheckBox>("openDestinationFolder")->setChecked(false);
    watchReports();

    child<QPushButton>("executeButton")->click();
    QVERIFY(waitForRunEnd(1));

    QStringList shownTexts;
    QList<int> shownProgress;
    for (const Shown &shown : qAsConst(reports)) {
        shownTexts << shown.text;
        shownProgress << shown.progress;
    }
    QCOMPARE(shownTexts, texts);
    QCOMPARE(shownProgress, progress);
    QCOMPARE(child<QProgressBar>("progressBar")->value(), 100);
    QCOMPARE(child<QPushButton>("executeButton")->text(), language == 0 ? QStringLiteral("Begin")
                                                                        : QStringLiteral("Rozpocznij"));
    QVERIFY(opener.urls.isEmpty());
}

void TestMainWindowRun::missingSourceAborts()
{
    QStringList sources = makeFrames(3);
    const QString missing = sandbox->filePath(QStringLiteral("gone & <1>.png"));
    sources[1] = missing;
    setUpJob(sources, 1, QStringLiteral("trail***.png"));
    QSignalSpy completed(worker(), &ExecuteThread::completed);
    QSignalSpy aborted(worker(), &ExecuteThread::aborted);

    BoxCatcher catcher;
    catcher.maxTries = 3000;
    catcher.arm();
    child<QPushButton>("executeButton")->click();
    QVERIFY(waitForRunEnd(1));
    QTRY_COMPARE(catcher.boxesSeen, 1);

    QCOMPARE(catcher.title, QStringLiteral("Error"));
    const QString escaped = missing.toHtmlEscaped();
    QCOMPARE(catcher.text, QStringLiteral("Error opening image:<br><b>%1</b><br><br>Check if the file exists.<br>"
                                          "Check your permissions.").arg(escaped));
    QVERIFY(Qt::mightBeRichText(catcher.text));
    QCOMPARE(aborted.count(), 1);
    QCOMPARE(completed.count(), 0);

    QVERIFY(child<QPushButton>("executeButton")->isEnabled());
    QCOMPARE(child<QPushButton>("executeButton")->text(), QStringLiteral("Begin"));
    QVERIFY(!child<QPushButton>("cancelButton")->isEnabled());
    QCOMPARE(child<QProgressBar>("progressBar")->value(), 0);
    QVERIFY(sameFrame(outFolder + QStringLiteral("/trail000.png"), 0));
    QVERIFY(!QFileInfo::exists(outFolder + QStringLiteral("/trail001.png")));
    QVERIFY(opener.urls.isEmpty());
}

void TestMainWindowRun::cancelThenBeginRunsExactlyOneNewJob()
{
    // Slow loads, so that the worker is still busy when Begin follows Cancel.
    QVERIFY(sandbox->addTool(QStringLiteral("convert"),
                             QStringLiteral("sleep 1\nexec %1 \"$@\"").arg(TestTools::shellQuote(sandbox->realConvert()))));
    QVERIFY(sandbox->addForwardingTool(QStringLiteral("identify")));
    setUpJob(makeFrames(4), 1, QStringLiteral("trail***.png"));
    child<QCheckBox>("openDestinationFolder")->setChecked(false);
    QSignalSpy started(worker(), &QThread::started);
    QSignalSpy completed(worker(), &ExecuteThread::completed);
    auto *begin = child<QPushButton>("executeButton");
    auto *cancel = child<QPushButton>("cancelButton");

    // A double press before the first report starts one run only.
    begin->click();
    begin->click();
    QTRY_VERIFY_WITH_TIMEOUT(!begin->isEnabled(), 20000);
    QCOMPARE(started.count(), 1);

    cancel->click();
    QVERIFY(begin->isEnabled());
    QCOMPARE(begin->text(), QStringLiteral("Begin"));
    QVERIFY(!cancel->isEnabled());
    QCOMPARE(child<QProgressBar>("progressBar")->value(), 0);

    // A report the worker sent before it saw the cancel changes nothing.
    emit worker()->operationStarted(1, 4, 0, 1);
    QVERIFY(begin->isEnabled());
    QCOMPARE(begin->text(), QStringLiteral("Begin"));
    QVERIFY(!cancel->isEnabled());
    QCOMPARE(child<QProgressBar>("progressBar")->value(), 0);

    // Begin at once, while the cancelled run is still loading.
    QVERIFY(worker()->isRunning());
    watchReports();
    begin->click();
    QVERIFY(worker()->isRunning());
    QVERIFY(waitForRunEnd(2));
    QTest::qWait(300);
    QCOMPARE(started.count(), 2);
    QCOMPARE(finishedSpy->count(), 2);
    QCOMPARE(completed.count(), 1);
    QVERIFY(!worker()->isRunning());

    // The new job ran from its first image to its last.
    QCOMPARE(reports.size(), 4);
    QCOMPARE(reports.first().text, QStringLiteral("Processing image #1 (operation 1 of 1)..."));
    QCOMPARE(reports.last().text, QStringLiteral("Processing image #4 (operation 1 of 1)..."));
    QCOMPARE(child<QProgressBar>("progressBar")->value(), 100);
    for (int i = 0; i < 4; ++i)
        QVERIFY(sameFrame(outFolder + QStringLiteral("/trail%1.png").arg(i, 3, 10, QLatin1Char('0')), i));
}

void TestMainWindowRun::closingDuringRunStopsWorker()
{
    // A load that would take half a minute; the stand-in records its process id.
    const QString pids = sandbox->filePath(QStringLiteral("pids"));
    QVERIFY(sandbox->addTool(QStringLiteral("convert"),
                             QStringLiteral("echo $$ >> %1\nexec sleep 30").arg(TestTools::shellQuote(pids))));
    QVERIFY(sandbox->addForwardingTool(QStringLiteral("identify")));
    setUpJob(makeFrames(3), 0, QStringLiteral("trail***.png"));
    QSignalSpy completed(worker(), &ExecuteThread::completed);
    QSignalSpy aborted(worker(), &ExecuteThread::aborted);

    for (int round = 0; round < 2; ++round) {
        child<QPushButton>("executeButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!TestTools::readFile(pids).trimmed().isEmpty(), 20000);
        const QByteArray pid = TestTools::readFile(pids).trimmed();
        QVERIFY(QFileInfo::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)));

        if (round == 0) {
            // Closing the window ends the tool run and the worker before it returns.
            QVERIFY(window->close());
            QVERIFY(!window->isVisible());
            QVERIFY(!worker()->isRunning());
            QVERIFY(!QFileInfo::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)));
            QTest::qWait(100);
            QCOMPARE(completed.count(), 0);
            QCOMPARE(aborted.count(), 0);
            // The window can be shown and used again; it comes back idle.
            window->show();
            QVERIFY(child<QPushButton>("executeButton")->isEnabled());
            QCOMPARE(child<QPushButton>("executeButton")->text(), QStringLiteral("Begin"));
            QVERIFY(!child<QPushButton>("cancelButton")->isEnabled());
            QCOMPARE(child<QProgressBar>("progressBar")->value(), 0);
            QVERIFY(TestTools::writeFile(pids, QByteArray()));
        } else {
            // Destroying the window mid-run, without a close, is just as safe.
            delete window;
            window = nullptr;
            QVERIFY(!QFileInfo::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)));
        }
    }
    QVERIFY(!QFileInfo::exists(outFolder + QStringLiteral("/trail000.png")));
}

QTEST_MAIN(TestMainWindowRun)
#include "tst_mainwindow_run.moc"
