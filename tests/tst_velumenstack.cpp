#include "executethread.h"
#include "stackjob.h"
#include "testtools.h"

#include <QtTest>

#include <csignal>

using TestTools::readFile;

class TestVelumenStack : public QObject
{
    Q_OBJECT

    QScopedPointer<TestTools::ToolSandbox> sandbox;
    QStringList sources;
    QString out, err; // what the last run printed

    QString path(const QString &name) const { return sandbox->filePath(name); }
    static QString counted(int n, const QString &noun) { return QString("%1 %2%3").arg(n).arg(noun, n == 1 ? "" : "s"); }
    // Every entry of a folder, hidden ones too: a leftover temporary file shows here.
    static QStringList entries(const QString &folder) { return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }

    // Runs the real executable in the sandbox folder, so that ./tools is looked at; returns its exit status.
    // A signal goes in once a stand-in tool has written its process id.
    int stack(const QStringList &arguments, const QByteArray &input = {}, int signalNumber = 0)
    {
        QProcess process;
        process.start(VELUMEN_STACK, arguments);
        process.write(input);
        process.closeWriteChannel();
        if (signalNumber && QTest::qWaitFor([&] { return !readFile(path("tool.pid")).isEmpty(); }, 30000))
            ::kill(process.processId(), signalNumber);
        // A stand-in tool stopped by a signal would otherwise end only at the tools' 30 s time limit.
        const bool ended = process.waitForFinished(signalNumber ? 15000 : 120000)
            && process.exitStatus() == QProcess::NormalExit;
        out = process.readAllStandardOutput();
        err = process.readAllStandardError();
        return ended ? process.exitCode() : -1;
    }

private slots:
    // No display at all. Sources in a folder whose natural order is not the order of the names'
    // characters, beside what a folder's sources leave out: other files and subfolders.
    void initTestCase()
    {
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            qunsetenv(name);
        sandbox.reset(new TestTools::ToolSandbox);
        QVERIFY(sandbox->isValid() && QDir(path("night")).mkpath("later"));
        for (const char *name : {"frame1.jpg", "frame2.png", "Frame3.TIF", "frame9.jpeg", "frame10.png",
                                 "frame11.tiff", "later/frame0.jpg", "notes.txt"}) {
            sources << path(QString("night/") + name);
            QVERIFY(sandbox->convert({"-size", "40x30", "-seed", QString::number(sources.size()), "plasma:",
                                      sources.last()}));
        }
        sources = sources.mid(0, 6);
        QVERIFY(TestTools::writeFile(path("list.txt"), sources.join('\n').toUtf8()));
    }

    void sameFilesAsTheWorker_data()
    {
        QTest::addColumn<QString>("row");
        // The arguments, then the window's values: condition, option 1, option 2, fade, p1, p2, method, format,
        // quality, pattern. Sources from the folder, unless the arguments name a list (standard input gets one
        // with "\r\n").
        QTest::newRow("all") << "-m darken --fade in-out --fade-in 20 --fade-out 60 -f png | 0 1 1 3 20 60 1 1 92 output****.png";
        QTest::newRow("previous") << "-c previous --fade in --fade-in 40 --quality 40 --from - | 1 1 1 1 40 50 0 0 40 output****.jpg";
        QTest::newRow("groups") << "--from list.txt -c groups -g 4 --fade out --fade-out 30 -p g**.tif | 2 4 1 2 30 50 0 2 92 g**.tif";
        QTest::newRow("loop, mean") << "--condition=loop -g 4 -s 2 -m mean -f tiff16 -p l_***_*.tif | 3 4 2 0 50 50 2 3 92 l_***_*.tif";
        QTest::newRow("disjoint, mean") << "-c disjoint -n 3 -g 5 -m mean -p m*.PNG | 4 3 1 0 50 50 2 1 92 m*.PNG";
    }

    // The dry run lists the plan with the worker's own load counts, and the run writes the worker's bytes.
    void sameFilesAsTheWorker()
    {
        QFETCH(QString, row);
        const QString arguments = row.section(" | ", 0, 0), values = row.section(" | ", 1);
        const QStringList options = (arguments + (arguments.contains("--from") ? "" : " night")).split(' ');
        const QByteArray list = sources.join("\r\n").toUtf8() + "\n\n";
        QTemporaryDir direct, viaStack;
        auto v = [&](int k) { return values.section(' ', k, k).toInt(); };
        const StackJob job = buildStackJob(sources, {int(sources.size()), v(0), v(1), v(2), v(3), v(4), v(5)},
                                           direct.path(), NamePattern(values.section(' ', 9)), v(6), v(7), v(8));
        const int images = job.destinationImages.size();
        ExecuteThread thread;
        QVector<int> loads(images);
        QObject::connect(&thread, &ExecuteThread::operationStarted,
                         [&](int image, int, int, int total) { loads[image] = total; });
        QSignalSpy completed(&thread, &ExecuteThread::completed);
        thread.setJob(job);
        thread.start();
        QVERIFY(thread.wait(120000) && completed.size() == 1);

        QStringList plan{counted(images, "destination image")};
        for (int i = 0; i < images; ++i) {
            QList<QPair<int, double>> pairs = job.stackPlan[i].values();
            std::sort(pairs.begin(), pairs.end());
            plan << path("night/" + QFileInfo(job.destinationImages[i]).fileName()) + '\t' + counted(loads[i], "load");
            for (const auto &pair : pairs)
                plan.last() += QString("\t%1 (%2)").arg(sources[pair.first]).arg(pair.second, 0, 'g', 6);
        }
        plan << counted(std::accumulate(loads.cbegin(), loads.cend(), 0), "load") + " in all" << QString();
        QVERIFY2(stack(options + QStringList{"--dry-run"}, list) == 0, qPrintable(err));
        QCOMPARE(out.split('\n'), plan);
        QCOMPARE(entries(path("night")).size(), 8);

        // No progress lines off a terminal.
        QVERIFY2(stack(options + QStringList{"-o", viaStack.path()}, list) == 0 && err.isEmpty(), qPrintable(err));
        QCOMPARE(out, counted(images, "image") + " written to " + viaStack.path() + '\n');
        QCOMPARE(entries(viaStack.path()), entries(direct.path()));
        for (const QString &name : entries(direct.path()))
            QVERIFY2(readFile(direct.filePath(name)) == readFile(viaStack.filePath(name)), qPrintable(name));
    }

    // Usage errors (2) name what is wrong and write nothing; failures (1) name the file and keep the
    // images written before them.
    void refusalsAndFailures()
    {
        QTemporaryDir folder;
        const QByteArray original = readFile(sources[0]);
        QVERIFY(TestTools::writeFile(path("broken.gif"), "not an image") && QDir(folder.path()).mkpath("output0002.jpg"));
        // What the message must show, then the arguments.
        const QStringList usage{"'x' -x night", "bogus -c bogus night", "'0' -g 0 night", "101 --quality 101 night",
                                "fade-in --fade-in x night", "gif -f gif night", "mean -m mean --fade in night",
                                "quality night --quality", "destination -c groups -g 7 night",
                                "nothere.txt --from nothere.txt", "source", "source ."};
        const QStringList rows = usage + QStringList{
            "nothere.jpg -c previous night nothere.jpg", "deeper night -o nothere/deeper",
            "frame1.jpg -c previous night -p frame*.jpg -o night",
            "broken.gif -c previous night/frame1.jpg night/frame2.png broken.gif", "output0002.jpg -c loop -g 6 -s 2 night"};
        for (int k = 0; k < rows.size(); ++k) {
            QStringList arguments = QStringList{"-o", folder.path()} + rows[k].split(' ');
            const QString named = arguments.takeAt(2);
            QVERIFY2(stack(arguments) == (k < usage.size() ? 2 : 1) && err.contains(named), qPrintable(rows[k] + ": " + err));
            // The last two after two images were written, the last one after an image that needed no load.
            const QStringList written = k < rows.size() - 2 ? QStringList() : QStringList{"output0000.jpg", "output0001.jpg"};
            QCOMPARE(out.left(16), QString(written.isEmpty() ? "" : "2 images written"));
            QCOMPARE(entries(folder.path()), written + QStringList("output0002.jpg"));
        }
        QCOMPARE(readFile(sources[0]), original);
        QVERIFY(stack({"--version"}) == 0 && stack({"--help"}) == 0 && out.startsWith("Usage: velumen-stack [OPTIONS] SOURCE..."));
    }

    // SIGINT, SIGTERM or SIGHUP during a load ends the tool at once and leaves no partial file: exit 130.
    void signalsStopAtOnce()
    {
        for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
            QTemporaryDir folder;
            QFile::remove(path("tool.pid"));
            // Every load after the first image's would outlast the wait for the run's end; one that runs
            // ahead waits until that image is written.
            QVERIFY(sandbox->addForwardingTool("convert", QString("case \"$*\" in *frame1.jpg*) ;; *) while [ ! -e "
                "%1/output0000.jpg ]; do sleep 0.05; done; echo $$ > tool.pid; exec sleep 600;; esac").arg(folder.path())));
            QVERIFY2(stack({"-c", "previous", "night", "-o", folder.path()}, {}, signalNumber) == 130, qPrintable(err));
            QCOMPARE(out.section(" to ", 0, 0), QString("1 image written"));
            QCOMPARE(entries(folder.path()), QStringList{"output0000.jpg"});
            QVERIFY(::kill(readFile(path("tool.pid")).trimmed().toInt(), 0) != 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestVelumenStack)
#include "tst_velumenstack.moc"
