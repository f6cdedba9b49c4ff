// The main window running real jobs through the worker and ImageMagick: progress shown during a
// run, completion, a failed load, Cancel followed by Begin, and closing the window mid-run.

#include "executethread.h"
#include "mainwindow.h"
#include "testtools.h"
#include "windowtesthelpers.h"

#include <QtTest>

#include <memory>

static const char Idle[] = "Begin|1|0|0";

class TestMainWindowRun : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestTools::ToolSandbox> sandbox;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QSignalSpy> finished;
    QStringList reports;
    QList<QUrl> opened;

    ExecuteThread *worker() const { return window->findChild<ExecuteThread *>(); }
    QPushButton *button(const char *name) const { return child<QPushButton>(window.get(), name); }
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
    bool sameFrame(int i, int mask) const { return QImage(output(i)).convertToFormat(QImage::Format_RGB32) == frame(mask); }
    // Sources in the sandbox, written as PNG files to "out" under the default name pattern.
    QStringList setUpJob(int frames, int condition, bool openFolder)
    {
        QStringList files;
        for (int k = 0; k < frames; ++k) {
            files << sandbox->filePath(QStringLiteral("frame%1.png").arg(k));
            frame(1 << k).save(files.last());
        }
        chooseSources(window.get(), sandbox->path(), files);
        child<QComboBox>(window.get(), "condition")->setCurrentIndex(condition);
        child<QComboBox>(window.get(), "fileType")->setCurrentIndex(1);
        child<QLineEdit>(window.get(), "destinationFolder")->setText(sandbox->filePath(QStringLiteral("out")));
        child<QCheckBox>(window.get(), "openDestinationFolder")->setChecked(openFolder);
        return files;
    }
    // Records the controls after each report: queued behind the window's own connection.
    void watchReports()
    {
        connect(worker(), &ExecuteThread::operationStarted, window.get(), [this] { reports << controls(window.get()); });
    }
    // Waits until the worker's run has returned and the window has handled its end (queued).
    bool waitForRunEnd(int runs)
    {
        const bool ended = QTest::qWaitFor([&] { return finished->count() >= runs; }, 60000);
        QTest::qWait(50);
        return ended && finished->count() == runs && !worker()->isRunning();
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
        window.reset(new MainWindow);
        window->show();
        finished.reset(new QSignalSpy(worker(), &QThread::finished));
        reports.clear();
        opened.clear();
    }

    void fullJob_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("condition");
        QTest::addColumn<bool>("openFolder");
        QTest::addColumn<QStringList>("expected"); // the controls after each report
        QTest::addColumn<QList<int>>("outputs");   // the sources in each output, as bits
        const int sixths[] = {0, 16, 33, 50, 66, 83};
        QStringList previous, one, groups;
        for (int k = 0; k < 6; ++k) {
            previous << QStringLiteral("Processing image #%1 (operation 1 of 1)...|0|1|%2").arg(k + 1).arg(sixths[k]);
            one << QStringLiteral("Processing image #1 (operation %1 of 6)...|0|1|%2").arg(k + 1).arg(sixths[k]);
        }
        for (int image = 0; image < 3; ++image) // each group of 4 rebuilt under "Lighten only"
            for (int k = 1; k <= 4; ++k)
                groups << QStringLiteral("Przetwarzanie obrazu nr %1 (operacja %2 z 4)...|0|1|%3")
                              .arg(image + 1).arg(k).arg(image * 33);
        QTest::newRow("all previous images") << 0 << 1 << true << previous << QList<int>{1, 3, 7, 15, 31, 63};
        QTest::newRow("one image: the bar follows operations") << 0 << 0 << false << one << QList<int>{63};
        QTest::newRow("groups, Polish") << 1 << 2 << false << groups << QList<int>{0x0f, 0x1e, 0x3c};
    }

    void fullJob()
    {
        QFETCH(int, language);
        QFETCH(int, condition);
        QFETCH(bool, openFolder);
        QFETCH(QStringList, expected);
        QFETCH(QList<int>, outputs);
        child<QComboBox>(window.get(), "language")->setCurrentIndex(language);
        setUpJob(6, condition, openFolder);
        child<QSpinBox>(window.get(), "conditionOption1")->setValue(4);
        watchReports();
        // A folder chosen during the run is the one opened at the end; the job keeps its own paths.
        const QString later = sandbox->filePath(QStringLiteral("later"));
        connect(worker(), &ExecuteThread::operationStarted, window.get(), [&](int image) {
            if (image == 2)
                child<QLineEdit>(window.get(), "destinationFolder")->setText(later);
        });
        // A second press before the first report, with another name pattern, hands the worker nothing.
        button("executeButton")->click();
        child<QLineEdit>(window.get(), "namePattern")->setText("second****.png");
        button("executeButton")->click();
        QVERIFY(waitForRunEnd(1));
        QCOMPARE(reports, expected);
        QCOMPARE(controls(window.get()), QStringLiteral("%1|1|0|100").arg(language ? "Rozpocznij" : "Begin"));
        QCOMPARE(opened, openFolder ? QList<QUrl>{QUrl::fromLocalFile(later)} : QList<QUrl>());
        for (int i = 0; i < outputs.size(); ++i)
            QVERIFY2(sameFrame(i, outputs[i]), qPrintable(output(i)));
        QVERIFY(!QFileInfo::exists(output(outputs.size())) && !QFileInfo::exists(later));
    }

    void missingSourceAborts()
    {
        QStringList sources = setUpJob(3, 1, true);
        const QString missing = sandbox->filePath(QStringLiteral("gone & <1>.png"));
        chooseSources(window.get(), QString(), {sources[0], missing, sources[2]}, false);
        // The failed run ends while its box is open; a job started then is not that run's to cancel.
        BoxCatcher catcher([&] {
            QVERIFY(QTest::qWaitFor([&] { return finished->count() == 1; }, 60000));
            QVERIFY(sameFrame(0, 1) && !QFileInfo::exists(output(1)) && opened.isEmpty());
            chooseSources(window.get(), QString(), sources, false);
            QMetaObject::invokeMethod(window.get(), "execute"); // Begin itself is still disabled
        });
        button("executeButton")->click();
        QVERIFY(waitForRunEnd(2));
        QCOMPARE(catcher.seen, QStringList(QStringLiteral("Error|Error opening image:<br><b>%1</b><br><br>Check if the "
                                                          "file exists.<br>Check your permissions.|1")
                                               .arg(missing.toHtmlEscaped())));
        QCOMPARE(controls(window.get()), QStringLiteral("Begin|1|0|100"));
        QVERIFY(sameFrame(1, 3) && sameFrame(2, 7) && opened.size() == 1);
    }

    void cancelThenBeginRunsExactlyOneNewJob()
    {
        // Slow loads, so that the worker is still busy when Begin follows Cancel; the first load
        // takes the marker and fails after the Cancel.
        const QString fail = sandbox->filePath(QStringLiteral("fail"));
        QVERIFY(sandbox->addForwardingTool("identify") && TestTools::writeFile(fail, QByteArray())
                && sandbox->addForwardingTool(
                    "convert", QStringLiteral("sleep 1\nif [ -e %1 ]; then rm %1; exit 1; fi").arg(TestTools::shellQuote(fail))));
        setUpJob(4, 1, false);
        QSignalSpy started(worker(), &QThread::started), completed(worker(), &ExecuteThread::completed),
            aborted(worker(), &ExecuteThread::aborted);
        BoxCatcher catcher;
        // A double press before the first report starts one run only.
        button("executeButton")->click();
        button("executeButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!button("executeButton")->isEnabled(), 20000);
        QCOMPARE(started.count(), 1);
        button("cancelButton")->click();
        QCOMPARE(controls(window.get()), QString(Idle));
        // A report the worker sent before it saw the cancel changes nothing.
        emit worker()->operationStarted(1, 4, 0, 1);
        QCOMPARE(controls(window.get()), QString(Idle));
        // Begin at once, while the cancelled run still loads: the new job runs once, first image to last.
        QVERIFY(worker()->isRunning());
        watchReports();
        button("executeButton")->click();
        QVERIFY(waitForRunEnd(2));
        QTest::qWait(300);
        // Runs started, runs ended, jobs failed and completed; the failure after Cancel shows no box.
        QCOMPARE(QString("%1 %2 %3 %4").arg(started.count()).arg(finished->count()).arg(aborted.count()).arg(completed.count()),
                 "2 2 1 1");
        QCOMPARE(catcher.seen, QStringList());
        QCOMPARE(reports.size(), 4);
        QVERIFY(reports.first().startsWith("Processing image #1 ") && reports.last().startsWith("Processing image #4 "));
        QCOMPARE(controls(window.get()), QStringLiteral("Begin|1|0|100"));
        QVERIFY(sameFrame(0, 1) && sameFrame(1, 3) && sameFrame(2, 7) && sameFrame(3, 15));
    }

    void closingDuringRunStopsWorker()
    {
        // A load that would take half a minute; the stand-in records its process id.
        const QString pids = sandbox->filePath(QStringLiteral("pids"));
        QVERIFY(sandbox->addForwardingTool("identify") && sandbox->addForwardingTool(
                    "convert", QStringLiteral("echo $$ >> %1\nexec sleep 30").arg(TestTools::shellQuote(pids))));
        setUpJob(3, 0, true);
        QSignalSpy ended(worker(), &ExecuteThread::completed), aborted(worker(), &ExecuteThread::aborted);
        for (int round = 0; round < 2; ++round) {
            QVERIFY(TestTools::writeFile(pids, QByteArray()));
            button("executeButton")->click();
            QTRY_VERIFY_WITH_TIMEOUT(!TestTools::readFile(pids).trimmed().isEmpty(), 20000);
            const QString tool = QStringLiteral("/proc/") + QString::fromLatin1(TestTools::readFile(pids).trimmed());
            QVERIFY(QFileInfo::exists(tool));
            if (round == 0) {
                // Closing ends the tool run and the worker before it returns; shown again, the window is idle.
                QVERIFY(window->close());
                QVERIFY(!worker()->isRunning() && !QFileInfo::exists(tool));
                QTest::qWait(100);
                QCOMPARE(ended.count() + aborted.count(), 0);
                window->show();
                QCOMPARE(controls(window.get()), QString(Idle));
            } else {
                window.reset(); // destroying the window mid-run, without a close, is just as safe
                QVERIFY(!QFileInfo::exists(tool));
            }
        }
        QVERIFY(!QFileInfo::exists(output(0)));
    }
};

QTEST_MAIN(TestMainWindowRun)
#include "tst_mainwindow_run.moc"
