// The main window running real jobs through the worker and ImageMagick: progress shown during a
// run, completion, a failed load, Cancel followed by Begin, and closing the window mid-run.

#include "testtools.h"
#include "windowtesthelpers.h"

#include <QtTest>

static const char Idle[] = "Begin|1|0|0";

// Each full job: 6 sources, 4 images per group where groups are asked for; the report format, the
// images, operations per image and the sources in each output, as bits.
static const struct {
    int language, condition; bool openFolder; const char *report; int images, operations; QList<int> outputs;
} jobs[] = {
    {0, 0, true, "Processing image #%1 (operation %2 of %3)...|0|1|%4", 1, 6, {63}},
    {1, 2, false, "Przetwarzanie obrazu nr %1 (operacja %2 z %3)...|0|1|%4", 3, 4, {0x0f, 0x1e, 0x3c}}};

class TestMainWindowRun : public QObject, WindowFixture
{
    Q_OBJECT

    std::unique_ptr<TestTools::ToolSandbox> sandbox;
    std::unique_ptr<QSignalSpy> finished;
    QStringList reports;
    QList<QUrl> opened;

    QString output(int i) const { return sandbox->filePath(QStringLiteral("out/output%1.png").arg(i, 4, 10, QChar('0'))); }
    // Black, with a white pixel at (k, k) for each bit k of mask: source k has bit k, so the
    // maximum of the sources shows which went in.
    static QImage frame(int mask)
    {
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(Qt::black);
        for (int k = 0; k < 16; ++k)
            image.setPixel(k, k, (mask >> k) & 1 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        return image;
    }
    bool sameFrames(const QList<int> &masks) const
    {
        for (int i = 0; i < masks.size(); ++i)
            if (QImage(output(i)).convertToFormat(QImage::Format_RGB32) != frame(masks[i]))
                return false;
        return !QFileInfo::exists(output(masks.size()));
    }
    // Sources in the sandbox, written as PNG files to "out" under the default name pattern; the
    // controls are recorded after each report, queued behind the window's own connection. A
    // `convert` stand-in given runs before the real one.
    QStringList setUpJob(int frames, int condition, bool openFolder, const QString &convert = QString())
    {
        if (!convert.isEmpty() && !(sandbox->addForwardingTool("identify") && sandbox->addForwardingTool("convert", convert)))
            qFatal("cannot place the stand-in tools");
        QStringList files;
        for (int k = 0; k < frames; ++k) {
            files << sandbox->filePath(QStringLiteral("frame%1.png").arg(k));
            frame(1 << k).save(files.last());
        }
        chooseSources(sandbox->path(), files);
        get("condition")->setCurrentIndex(condition);
        get("fileType")->setCurrentIndex(1);
        get<QLineEdit>("destinationFolder")->setText(sandbox->filePath(QStringLiteral("out")));
        get<QCheckBox>("openDestinationFolder")->setChecked(openFolder);
        connect(worker(), &ExecuteThread::operationStarted, window.get(), [this] { reports << controls(); });
        return files;
    }
    // Waits until the worker's run has returned and the window has handled its end (queued).
    bool waitForRunEnd(int runs)
    {
        const bool ended = QTest::qWaitFor([&] { return finished->count() >= runs; }, 60000);
        QTest::qWait(50);
        return ended && finished->count() == runs && !worker()->isRunning();
    }
    // Begin, then Cancel once the run is under way.
    void beginThenCancel()
    {
        click();
        QTRY_VERIFY_WITH_TIMEOUT(!get<QPushButton>("executeButton")->isEnabled(), 20000);
        click("cancelButton");
    }

public slots:
    // Completion opens the destination folder through the desktop; the test records it instead.
    void openUrl(const QUrl &url) { opened << url; }

private slots:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl"); }
    void init()
    {
        window.reset();
        sandbox.reset(); // first, as it gives back the working folder it took
        sandbox.reset(new TestTools::ToolSandbox);
        QVERIFY(sandbox->isValid() && QDir().mkpath(QStringLiteral("out")));
        newWindow();
        finished.reset(new QSignalSpy(worker(), &QThread::finished));
        reports.clear(), opened.clear();
    }

    void fullJob_data()
    {
        QTest::addColumn<int>("job");
        QTest::newRow("one image: the bar follows operations") << 0;
        QTest::newRow("groups, Polish") << 1;
    }

    void fullJob()
    {
        QFETCH(int, job);
        const auto &c = jobs[job];
        get("language")->setCurrentIndex(c.language);
        setUpJob(6, c.condition, c.openFolder);
        get<QSpinBox>("conditionOption1")->setValue(4);
        // A folder chosen during the run is the one opened at the end; the job keeps its own paths.
        const QString later = sandbox->filePath(QStringLiteral("later"));
        connect(worker(), &ExecuteThread::operationStarted, window.get(), [&] {
            if (reports.size() == 3)
                get<QLineEdit>("destinationFolder")->setText(later);
        });
        // A second press before the first report, with another name pattern, hands the worker nothing.
        click();
        get<QLineEdit>("namePattern")->setText("second****.png");
        click();
        QVERIFY(waitForRunEnd(1));
        QStringList expected; // a one-image bar moves with the operations, otherwise with the images
        for (int image = 0; image < c.images; ++image)
            for (int op = 0; op < c.operations; ++op)
                expected << QString(c.report).arg(image + 1).arg(op + 1).arg(c.operations)
                                .arg(c.images == 1 ? op * 100 / c.operations : image * 100 / c.images);
        QCOMPARE(reports, expected);
        QCOMPARE(controls(), QStringLiteral("%1|1|0|100").arg(c.language ? "Rozpocznij" : "Begin"));
        QCOMPARE(opened, c.openFolder ? QList<QUrl>{QUrl::fromLocalFile(later)} : QList<QUrl>());
        QVERIFY(sameFrames(c.outputs) && !QFileInfo::exists(later));
    }

    void missingSourceAborts()
    {
        // Slow loads, so that a job started while a box is open is still running when it closes.
        QStringList sources = setUpJob(3, 1, true, "sleep 0.3");
        const QString missing = sandbox->filePath(QStringLiteral("gone & <1>.png"));
        chooseSources(QString(), {sources[0], missing, sources[2]}, false);
        // While the second box is open the failed run ends and a job starts and reports: it is not
        // that run's to cancel.
        BoxCatcher catcher([&] {
            if (catcher.seen.size() < 2)
                return;
            QVERIFY(QTest::qWaitFor([&] { return finished->count() == 2; }, 60000));
            chooseSources(QString(), sources, false);
            const int before = reports.size();
            QMetaObject::invokeMethod(window.get(), "execute"); // Begin itself is still disabled
            QVERIFY(QTest::qWaitFor([&] { return reports.size() > before; }, 60000));
        });
        const QString box = QStringLiteral("Error|Error opening image:<br><b>%1</b><br><br>Check if the file exists.<br>"
                                           "Check your permissions.|1").arg(missing.toHtmlEscaped());
        click();
        QVERIFY(waitForRunEnd(1));
        QTRY_COMPARE(catcher.seen, QStringList(box));
        QVERIFY2(controls() == Idle && sameFrames({1}) && opened.isEmpty(), qPrintable(controls()));
        click();
        QVERIFY(waitForRunEnd(3));
        QCOMPARE(catcher.seen, QStringList({box, box}));
        QCOMPARE(controls(), QStringLiteral("Begin|1|0|100"));
        QVERIFY(sameFrames({1, 3, 7}) && opened.size() == 1);
    }

    void cancelThenBeginRunsExactlyOneNewJob()
    {
        // Slow loads, so that the worker is still busy when Begin follows Cancel; while the marker
        // exists, the first frame's load (not one running ahead of it) takes it and fails.
        const QString fail = sandbox->filePath(QStringLiteral("fail"));
        setUpJob(4, 1, false, QStringLiteral("sleep 1\ncase \"$1\" in *frame0.png) if [ -e %1 ]; then rm %1; exit 1; fi;; esac")
                                  .arg(TestTools::shellQuote(fail)));
        QSignalSpy started(worker(), &QThread::started), completed(worker(), &ExecuteThread::completed),
            aborted(worker(), &ExecuteThread::aborted);
        BoxCatcher catcher;
        // A double press before the first report starts one run only.
        click();
        beginThenCancel();
        QCOMPARE(started.count(), 1);
        // A report the worker sent before it saw the cancel changes nothing.
        emit worker()->operationStarted(1, 4, 0, 1);
        QCOMPARE(controls(), QString(Idle));
        // Begin at once, while the cancelled run still loads: the new job runs once, first image to last.
        QVERIFY(worker()->isRunning());
        reports.clear();
        click();
        QVERIFY(waitForRunEnd(2));
        QTest::qWait(300);
        QCOMPARE(QString("%1 %2 %3").arg(started.count()).arg(finished->count()).arg(completed.count()), "2 2 1");
        QVERIFY(reports.size() == 4 && reports.first().startsWith("Processing image #1 ") && reports.last().startsWith("Processing image #4 "));
        QCOMPARE(controls(), QStringLiteral("Begin|1|0|100"));
        QVERIFY(sameFrames({1, 3, 7, 15}));
        // The load in progress at Cancel fails afterwards: nothing of the cancelled run reaches the user.
        QVERIFY(TestTools::writeFile(fail, QByteArray()));
        beginThenCancel();
        QVERIFY(waitForRunEnd(3));
        QTest::qWait(100);
        QVERIFY(aborted.count() == 1 && catcher.seen.isEmpty() && !QFileInfo::exists(fail) && controls() == Idle);
    }

    // Closing ends the tool run and the worker before it returns, and shown again the window is idle;
    // destroying the window mid-run, without a close, is just as safe.
    void closingDuringRunStopsWorker()
    {
        const QString pids = sandbox->filePath(QStringLiteral("pids")); // the stand-in's process ids
        setUpJob(3, 0, true, QStringLiteral("echo $$ >> %1\nexec sleep 30").arg(TestTools::shellQuote(pids)));
        QSignalSpy ended(worker(), &ExecuteThread::completed), aborted(worker(), &ExecuteThread::aborted);
        for (bool destroy : {false, true}) {
            QVERIFY(TestTools::writeFile(pids, QByteArray()));
            click();
            QTRY_VERIFY_WITH_TIMEOUT(!TestTools::readFile(pids).trimmed().isEmpty(), 20000);
            // The first load's tool; the next one may already run ahead of it.
            const QString tool = QStringLiteral("/proc/") + QString::fromLatin1(TestTools::readFile(pids).split('\n').first());
            QVERIFY(QFileInfo::exists(tool));
            if (destroy) {
                window.reset();
                QVERIFY(!QFileInfo::exists(tool));
                break;
            }
            QVERIFY(window->close() && !worker()->isRunning() && !QFileInfo::exists(tool));
            QTest::qWait(100);
            window->show();
            QVERIFY(ended.count() + aborted.count() == 0 && controls() == Idle);
        }
        QVERIFY(!QFileInfo::exists(output(0)));
    }
};

QTEST_MAIN(TestMainWindowRun)
#include "tst_mainwindow_run.moc"
