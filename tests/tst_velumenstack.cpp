#include "executethread.h"
#include "stackjob.h"
#include "testtools.h"

#include <QtTest>

#include <csignal>

using TestTools::readFile;

namespace {

struct Result
{
    int status;
    QString out, err;
};

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

    // The real executable, with no display at all, in the sandbox folder so that ./tools is looked at. A
    // signal goes in once a stand-in tool has written its process id.
    Result stack(const QStringList &arguments, const QByteArray &input = {}, int signalNumber = 0) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(sandbox->path());
        process.start(VELUMEN_STACK, arguments);
        process.write(input);
        process.closeWriteChannel();
        if (signalNumber && QTest::qWaitFor([&] { return !readFile(path("tool.pid")).isEmpty(); }, 30000))
            ::kill(process.processId(), signalNumber);
        // A stand-in tool stopped by a signal would otherwise end only at the tools' 30 s time limit.
        const bool ended = process.waitForFinished(signalNumber ? 15000 : 120000)
            && process.exitStatus() == QProcess::NormalExit;
        return {ended ? process.exitCode() : -1, process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

private slots:
    // Sources in a folder whose natural order is not the order of the names' characters, beside what a
    // folder's sources leave out: other files and subfolders.
    void initTestCase()
    {
        sandbox.reset(new TestTools::ToolSandbox);
        QVERIFY(sandbox->isValid() && QDir(path("night")).mkpath("later"));
        for (const char *name : {"frame1.jpg", "frame2.png", "Frame3.TIF", "frame9.jpeg", "frame10.png",
                                 "frame11.tiff", "later/frame0.jpg", "notes.txt"}) {
            QVERIFY(sandbox->convert({"-size", "40x30", "-seed", QString::number(sources.size() + 1),
                                      "plasma:", path(QString("night/") + name)}));
            sources << path(QString("night/") + name);
        }
        sources = sources.mid(0, 6);
        QVERIFY(TestTools::writeFile(path("list.txt"), sources.join('\n').toUtf8()));
    }

    // The window's values: condition, option 1, option 2, fade, p1, p2, method, format, quality, pattern.
    void sameFilesAsTheWorker_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("values");
        // Sources from the folder, unless the arguments name a list (standard input gets one with "\r\n").
        QTest::newRow("all") << "-m darken --fade in-out --fade-in 20 --fade-out 60 -f png" << "0 1 1 3 20 60 1 1 92 output****.png";
        QTest::newRow("previous") << "-c previous --fade in --fade-in 40 --quality 40 --from -" << "1 1 1 1 40 50 0 0 40 output****.jpg";
        QTest::newRow("groups") << "--from list.txt -c groups -g 4 --fade out --fade-out 30 -p g**.tif" << "2 4 1 2 30 50 0 2 92 g**.tif";
        QTest::newRow("loop, mean") << "--condition=loop -g 4 -s 2 -m mean -f tiff16 -p l_***_*.tif" << "3 4 2 0 50 50 2 3 92 l_***_*.tif";
        QTest::newRow("disjoint, mean") << "-c disjoint -n 3 -g 5 -m mean -p m*.PNG" << "4 3 1 0 50 50 2 1 92 m*.PNG";
    }

    // The dry run lists the plan with the worker's own load counts, and the run writes the worker's bytes.
    void sameFilesAsTheWorker()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, values);
        QStringList options = arguments.split(' ', Qt::SkipEmptyParts);
        if (!arguments.contains("--from"))
            options << "night";
        const QByteArray list = sources.join("\r\n").toUtf8() + "\n\n";
        QTemporaryDir direct, viaStack;
        auto v = [&](int k) { return values.section(' ', k, k).toInt(); };
        const StackSettings settings{int(sources.size()), v(0), v(1), v(2), v(3), v(4), v(5)};
        const StackJob job = buildStackJob(sources, settings, direct.path(),
                                           NamePattern(values.section(' ', 9)), v(6), v(7), v(8));
        ExecuteThread thread;
        QMap<int, int> loads;
        QObject::connect(&thread, &ExecuteThread::operationStarted,
                         [&](int image, int, int, int total) { loads[image] = total; });
        QSignalSpy completed(&thread, &ExecuteThread::completed);
        thread.setJob(job);
        thread.start();
        QVERIFY(thread.wait(120000) && completed.size() == 1);

        const Result dry = stack(options + QStringList{"--dry-run"}, list);
        const QStringList lines = dry.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(dry.status == 0 && lines.size() == job.destinationImages.size() + 2, qPrintable(dry.out));
        QVERIFY(lines.first().startsWith(QString("%1 destination image").arg(job.destinationImages.size())));
        for (int i = 0; i < job.destinationImages.size(); ++i) {
            QList<QPair<int, double>> pairs = job.stackPlan[i].values();
            std::sort(pairs.begin(), pairs.end());
            QStringList expected{path("night/" + QFileInfo(job.destinationImages[i]).fileName())};
            for (const auto &pair : pairs)
                expected << QString("%1 (%2)").arg(sources[pair.first]).arg(pair.second, 0, 'g', 6);
            QStringList fields = lines[i + 1].split('\t');
            QCOMPARE(fields.takeAt(1).section(' ', 0, 0).toInt(), loads.value(i));
            QCOMPARE(fields, expected);
        }
        QVERIFY(lines.last().startsWith(
            QString("%1 load").arg(std::accumulate(loads.cbegin(), loads.cend(), 0))));
        QCOMPARE(entries(path("night")).size(), 8);

        const Result run = stack(options + QStringList{"-o", viaStack.path()}, list);
        // No progress lines off a terminal.
        QVERIFY2(run.status == 0 && run.err.isEmpty() && run.out.contains(viaStack.path())
                     && run.out.startsWith(QString::number(job.destinationImages.size()) + " image"),
                 qPrintable(run.err));
        QCOMPARE(entries(viaStack.path()), entries(direct.path()));
        for (const QString &name : entries(direct.path()))
            QVERIFY2(readFile(direct.filePath(name)) == readFile(viaStack.filePath(name)), qPrintable(name));
    }

    // Usage errors (2) name what is wrong and write nothing; failures (1) name the file and keep
    // the images written before them.
    void refusalsAndFailures()
    {
        QTemporaryDir out;
        // What the message must show, then the arguments.
        for (const char *usage :
             {"'x' -x night", "bogus -c bogus night", "'0' -g 0 night", "101 --quality 101 night",
              "fade-in --fade-in x night", "gif -f gif night", "mean -m mean --fade in night",
              "quality night --quality", "destination -c groups -g 7 night", "nothere.txt --from nothere.txt",
              "source", "source ."}) {
            QStringList arguments = QString(usage).split(' ');
            const QString wrong = arguments.takeFirst();
            const Result result = stack(QStringList{"-o", out.path()} + arguments);
            QVERIFY2(result.status == 2 && result.out.isEmpty() && result.err.contains(wrong), usage);
        }
        QVERIFY(stack({"--help"}).out.startsWith("Usage: velumen-stack [OPTIONS] SOURCE...") && stack({"--version"}).status == 0);
        QVERIFY(entries(out.path()).isEmpty());

        const QByteArray original = readFile(sources[0]);
        QVERIFY(TestTools::writeFile(path("broken.png"), "not an image"));
        QDir(out.path()).mkpath("output0002.jpg");
        // The file the message must name, then the arguments; the last two fail after writing two images,
        // the last one after an image that needed no load.
        const QStringList failures{"nothere.jpg -c previous night nothere.jpg",
                                   "deeper night -o nothere/deeper",
                                   "frame1.jpg -c previous night -p frame*.jpg -o night",
                                   "broken.png -c previous night/frame1.jpg night/frame2.png broken.png",
                                   "output0002.jpg -c loop -g 6 -s 2 night"};
        for (int k = 0; k < failures.size(); ++k) {
            QStringList arguments = QStringList{"-o", out.path()} + failures[k].split(' ');
            const QString named = arguments.takeAt(2);
            const Result result = stack(arguments);
            QVERIFY2(result.status == 1 && result.err.contains(named), qPrintable(result.err));
            QCOMPARE(entries(out.path()),
                     (QStringList{"output0000.jpg", "output0001.jpg", "output0002.jpg"}.mid(k < 3 ? 2 : 0)));
            QVERIFY(k < 3 || result.out.startsWith("2 images written"));
        }
        QCOMPARE(readFile(sources[0]), original);
    }

    // SIGINT, SIGTERM or SIGHUP during a load ends the tool at once and leaves no partial file: exit 130.
    void signalsStopAtOnce()
    {
        for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
            QTemporaryDir out;
            QFile::remove(path("tool.pid"));
            // Every load after the first image's would outlast the wait for the run's end; one that runs
            // ahead waits until that image is written.
            QVERIFY(sandbox->addForwardingTool("convert",
                                               QString("case \"$*\" in *frame1.jpg*) ;; *) "
                                                       "while [ ! -e %1/output0000.jpg ]; do sleep 0.05; done; "
                                                       "echo $$ > tool.pid; exec sleep 600;; esac")
                                                   .arg(out.path())));
            const Result result = stack({"-c", "previous", "night", "-o", out.path()}, {}, signalNumber);
            QVERIFY(result.status == 130 && result.out.startsWith("1 image written"));
            QCOMPARE(entries(out.path()), QStringList{"output0000.jpg"});
            QVERIFY(::kill(readFile(path("tool.pid")).trimmed().toInt(), 0) != 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestVelumenStack)
#include "tst_velumenstack.moc"
