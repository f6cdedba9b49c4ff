// The worker and the plan it follows: which sources each destination image stacks at which weights, the
// operations and loads of real jobs, the files they write, cancel, stop and failures. Then the batch
// front end, which must write the worker's own bytes, refuse bad input and stop at a signal.

#include "executethread.h"
#include "image32.h"
#include "imageupdate.h"
#include "previewreduction.h"
#include "stackjob.h"
#include "testtools.h"

#include <QImageReader>
#include <QtTest>

#include <csignal>

#include <sys/resource.h>

using TestTools::Job;
using TestTools::readFile;
typedef QVector<quint16> Samples;
Q_DECLARE_METATYPE(StackSettings)

namespace {

const int Width = 6, Height = 4, SampleCount = Width * Height * 3;

StackSettings settings(int n, int condition, int g = 1, int s = 1, int fade = 0, int p1 = 50, int p2 = 50)
{
    return StackSettings{n, condition, g, s, fade, p1, p2};
}

StackPlan plan(int n, int condition, int g = 1, int s = 1, int fade = 0, int p = 50)
{
    return buildStackPlan(settings(n, condition, g, s, fade, p, p));
}

} // namespace

class TestExecuteThread : public QObject
{
    Q_OBJECT

    QScopedPointer<TestTools::ToolSandbox> sandbox;
    QStringList sources, out;
    QString printed, errors; // what the last run of the batch front end printed
    QList<Samples> sourceSamples;

    QString path(const QString &name) const { return sandbox->filePath(name); }

    // A stand-in convert that logs its process id and arguments, runs the given shell lines, then the real
    // convert.
    void wrapConvert(const QString &lines = QString())
    {
        QVERIFY(sandbox->addForwardingTool("convert", "echo $$ >> pids.log\necho \"$*\" >> loads.log\n"
                                                      + lines));
    }

    // Stand-in tools of the run still there (or never reaped) once it has ended.
    int toolsLeft() const
    {
        const QStringList pids = QString(readFile(path("pids.log"))).split('\n', Qt::SkipEmptyParts);
        return int(std::count_if(pids.begin(), pids.end(),
                                 [](const QString &pid) { return QFile::exists("/proc/" + pid); }));
    }

    // Samples as the real ImageMagick reads them: 16 bits, RGB.
    Samples readWithImageMagick(const QStringList &arguments) const
    {
        QByteArray raw;
        sandbox->convert(arguments + QStringList{"-depth", "16", "-endian", "LSB", "rgb:-"}, &raw);
        const quint16 *first = reinterpret_cast<const quint16 *>(raw.constData());
        return Samples(first, first + raw.size() / 2);
    }

    // Sources up to number n - 1 of the given size: random samples, one full black and one full white pixel.
    void makeSources(int n, const QString &size = "6x4")
    {
        for (int k = sources.size(); k < n; ++k) {
            sources << path(QString("source%1.ppm").arg(k));
            sandbox->convert({"-seed", QString::number(k), "-size", size, "xc:", "-fx", "rand()", "-draw",
                              QString("fill black point %1,0 fill white point %1,1").arg(k % 4), "-depth",
                              "16", sources.last()});
            sourceSamples << readWithImageMagick({sources.last()});
        }
    }

    // The weighted formula: sample u of a source at weight w reads as w*u (plus (1 - w) at full
    // scale under "Darken only"), rounded; then the maximum, minimum or truncated weighted mean.
    int expectedSample(const QSet<QPair<int, double>> &set, int method, int i) const
    {
        double folded = method == 1 ? 65535 : 0, weights = 0;
        for (const auto &[source, w] : set) {
            const double v =
                quint16(w * sourceSamples[source][i] + (method == 1 ? (1 - w) * 65535 : 0) + 0.5);
            folded = method == 0 ? qMax(folded, v) : method == 1 ? qMin(folded, v) : folded + v;
            weights += w;
        }
        return int(method == 2 ? folded / weights : folded);
    }

    static QString counted(int n, const QString &noun)
    {
        return QString("%1 %2%3").arg(n).arg(noun, n == 1 ? "" : "s");
    }
    // Every entry of a folder, hidden ones too: a leftover temporary file shows here.
    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

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
        printed = process.readAllStandardOutput();
        errors = process.readAllStandardError();
        return ended ? process.exitCode() : -1;
    }

    // The batch front end's sources, in a folder whose natural order is not the order of the names'
    // characters, beside what a folder's sources leave out: other files and subfolders.
    void makeNight()
    {
        QVERIFY(QDir(path("night")).mkpath("later"));
        for (const char *name : {"frame1.jpg", "frame2.png", "Frame3.TIF", "frame9.jpeg", "frame10.png",
                                 "frame11.tiff", "later/frame0.jpg", "notes.txt"}) {
            sources << path(QString("night/") + name);
            QVERIFY(sandbox->convert(
                {"-size", "40x30", "-seed", QString::number(sources.size()), "plasma:", sources.last()}));
        }
        sources = sources.mid(0, 6);
        QVERIFY(TestTools::writeFile(path("list.txt"), sources.join('\n').toUtf8()));
    }

private slots:
    void init()
    {
        // The batch front end runs with no display at all.
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            qunsetenv(name);
        sandbox.reset(new TestTools::ToolSandbox); // the bridge runs stand-ins from its "tools" folder
        QVERIFY(sandbox->isValid() && QDir().mkdir(path("out")));
        sources.clear();
        sourceSamples.clear();
        out = QStringList{path("out/0.tif"), path("out/1.tif"), path("out/2.tif"), path("out/3.tif"),
                          path("out/4.tif")};
    }

    void cleanup() { sandbox.reset(); } // before the next one, which would otherwise restore this folder

    // Each destination image as its sources in the order that gives their fade weights, "index" at weight
    // exactly 1 or "index:weight" with the weight's shortest exact decimal, "|" between images. Weights are
    // compared exactly: consecutive images are compared by equal weights, so the order of operations that
    // makes them is part of the result.
    void stackPlan_data()
    {
        QTest::addColumn<StackSettings>("input");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const StackSettings &input, const QString &expected) {
            QTest::newRow(name) << input << expected;
        };
        // No sources, a group larger than them, a loop step past them, an unknown condition, a step or group
        // count of 0: no images rather than a division by zero.
        for (const StackSettings &none : {settings(0, 0), settings(0, 1), settings(0, 2), settings(0, 3),
                                          settings(0, 4), settings(10, 2, 11), settings(10, 3, 4, 11),
                                          settings(10, 5), settings(10, 2, 1, 0), settings(10, 3, 1, 0),
                                          settings(10, 3, 0), settings(10, 4, 0)})
            QTest::addRow("none %d: %d/%d/%d", none.sourceCount, none.condition, none.conditionOption1,
                          none.conditionOption2)
                << none << "";
        row("groups g = n", settings(10, 2, 10, 3), "0 1 2 3 4 5 6 7 8 9");
        row("groups s > n", settings(10, 2, 3, 20), "0 1 2");
        row("loop 4/2 wraps", settings(10, 3, 4, 2), "0 1 2 3|2 3 4 5|4 5 6 7|6 7 8 9|8 9 0 1");
        row("loop g > n repeats", settings(3, 3, 5), "0 1 2 0 1|1 2 0 1 2|2 0 1 2 0");
        row("disjoint 3", settings(10, 4, 3), "0 3 6 9|1 4 7|2 5 8");
        row("disjoint groups > n", settings(4, 4, 9999), "0|1|2|3");
        row("unknown fade", settings(4, 0, 1, 1, 7), "0 1 2 3");
        const QString in50 = "0:0.2 1:0.4 2:0.6 3:0.8 4 5",
                      out50 = " 6:0.8 7:0.6000000000000001 8:0.3999999999999999 9:0.19999999999999996";
        row("in 50", settings(10, 0, 1, 1, 1, 50, 0), in50 + " 6 7 8 9");
        row("out 50 uses p1", settings(10, 0, 1, 1, 2, 50, 0), "0 1 2 3 4 5" + out50);
        row("in and out 50/50", settings(10, 0, 1, 1, 3), in50 + out50);
        // 70 x 0.01 is not 70 / 100.0 in double precision.
        row("in 70", settings(3, 0, 1, 1, 1, 70, 0), "0:0.4761904761904761 1:0.9523809523809522 2");
        // Overlapping ranges: the fade-in weight wins while x is below P; at x = P the fade-out one applies.
        row("in and out 80/80", settings(5, 0, 1, 1, 3, 80, 80),
            "0:0.25 1:0.5 2:0.7499999999999999 3:0.5 4:0.24999999999999994");
        row("in and out 50/80", settings(4, 0, 1, 1, 3, 50, 80), "0:0.5 1:0.9375 2:0.625 3:0.3125");
        row("in and out 100/100", settings(4, 0, 1, 1, 3, 100, 100), "0:0.25 1:0.5 2:0.75 3:0.25");
        row("in 0", settings(3, 0, 1, 1, 1, 0), "0 1 2");
        row("in and out 0/0", settings(3, 0, 1, 1, 3, 0, 0), "0 1 2");
        row("in 100", settings(4, 0, 1, 1, 1, 100, 0), "0:0.25 1:0.5 2:0.75 3");
        row("out 100", settings(3, 0, 1, 1, 2, 100, 0), "0 1:0.6666666666666667 2:0.33333333333333337");
        for (int fade = 1; fade <= 3; ++fade)
            QTest::addRow("one source, fade %d at 100", fade) << settings(1, 0, 1, 1, fade, 100, 100) << "0";
        row("previous, in 50", settings(4, 1, 1, 1, 1), "0|0 1|0:0.6666666666666666 1 2|0:0.5 1 2 3");
        row("groups 4/2, in 50", settings(10, 2, 4, 2, 1), "0:0.5 1 2 3|2:0.5 3 4 5|4:0.5 5 6 7|6:0.5 7 8 9");
        // Repeated indexes are distinct pairs only where their weights differ.
        row("loop 4/1, in 100", settings(2, 3, 4, 1, 1, 100), "0:0.25 1:0.5 0:0.75 1|1:0.25 0:0.5 1:0.75 0");
        row("disjoint, out 50", settings(5, 4, 2, 1, 2), "0 2 4:0.6666666666666667|1 3");
    }

    void stackPlan()
    {
        QFETCH(StackSettings, input);
        QFETCH(QString, expected);
        const StackPlan plan = buildStackPlan(input);
        const QStringList images = expected.isEmpty() ? QStringList() : expected.split('|');
        QCOMPARE(plan.size(), images.size());
        for (int i = 0; i < images.size(); ++i) {
            QSet<QString> pairs;
            for (const auto &[index, weight] : plan[i])
                pairs << QString("%1:%2").arg(index).arg(weight, 0, 'g', QLocale::FloatingPointShortest);
            const QStringList listed = QString(images[i]).replace(QRegularExpression("(^| )(\\d+)(?= |$)"),
                                                                  "\\1\\2:1").split(' ');
            QCOMPARE(pairs, QSet<QString>(listed.begin(), listed.end()));
        }
        QVERIFY(sourceIndexes(input, -1).isEmpty() && sourceIndexes(input, plan.size()).isEmpty());
    }

    void operationTotals_data()
    {
        QTest::addColumn<StackPlan>("stackPlan");
        QTest::addColumn<int>("method");
        // The sources each image loads, "|" between images; the last one is n - 1.
        QTest::addColumn<QString>("loads");
        QTest::addColumn<QString>("weights"); // every weighting the read tool gets, sorted
        for (int method = 0; method < 3; ++method) {
            const QString full = method == 1 ? "1,0" : "1,0.0";
            QTest::addRow("all, method %d", method) << plan(4, 0) << method << "0123" << full;
            QTest::addRow("all previous, method %d", method) << plan(4, 1) << method << "0|1|2|3" << full;
            // From image 2 on the weight of source 0 changes every time: a rebuild, or for the mean the
            // cheaper subtract and add.
            QTest::addRow("all previous, fade in 50, method %d", method)
                << plan(5, 1, 1, 1, 1) << method << (method < 2 ? "0|1|012|0123|01234" : "0|1|002|003|00114")
                << (method == 1 ? "0.4,0.6 0.5,0.5 0.666667,0.333333 0.8,0.2 1,0"
                                : "0.4,0.0 0.5,0.0 0.666667,0.0 0.8,0.0 1,0.0");
        }
        QTest::newRow("groups 5/1, mean") << plan(7, 2, 5, 1) << 2 << "01234|05|16" << "1,0.0";
        QTest::newRow("groups 5/1, lighten") << plan(7, 2, 5, 1) << 0 << "01234|12345|23456" << "1,0.0";
        QTest::newRow("groups 2/2, mean rebuilds") << plan(6, 2, 2, 2) << 2 << "01|23|45" << "1,0.0";
        // A tie: subtracting two and adding two costs as much as a rebuild and is preferred.
        QTest::newRow("groups 4/2, mean, tie") << plan(8, 2, 4, 2) << 2 << "0123|0145|2367" << "1,0.0";
        QTest::newRow("loop g > n, lighten") << plan(3, 3, 4, 1) << 0 << "012||" << "1,0.0";
        QTest::newRow("loop g = n, mean") << plan(3, 3, 3, 1) << 2 << "012||" << "1,0.0";
        QTest::newRow("loop g > n, fade in, darken")
            << plan(2, 3, 3, 1, 1) << 1 << "001|011" << "0.666667,0.333333 1,0";
    }

    // Operation reports and totals of real jobs while loads run ahead, the sources loaded with their exact
    // weighting, and the images written as the weighted formula gives them.
    void operationTotals()
    {
        QFETCH(StackPlan, stackPlan);
        QFETCH(int, method);
        QFETCH(QString, loads);
        QFETCH(QString, weights);
        const auto sorted = [](QString text) {
            std::sort(text.begin(), text.end());
            return text;
        };
        const QString planned = sorted(QString(loads).remove('|'));
        makeSources(planned.back().digitValue() + 1);
        wrapConvert();
        QStringList expected;
        for (int i = 0; i < stackPlan.size(); ++i)
            for (int k = 0, total = loads.section('|', i, i).size(); k < total; ++k)
                expected << QString("%1/%2 %3/%4").arg(i).arg(stackPlan.size()).arg(k).arg(total);
        QCOMPARE(Job(sources, out.mid(0, stackPlan.size()), stackPlan, method).run(),
                 expected << "completed");

        // Loads run ahead of their operations, so they are compared as one sorted list.
        const QString log = readFile(path("loads.log"));
        QCOMPARE(sorted(QString(log).remove(QRegularExpression("[^\\n]*source|\\.ppm [^\\n]*\\n"))), planned);
        QMap<QString, int> weighting; // its keys sorted, without repeats
        for (auto m = QRegularExpression(" -function Polynomial (\\S+) -endian LSB rgb:-\n").globalMatch(log);
             m.hasNext();)
            ++weighting[m.next().captured(1)];
        QCOMPARE(QStringList(weighting.keys()).join(' '), weights);

        // Faded sources go through the read tool's rounding.
        const int tolerance = QByteArray(QTest::currentDataTag()).contains("fade") ? 1 : 0;
        for (int i = 0; i < stackPlan.size(); ++i) {
            const Samples actual = readWithImageMagick({out[i]});
            QCOMPARE(actual.size(), SampleCount);
            for (int s = 0; s < SampleCount; ++s)
                QVERIFY2(qAbs(actual[s] - expectedSample(stackPlan[i], method, s)) <= tolerance,
                         qPrintable(QString("image %1 sample %2: %3").arg(i).arg(s).arg(actual[s])));
        }
    }

    // The running picture. Under "Mean" it divides by the weights folded so far, through an update that
    // subtracts and adds too. A one-pixel trail grows in it and keeps its full value in every column of the
    // block reduction (a dark line under "Darken only"), and the last picture is the written image reduced.
    // Many fast operations send a few pictures only, the written image's always.
    void runningPicture()
    {
        makeSources(6);
        // One load at a time, slow enough for pictures between operations however many cores run loads.
        wrapConvert("flock serial sleep 0.6");
        const StackPlan groups = plan(6, 2, 4, 2); // 0 1 2 3, then 2 3 4 5 by subtracting 0 1, adding 4 5
        Job mean(sources, out.mid(0, 2), groups, 2);
        mean.keepPictures();
        QCOMPARE(mean.run().last(), QString("completed"));
        const QVector<ImageUpdate> updates = ImageUpdate::planned(groups, 2, 2);
        QSet<QPair<int, double>> folded;
        int picture = 0, partial = 0;
        for (const QString &entry : qAsConst(mean.log)) {
            if (entry.startsWith("picture")) {
                partial += folded.size() == 3;
                for (int s = 0; s < SampleCount; ++s) {
                    const QRgb pixel = mean.pictures[picture].pixel(s / 3 % Width, s / 3 / Width);
                    QCOMPARE((QList<int>{qRed(pixel), qGreen(pixel), qBlue(pixel)}[s % 3]),
                             expectedSample(folded, 2, s) >> 8);
                }
                ++picture;
            } else if (entry != "completed") {
                const QStringList at = entry.split(QRegularExpression("[ /]")); // image, images, k, total
                const ImageUpdate::Operation &operation = updates[at[0].toInt()].operations[at[2].toInt()];
                if (operation.fold == SampleFold::Subtract)
                    folded.remove({operation.source, operation.weight});
                else
                    folded.insert({operation.source, operation.weight});
            }
        }
        QVERIFY2(partial >= 1 && mean.log.count("picture 1/2") >= 2, qPrintable(mean.log.join(", ")));

        sandbox->removeTools();
        const QStringList tiny = sources;
        for (int method : {0, 1}) {
            sources.clear();
            const QString ground = method ? "xc:white" : "xc:black", line = method ? "black" : "white";
            for (int k = 0; k < 4; ++k) {
                sources << path(QString("trail%1.ppm").arg(k));
                const int x = 325 * k, y = 162 * k;
                const QString segment = QString("line %1,%2 %3,%4").arg(x).arg(y).arg(x + 325).arg(y + 162);
                QVERIFY(sandbox->convert({"-size", "1300x700", ground, "+antialias", "-stroke", line, "-draw",
                                          segment, "-depth", "16", sources.last()}));
            }
            Job trail(sources, {out[0]}, plan(4, 0), method);
            trail.keepPictures();
            QCOMPARE(trail.run().last(), QString("completed"));
            // Columns that hold the line's own value, at most two pixels high.
            const auto lineColumns = [&](const QImage &picture) {
                int columns = 0;
                for (int x = 0; x < picture.width(); ++x) {
                    int count = 0;
                    for (int y = 0; y < picture.height(); ++y)
                        count += picture.pixel(x, y) == (method ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
                    columns += count >= 1 && count <= 2;
                }
                return columns;
            };
            QCOMPARE(trail.pictures.last().size(), QSize(640, 344));
            QVERIFY2(trail.pictures.size() >= 2 && lineColumns(trail.pictures.first()) < 200,
                     qPrintable(trail.log.join(", ")));
            QCOMPARE(lineColumns(trail.pictures.last()), 640);
            QCOMPARE(trail.pictures.last(), PreviewReduction::reduce(Image32(out[0], QString(), 48), method));
        }

        QStringList many;
        for (int k = 0; k < 10; ++k)
            many << tiny;
        Job fast(many, {out[0]}, plan(many.size(), 0));
        fast.keepPictures();
        QElapsedTimer timer;
        timer.start();
        const QStringList log = fast.run();
        QVERIFY2(fast.pictures.size() <= 2 + timer.elapsed() / 250, qPrintable(log.join(", ")));
        QCOMPARE(log.mid(log.size() - 2), QStringList({"picture 0/1", "completed"}));
    }

    // A faded mean divides by the sum of the weights, whose last bit depends on the order of adding: the
    // same bytes whatever order the sets of the plan have in this process.
    void fadedMeanSameEveryRun()
    {
        makeSources(5, "40x30");
        for (int seed : {1, 2}) {
            // The plan's set in orders whose plain sums of weights differ: 3 + 1 ulp, 3.
            qSetGlobalQHashSeed(seed);
            QCOMPARE(Job(sources, {out[seed]}, plan(5, 0, 1, 1, 1, 100), 2).run().last(),
                     QString("completed"));
        }
        qSetGlobalQHashSeed(-1);
        QVERIFY2(readFile(out[1]) == readFile(out[2]), "the mean depends on the set's order");
    }

    // Each file type index writes its own format, whatever the name's suffix, and JPEG with the quality
    // handed over; an unknown one writes nothing. Sources of other sizes meet the first at the top-left
    // corner: only the overlap takes part.
    void fileTypes()
    {
        for (const QString size : {"6x4", "8x5", "4x3"})
            makeSources(sources.size() + 1, size);
        const QList<QByteArray> formats = {"jpeg", "png", "tiff", "tiff", ""};
        for (int format = 0; format < formats.size(); ++format) {
            const QString output = path(QString("type%1.img").arg(format));
            QCOMPARE(Job(sources, {output}, plan(3, 0), 0, format == 4 ? 7 : format).run().last(),
                     QString("completed"));
            QCOMPARE(QImageReader(output).format(), formats[format]);
            QCOMPARE(QImage(output).size(), format < 4 ? QSize(Width, Height) : QSize(0, 0));
            // 16 bits per channel only for the last TIFF type.
            QCOMPARE(QImage(output).depth() == 64, format == 3);
        }
        QByteArray quality;
        TestTools::ToolSandbox::run(sandbox->realIdentify(), {"-format", "%Q", path("type0.img")}, &quality);
        QCOMPARE(quality, QByteArray("37"));
        const QStringList black = {"-background", "black", "-extent", "6x4", ")", "("};
        QCOMPARE(readWithImageMagick({path("type3.img")}),
                 readWithImageMagick(QStringList{sources[0], "(", sources[1]} << black << sources[2]
                                     << black.mid(0, 5) << "-evaluate-sequence" << "max"));
    }

    // Inside a slow load, with the next load under way: a cancel still writes that image, reports nothing
    // more and ends the load ahead; the shutdown stop ends both loads and the run at once without a report,
    // and the next job runs; destroying the running thread stops it. No tool is left running.
    void cancelAndStop()
    {
        makeSources(3);
        for (const QString how : {"cancel", "stop", "destroy"}) {
            // Long enough for both loads to be seen running.
            wrapConvert(how == "cancel" ? "sleep 3" : "sleep 30");
            QFile::remove(out[0]);
            auto job = std::make_unique<Job>(sources, out.mid(0, 3), plan(3, 1));
            job->thread.start();
            QTRY_VERIFY_WITH_TIMEOUT(job->started == 1 && toolsLeft() == 2, 30000);
            const QDeadlineTimer deadline(how == "stop" ? 1000 : 10000);
            how == "destroy" ? job.reset() : how == "cancel" ? job->thread.cancel() : job->thread.stop();
            QVERIFY(!job || job->thread.wait(60000));
            QVERIFY2(how == "cancel" || !deadline.hasExpired(), qPrintable(how + " not prompt"));
            QCOMPARE(toolsLeft(), 0);
            if (job)
                QCOMPARE(job->log, QStringList{"0/3 0/1"});
            QCOMPARE(QFile::exists(out[0]), how == "cancel");
            if (how == "stop") {
                QVERIFY(QFile::remove(path("tools/convert")));
                job->thread.setSourceImages(sources);
                QCOMPARE(job->run().last(), QString("completed"));
            }
        }
    }

    // Each failure ends the run with one report naming its file. A source missing mid-job, its load failing
    // ahead: at its own operation. In each file type, a folder that cannot be written (a regular file, which
    // stops root too): the first path, once that image's operations are done; a destination naming a source
    // under another spelling or through a link: refused untouched. Earlier images stay.
    void failures()
    {
        makeSources(4);
        wrapConvert("sleep 0.3");
        const QStringList missing = QStringList(sources).replaceInStrings("source2", "gone");
        QCOMPARE(Job(missing, out.mid(0, 4), plan(4, 1)).run(),
                 QStringList({"0/4 0/1", "1/4 0/1", "2/4 0/1", "aborted 1 " + missing[2]}));
        QCOMPARE(entries(path("out")), QStringList({"0.tif", "1.tif"}));
        QVERIFY(TestTools::writeFile(path("blocker"), "a file, not a folder\n") && QDir().mkdir(path("sub")));
        QVERIFY(QFile::link(sources[1], path("link.ppm")));
        const QStringList blocked = {path("blocker/out0.img"), path("blocker/out1.img")};
        const QByteArray before = readFile(sources[1]);
        for (int format = 0; format < 4; ++format) {
            QCOMPARE(Job(sources, blocked, plan(3, 2, 2, 1), 0, format).run(),
                     QStringList({"0/2 0/2", "0/2 1/2", "aborted 0 " + blocked[0]}));
            const QStringList aliased = {out[0], path(format % 2 ? "./sub/../source1.ppm" : "link.ppm"),
                                         out[2]};
            QFile::remove(out[0]);
            QCOMPARE(Job(sources, aliased, plan(3, 1), 0, format).run(),
                     QStringList({"0/3 0/1", "1/3 0/1", "aborted 0 " + aliased[1]}));
            QCOMPARE(entries(path("out")), QStringList({"0.tif", "1.tif"}));
            QCOMPARE(readFile(sources[1]), before);
        }
    }

    // A first source that is no image, has no usable size, is absent, or is damaged and claims 11000 x 11000
    // pixels ends the run with a report naming it, before any operation and with nothing allocated for it;
    // so does a size whose accumulator the memory cannot hold (40000 x 16000 x 3 samples fit the sample
    // count but take 7.7 GB, beyond a 4 GB address space; the sanitizers need more than that for themselves).
    void firstSourceRefused()
    {
        makeSources(2);
        QVERIFY(sandbox->convert({"-size", "64x64", "plasma:", path("claims.jpg")}));
        QByteArray jpeg = readFile(path("claims.jpg"));
        // Its start of frame says 11000 x 11000.
        jpeg.replace(jpeg.indexOf("\xFF\xC0") + 5, 4, "\x2A\xF8\x2A\xF8");
        QVERIFY(TestTools::writeFile(path("claims.jpg"), jpeg)
                && TestTools::writeFile(path("notes.ppm"), "not an image\n"));
        rusage start, end;
        getrusage(RUSAGE_SELF, &start);
        for (const QStringList &first :
             QList<QStringList>{{path("notes.ppm"), sources[1]}, {path("claims.jpg"), sources[1]}, {}})
            QCOMPARE(Job(first, out.mid(0, 1), plan(2, 0)).run(), QStringList{"aborted 1 " + first.value(0)});
        getrusage(RUSAGE_SELF, &end);
        QVERIFY2(end.ru_maxrss - start.ru_maxrss < 200 * 1024,
                 qPrintable(QString("%1 kB").arg(end.ru_maxrss - start.ru_maxrss)));
        QStringList answers = {"0::4::16::srgb", "6::-4::16::srgb", "six::4::16::srgb", "6",
                               "100000::100000::16::srgb"};
        rlimit previous;
        QCOMPARE(getrlimit(RLIMIT_AS, &previous), 0);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        const rlimit limited = {rlim_t(4) << 30, previous.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_AS, &limited), 0);
        answers << "40000::16000::16::srgb";
#endif
        for (const QString &answer : answers) {
            QVERIFY(sandbox->addTool("identify", QString("printf '%1'").arg(answer)));
            QCOMPARE(Job(sources, out.mid(0, 1), plan(2, 0)).run(), QStringList{"aborted 1 " + sources[0]});
        }
        QCOMPARE(setrlimit(RLIMIT_AS, &previous), 0);
        QCOMPARE(entries(path("out")), QStringList());
    }

    void sameFilesAsTheWorker_data()
    {
        // The arguments, then the window's values: condition, option 1, option 2, fade, p1, p2, method,
        // format, quality, pattern. Sources from the folder, unless the arguments name a list (standard input
        // gets one with "\r\n").
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("values");
        QTest::newRow("all") << "-m darken --fade in-out --fade-in 20 --fade-out 60 -f png"
                             << "0 1 1 3 20 60 1 1 92 output****.png";
        QTest::newRow("previous") << "-c previous --fade in --fade-in 40 --quality 40 --from -"
                                  << "1 1 1 1 40 50 0 0 40 output****.jpg";
        QTest::newRow("groups") << "--from list.txt -c groups -g 4 --fade out --fade-out 30 -p g**.tif"
                                << "2 4 1 2 30 50 0 2 92 g**.tif";
        QTest::newRow("loop, mean") << "--condition=loop -g 4 -s 2 -m mean -f tiff16 -p l_***_*.tif"
                                    << "3 4 2 0 50 50 2 3 92 l_***_*.tif";
        QTest::newRow("disjoint, mean") << "-c disjoint -n 3 -g 5 -m mean -p m*.PNG"
                                        << "4 3 1 0 50 50 2 1 92 m*.PNG";
    }

    // The dry run lists the plan with the worker's own load counts, and the run writes the worker's bytes.
    void sameFilesAsTheWorker()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, values);
        makeNight();
        const QStringList options = (arguments + (arguments.contains("--from") ? "" : " night")).split(' ');
        const QByteArray list = sources.join("\r\n").toUtf8() + "\n\n";
        QTemporaryDir direct, viaStack;
        auto v = [&](int k) { return values.section(' ', k, k).toInt(); };
        const StackJob job =
            buildStackJob(sources, {int(sources.size()), v(0), v(1), v(2), v(3), v(4), v(5)}, direct.path(),
                          NamePattern(values.section(' ', 9)), v(6), v(7), v(8));
        const QStringList log = Job(job).run(); // "image/images operation/operations"
        QCOMPARE(log.last(), QString("completed"));

        const int images = job.destinationImages.size();
        QStringList plan{counted(images, "destination image")};
        for (int i = 0; i < images; ++i) {
            const int loads = log.filter(QRegularExpression(QString("^%1/").arg(i))).size();
            plan << path("night/" + QFileInfo(job.destinationImages[i]).fileName()) + '\t'
                    + counted(loads, "load");
            QList<QPair<int, double>> pairs = job.stackPlan[i].values();
            std::sort(pairs.begin(), pairs.end());
            for (const auto &[index, weight] : pairs)
                plan.last() += QString("\t%1 (%2)").arg(sources[index]).arg(weight, 0, 'g', 6);
        }
        plan << counted(log.size() - 1, "load") + " in all" << QString();
        QVERIFY2(stack(options + QStringList{"--dry-run"}, list) == 0, qPrintable(errors));
        QCOMPARE(printed.split('\n'), plan);
        QCOMPARE(entries(path("night")).size(), 8);

        // No progress lines off a terminal.
        QVERIFY2(stack(options + QStringList{"-o", viaStack.path()}, list) == 0 && errors.isEmpty(),
                 qPrintable(errors));
        QCOMPARE(printed, counted(images, "image") + " written to " + viaStack.path() + '\n');
        QCOMPARE(entries(viaStack.path()), entries(direct.path()));
        for (const QString &name : entries(direct.path()))
            QVERIFY2(readFile(direct.filePath(name)) == readFile(viaStack.filePath(name)), qPrintable(name));
    }

    // Usage errors (2) name what is wrong and write nothing; failures (1) name the file and keep the
    // images written before them.
    void refusalsAndFailures()
    {
        makeNight();
        QTemporaryDir folder;
        QVERIFY(TestTools::writeFile(path("broken.gif"), "not an image")
                && QDir(folder.path()).mkpath("output0002.jpg"));
        // What the message must show, then the arguments.
        const QStringList usage{"'x' -x night", "bogus -c bogus night", "'0' -g 0 night",
                                "101 --quality 101 night", "fade-in --fade-in x night", "gif -f gif night",
                                "mean -m mean --fade in night", "quality night --quality",
                                "destination -c groups -g 7 night", "nothere.txt --from nothere.txt",
                                "source", "source ."};
        const QStringList rows = usage
            + QStringList{"nothere.jpg -c previous night nothere.jpg", "deeper night -o nothere/deeper",
                          "frame1.jpg -c previous night -p frame*.jpg -o night",
                          "broken.gif -c previous night/frame1.jpg night/frame2.png broken.gif",
                          "output0002.jpg -c loop -g 6 -s 2 night"};
        for (int k = 0; k < rows.size(); ++k) {
            QStringList arguments = QStringList{"-o", folder.path()} + rows[k].split(' ');
            const QString named = arguments.takeAt(2);
            QVERIFY2(stack(arguments) == (k < usage.size() ? 2 : 1) && errors.contains(named),
                     qPrintable(rows[k] + ": " + errors));
            // The last two after two images were written, the last one after an image that needed no load.
            const QStringList written =
                k < rows.size() - 2 ? QStringList() : QStringList{"output0000.jpg", "output0001.jpg"};
            QCOMPARE(printed.left(16), QString(written.isEmpty() ? "" : "2 images written"));
            QCOMPARE(entries(folder.path()), written + QStringList("output0002.jpg"));
        }
        QVERIFY(stack({"--version"}) == 0 && stack({"--help"}) == 0
                && printed.startsWith("Usage: velumen-stack [OPTIONS] SOURCE..."));

        // SIGINT, SIGTERM or SIGHUP during a load ends the tool at once and leaves no partial file: exit 130.
        for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
            QTemporaryDir stopped;
            QFile::remove(path("tool.pid"));
            // Every load after the first image's would outlast the wait for the run's end; one that runs
            // ahead waits until that image is written.
            QVERIFY(sandbox->addForwardingTool(
                "convert", QString("case \"$*\" in *frame1.jpg*) ;; *) while [ ! -e %1/output0000.jpg ]; do "
                                   "sleep 0.05; done; echo $$ > tool.pid; exec sleep 600;; esac")
                               .arg(stopped.path())));
            QVERIFY2(stack({"-c", "previous", "night", "-o", stopped.path()}, {}, signalNumber) == 130,
                     qPrintable(errors));
            QCOMPARE(printed.section(" to ", 0, 0), QString("1 image written"));
            QCOMPARE(entries(stopped.path()), QStringList{"output0000.jpg"});
            QVERIFY(::kill(readFile(path("tool.pid")).trimmed().toInt(), 0) != 0);
        }
    }

    // A folder's files that the pattern in force makes for images 0 to n - 1 are an earlier run's results:
    // left out, with the count on standard error (not under -q or --quiet); files named one by one are
    // taken as they are.
    void earlierResultsLeftOut()
    {
        makeNight();
        const QStringList frames{"frame1.jpg",  "frame2.png",  "Frame3.TIF",
                                 "frame9.jpeg", "frame10.png", "frame11.tiff"};
        // Not results: a number after a gap, one the pattern never writes, and a PNG (until the pattern names
        // it).
        const QStringList kept{"output0000.png", "output0003.jpg", "output01234.jpg"};
        QVERIFY(QDir().mkpath(path("run")));
        for (const QString &name : kept + QStringList{"output0000.jpg", "output0001.jpg"})
            QVERIFY(QFile::copy(sources[0], path("night/") + name));
        for (int k = 0; k <= 10; ++k)
            QVERIFY(QFile::copy(sources[0], path("run/r%1.jpg").arg(k)));
        const auto planned = [&] { // the file names of the first destination image's sources
            QStringList names;
            for (const QString &field : printed.section('\n', 1, 1).split('\t').mid(2))
                names << QFileInfo(field.section(" (", 0, 0)).fileName();
            return names;
        };
        const QString notice = "velumen-stack: left out %1 whose names the destination pattern %2 makes, "
                               "as from an earlier run\n";
        QCOMPARE(stack({"night", "--dry-run"}), 0);
        QCOMPARE(planned(), frames + kept);
        QCOMPARE(errors, notice.arg("2 files", "output****.jpg"));
        // The default name follows the file type: now the PNG is the earlier result.
        QCOMPARE(stack({"night", "-f", "png", "--dry-run"}), 0);
        QCOMPARE(planned(), frames + QStringList({"output0000.jpg", "output0001.jpg"}) + kept.mid(1));
        // Numbers wider than the run are written in full; a folder of results alone gives no source.
        QVERIFY(stack({"run", "-p", "r*.jpg"}) == 2 && errors.startsWith(notice.arg("11 files", "r*.jpg")));
        QCOMPARE(stack({"-p", "frame*.jpg", "night/output0000.jpg", "night/frame1.jpg", "--dry-run"}), 0);
        QVERIFY(planned() == QStringList({"output0000.jpg", "frame1.jpg"}) && errors.isEmpty());
        for (const QString quiet : {"-q", "--quiet"})
            QVERIFY(stack({quiet, "night", "-o", path("out")}) == 0 && printed + errors == QString());
    }
};

QTEST_GUILESS_MAIN(TestExecuteThread)
#include "tst_executethread.moc"
