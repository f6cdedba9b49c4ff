#include "executethread.h"
#include "stackjob.h"
#include "testtools.h"

#include <QtTest>

#include <csignal>

#include <sys/types.h>

using TestTools::readFile;

namespace {

struct Result
{
    int status;
    QString out, err;
};

// The real executable, with no display at all, in the sandbox folder so that ./tools is looked at.
void start(QProcess &process, const QString &folder, const QStringList &arguments, const QByteArray &input = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.start(VELUMEN_STACK, arguments);
    process.write(input);
    process.closeWriteChannel();
}

Result finish(QProcess &process)
{
    const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput(), process.readAllStandardError()};
}

// Every entry of a folder, hidden ones too: a leftover temporary file shows here.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestVelumenStack : public QObject
{
    Q_OBJECT

    QScopedPointer<TestTools::ToolSandbox> sandbox;
    QStringList sources;

    QString path(const QString &name) const { return sandbox->filePath(name); }

    Result stack(const QStringList &arguments, const QByteArray &input = {}) const
    {
        QProcess process;
        start(process, sandbox->path(), arguments, input);
        return finish(process);
    }

    // The last destination image of a dry run over "all previous images": its path, then its sources in order.
    QStringList previousOrder(const QStringList &arguments, const QByteArray &input = {}) const
    {
        const Result result = stack(QStringList{"--dry-run", "-c", "previous"} + arguments, input);
        const QStringList lines = result.out.split('\n', Qt::SkipEmptyParts);
        QStringList fields = lines.value(lines.size() - 2).split('\t').replaceInStrings(" (1)", "");
        return fields.mid(0, 1) + fields.mid(2);
    }

private slots:
    void initTestCase()
    {
        sandbox.reset(new TestTools::ToolSandbox);
        QVERIFY(sandbox->isValid());
        const QStringList names{"s0.jpg", "s1.png", "s2.tif", "s3.jpg", "s4.png", "s5.tiff"};
        for (int i = 0; i < names.size(); ++i) {
            QVERIFY(sandbox->convert({"-size", "40x30", "-seed", QString::number(i + 1), "plasma:", path(names[i])}));
            sources << path(names[i]);
        }
    }

    // Values: condition, option 1, option 2, fade, p1, p2 as the window holds them; method, format, quality.
    void sameFilesAsTheWorker_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("all, lighten, jpg") << QStringList{} << QList<int>{0, 1, 1, 0, 50, 50, 0, 0, 92} << "output****.jpg";
        QTest::newRow("previous, fade in, darken, png")
            << QStringList{"-c", "previous", "-m", "darken", "--fade", "in", "--fade-in", "40", "-f", "png"}
            << QList<int>{1, 1, 1, 1, 40, 50, 1, 1, 92} << "output****.png";
        QTest::newRow("groups, fade out, tiff from pattern")
            << QStringList{"-c", "groups", "-g", "4", "--fade", "out", "--fade-out", "30", "-p", "g**.tif"}
            << QList<int>{2, 4, 1, 2, 30, 50, 0, 2, 92} << "g**.tif";
        QTest::newRow("loop over more than all, fade in and out, tiff16")
            << QStringList{"--condition=loop", "-g", "7", "-s", "2", "--fade", "in-out", "--fade-in", "20",
                           "--fade-out", "60", "-f", "tiff16", "-p", "l_***_*.tif"}
            << QList<int>{3, 7, 2, 3, 20, 60, 0, 3, 92} << "l_***_*.tif";
        QTest::newRow("disjoint, mean, quality") << QStringList{"-c", "disjoint", "-n", "3", "-g", "5", "-m", "mean", "--quality", "40"}
                                                 << QList<int>{4, 3, 1, 0, 50, 50, 2, 0, 40} << "output****.jpg";
        QTest::newRow("groups, mean by undo and add, png from pattern")
            << QStringList{"-c", "groups", "-g", "4", "-s", "2", "--method", "mean", "-p", "m*.PNG"}
            << QList<int>{2, 4, 2, 0, 50, 50, 2, 1, 92} << "m*.PNG";
    }

    // The dry run lists the plan with the worker's own load counts, and the run writes the worker's bytes.
    void sameFilesAsTheWorker()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QList<int>, values);
        QFETCH(QString, pattern);
        QTemporaryDir direct, viaStack;
        const StackSettings settings{int(sources.size()), values[0], values[1], values[2], values[3], values[4], values[5]};
        const StackJob job = buildStackJob(sources, settings, direct.path(), NamePattern(pattern), values[6], values[7], values[8]);
        ExecuteThread thread;
        QMap<int, int> loads;
        QObject::connect(&thread, &ExecuteThread::operationStarted, [&](int image, int, int, int total) { loads[image] = total; });
        QSignalSpy completed(&thread, &ExecuteThread::completed);
        thread.setJob(job);
        thread.start();
        QVERIFY(thread.wait(120000) && completed.size() == 1);

        const Result dry = stack(arguments + sources + QStringList{"--dry-run", "-o", viaStack.path()});
        const QStringList lines = dry.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(dry.status, 0);
        QCOMPARE(lines.size(), job.destinationImages.size() + 2);
        QVERIFY(lines.first().startsWith(QString("%1 destination image").arg(job.destinationImages.size())));
        int total = 0;
        for (int i = 0; i < job.destinationImages.size(); ++i) {
            QList<QPair<int, double>> pairs = job.stackPlan[i].values();
            std::sort(pairs.begin(), pairs.end());
            QStringList expected{QFileInfo(viaStack.path(), QFileInfo(job.destinationImages[i]).fileName()).filePath()};
            for (const auto &pair : pairs)
                expected << QString("%1 (%2)").arg(sources[pair.first]).arg(pair.second, 0, 'g', 6);
            QStringList fields = lines[i + 1].split('\t');
            QCOMPARE(fields.takeAt(1).section(' ', 0, 0).toInt(), loads.value(i));
            QCOMPARE(fields, expected);
            total += loads.value(i);
        }
        QVERIFY(lines.last().startsWith(QString("%1 load").arg(total)));
        QVERIFY(entries(viaStack.path()).isEmpty());

        const Result run = stack(arguments + sources + QStringList{"-o", viaStack.path()});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QString()); // no progress lines off a terminal
        QVERIFY(run.out.startsWith(QString::number(job.destinationImages.size()) + " image") && run.out.contains(viaStack.path()));
        QCOMPARE(entries(viaStack.path()), entries(direct.path()));
        for (const QString &name : entries(direct.path()))
            QVERIFY2(readFile(direct.filePath(name)) == readFile(viaStack.filePath(name)), qPrintable(name));
    }

    // Folders give their images in natural order; files and lists keep theirs; lists come after arguments.
    void sourcesFromFoldersAndLists()
    {
        QDir(path("night")).mkpath("later");
        for (const char *name : {"frame10.png", "frame2.jpg", "Frame3.TIF", "frame1.jpeg", "later/frame0.jpg", "notes.txt"})
            QVERIFY(QFile::copy(sources[0], path(QString("night/") + name)));
        QCOMPARE(previousOrder({"night"}), (QStringList{path("night/output0003.jpg"), path("night/frame1.jpeg"), path("night/frame2.jpg"),
                                                        path("night/Frame3.TIF"), path("night/frame10.png")}));
        QCOMPARE(previousOrder({"--from", "-", "s1.png"}, "night/frame10.png\r\n\nnight\n"),
                 (QStringList{path("output0005.jpg"), "s1.png", "night/frame10.png", path("night/frame1.jpeg"), path("night/frame2.jpg"),
                              path("night/Frame3.TIF"), path("night/frame10.png")}));
        QVERIFY(TestTools::writeFile(path("list.txt"), "s4.png\ns0.jpg\n"));
        QCOMPARE(previousOrder({"--from", "list.txt"}), (QStringList{path("output0001.jpg"), "s4.png", "s0.jpg"}));
    }

    // Usage errors (2) name what is wrong and write nothing; failures (1) name the file and keep
    // the images written before them.
    void refusalsAndFailures()
    {
        QTemporaryDir out;
        QDir(path("later-empty")).mkpath(".");
        // What the message must show, then the arguments.
        const QList<QStringList> usage{{"'x'", "-x", "s0.jpg"}, {"bogus", "-c", "bogus", "s0.jpg"}, {"'0'", "-g", "0", "s0.jpg"},
                                       {"101", "--quality", "101", "s0.jpg"}, {"fade-in", "--fade-in", "x", "s0.jpg"},
                                       {"gif", "-f", "gif", "s0.jpg"}, {"mean", "-m", "mean", "--fade", "in", "s0.jpg"},
                                       {"quality", "s0.jpg", "--quality"}, {"no destination", "-c", "groups", "-g", "7", "."},
                                       {"nothere.txt", "--from", "nothere.txt"}, {"no source"}, {"later-empty", "later-empty"}};
        for (QStringList arguments : usage) {
            const QString wrong = arguments.takeFirst();
            const Result result = stack(QStringList{"-o", out.path()} + arguments);
            QVERIFY2(result.status == 2 && result.out.isEmpty() && result.err.contains("--help"), qPrintable(arguments.join(' ')));
            QVERIFY2(result.err.contains(wrong), qPrintable(result.err));
        }
        QVERIFY(stack({"--help"}).out.startsWith("Usage: velumen-stack [OPTIONS] SOURCE..."));
        QCOMPARE(stack({"--version"}).status, 0);
        QVERIFY(entries(out.path()).isEmpty());

        const QByteArray original = readFile(sources[0]);
        QVERIFY(TestTools::writeFile(path("broken.png"), "not an image"));
        QDir(out.path()).mkpath("output0002.jpg");
        const QList<QStringList> failures{{"nothere.jpg", "s0.jpg", "-o", out.path()}, {"s0.jpg", "-o", path("nothere/deeper")},
                                          {"s0.jpg", "s1.png", "-p", "s*.jpg", "-o", sandbox->path()},
                                          {"-c", "previous", "s0.jpg", "s1.png", "broken.png", "-o", out.path()},
                                          {"-c", "previous", "s0.jpg", "s1.png", "s2.tif", "-o", out.path()}};
        const QStringList named{"nothere.jpg", "nothere/deeper", "s0.jpg", "broken.png", "output0002.jpg"};
        for (int k = 0; k < failures.size(); ++k) {
            const Result result = stack(failures[k]);
            QVERIFY2(result.status == 1 && result.err.contains(named[k]), qPrintable(result.err));
            QCOMPARE(entries(out.path()), k < 3 ? QStringList{"output0002.jpg"} : (QStringList{"output0000.jpg", "output0001.jpg", "output0002.jpg"}));
            QVERIFY(k < 3 || result.out.startsWith("2 images written"));
        }
        QCOMPARE(readFile(sources[0]), original);
    }

    // SIGINT or SIGTERM during a load ends the tool at once and leaves no partial file: exit 130.
    void signalsStopAtOnce()
    {
        for (int signalNumber : {SIGINT, SIGTERM}) {
            QTemporaryDir out;
            QFile::remove(path("tool.pid"));
            QFile::remove(path("loads"));
            // The first load goes through; the second never ends on its own.
            QVERIFY(sandbox->addForwardingTool("convert", "echo x >> loads\n"
                                                          "if [ $(wc -l < loads) -gt 1 ]; then echo $$ > tool.pid; exec sleep 60; fi"));
            QProcess process;
            QElapsedTimer timer;
            timer.start();
            start(process, sandbox->path(), {"-c", "previous", "s0.jpg", "s1.png", "s2.tif", "-o", out.path()});
            QTRY_VERIFY_WITH_TIMEOUT(!readFile(path("tool.pid")).isEmpty(), 30000);
            ::kill(pid_t(process.processId()), signalNumber);
            const Result result = finish(process);
            sandbox->removeTools();
            QCOMPARE(result.status, 130);
            QVERIFY(timer.elapsed() < 30000);
            QVERIFY(result.out.startsWith("1 image written"));
            QCOMPARE(entries(out.path()), QStringList{"output0000.jpg"});
            QVERIFY(::kill(pid_t(readFile(path("tool.pid")).trimmed().toInt()), 0) != 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestVelumenStack)
#include "tst_velumenstack.moc"
