// Sources read in this process against the same jobs through the user's own tools (a tools folder of
// links to the real ones): the same files, reports and failures. Each frame decoded once, within its
// bound; Cancel and stop leave no process and no temporary file, on either path.

#include "decodescheduler.h"
#include "executethread.h"
#include "frameplan.h"
#include "image32.h"
#include "imageupdate.h"
#include "sourcefeed.h"
#include "stackjob.h"
#include "testtools.h"

#include <QtTest>

#include <unistd.h>

using TestTools::Job;
using TestTools::readFile;

namespace {

// The job writing <folder>/<image>.img into a folder made empty.
StackJob stackJob(const QStringList &sources, const StackSettings &settings, const QString &folder,
                  int method, int format)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const StackPlan plan = buildStackPlan(settings);
    QStringList outputs;
    for (int i = 0; i < plan.size(); ++i)
        outputs << QString("%1/%2.img").arg(folder).arg(i);
    return StackJob{sources, outputs, plan, method, format, 85, {}};
}

// Processes this one started that are still there (or never reaped).
int childrenLeft()
{
    int count = 0;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        const QByteArray stat = readFile("/proc/" + pid + "/stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        count += fields.size() > 1 && fields[1].toLongLong() == ::getpid();
    }
    return count;
}

} // namespace

class TestSourceFeed : public QObject
{
    Q_OBJECT

    QScopedPointer<TestTools::ToolSandbox> sandbox;

    QString path(const QString &name) const { return sandbox->filePath(name); }

    QString makeJpeg(const QString &name, const QString &size, const QStringList &options)
    {
        const QString file = path(name);
        sandbox->convert(QStringList{"-seed", QString::number(qHash(name)), "-size", size, "plasma:"}
                         << options << file);
        return file;
    }

    // The job here and through the user's own ImageMagick in a tools folder, which then decides every
    // source: logs and files must agree. Returns the log.
    // With pictures, the first and last running pictures must agree too (when the others come depends
    // on time).
    QStringList bothWays(const QStringList &sources, const StackSettings &settings, int method, int format,
                         bool pictures = false)
    {
        QStringList logs[2];
        QImage first[2], last[2];
        for (int own = 0; own < 2; ++own) {
            sandbox->removeTools();
            if (own && !(sandbox->addForwardingTool("convert") && sandbox->addForwardingTool("identify")))
                return {"no tools folder"};
            const int decodes = DecodeScheduler::decodeCount();
            const QString folder = path(own ? "tools-out" : "here-out");
            Job job(stackJob(sources, settings, folder, method, format));
            if (pictures)
                job.keepPictures();
            logs[own] = job.run().filter(QRegularExpression("^(?!picture)"));
            first[own] = job.pictures.value(0);
            last[own] = job.pictures.value(job.pictures.size() - 1);
            // The tools folder decides: nothing decoded here under it.
            if (own && DecodeScheduler::decodeCount() != decodes)
                return {"decoded beside the user's tools"};
        }
        sandbox->removeTools();
        const QStringList files = QDir(path("here-out")).entryList(QDir::Files);
        if (first[0] != first[1] || last[0] != last[1] || (pictures && last[0].isNull()))
            return {"last pictures differ"};
        if (logs[0] != logs[1] || files != QDir(path("tools-out")).entryList(QDir::Files))
            return {"logs differ: " + logs[0].join(',') + " | " + logs[1].join(',')};
        for (const QString &name : files) {
            if (readFile(path("here-out/" + name)) != readFile(path("tools-out/" + name)))
                return {"file differs: " + name};
        }
        return logs[0];
    }

private slots:
    void init()
    {
        sandbox.reset(new TestTools::ToolSandbox);
        QVERIFY(sandbox->isValid() && QDir().mkpath(path("tmp")));
        // Every temporary file of this process and its tools lands where the test can see it.
        qputenv("TMPDIR", path("tmp").toUtf8());
        qputenv("MAGICK_TMPDIR", path("tmp").toUtf8());
    }

    void cleanup()
    {
        for (const char *name : {"TMPDIR", "MAGICK_TMPDIR", "MAGICK_AREA_LIMIT"})
            qunsetenv(name);
        sandbox.reset();
    }

    // Every method, condition, fade and file type, over colour, gray, progressive, odd-sized and
    // differently sampled JPEGs; under "Mean" groups of 4 by 2 subtract and add. Then the kinds the
    // tools must judge, first or in the middle of a job: damaged, not a JPEG, CMYK.
    void sameAsTheTools()
    {
        const QStringList sources = {
            makeJpeg("a.jpg", "40x30", {"-quality", "90"}),
            makeJpeg("gray.jpg", "40x30", {"-colorspace", "Gray"}),
            makeJpeg("progressive.jpg", "40x30", {"-interlace", "JPEG", "-sampling-factor", "1x1"}),
            makeJpeg("odd.jpg", "41x29", {"-quality", "70"}),
            makeJpeg("sampled.jpg", "40x30", {"-sampling-factor", "2x1"}),
            makeJpeg("b.jpg", "40x30", {})};
        const int before = DecodeScheduler::decodeCount();
        for (int method = 0; method < 3; ++method) {
            for (int condition = 0; condition < 5; ++condition) {
                const int fade = method == 2 && condition == 2 ? 0 : (method + condition) % 4;
                const StackSettings settings{
                    6, condition, condition == 4 ? 2 : 4, method == 2 ? 2 : 1, fade, 30, 60};
                const QStringList log = bothWays(sources, settings, method, (method + 2 * condition) % 4);
                QVERIFY2(log.value(log.size() - 1) == "completed", qPrintable(log.join('\n')));
            }
        }
        QVERIFY(DecodeScheduler::decodeCount() > before);

        // Frames alike fold as runs, and an image that is one run is written from it: colour and gray,
        // both methods, every condition, a fade that ends a run, running pictures; after a source the
        // tools load, not from the run.
        QVERIFY(sandbox->convert({sources[4], "-negate", path("c.png")}));
        const QStringList grays = {sources[1], makeJpeg("gray2.jpg", "40x30", {"-colorspace", "Gray"})};
        // Wider than a picture: its blocks take the extreme of several samples.
        const QStringList wide = {makeJpeg("w1.jpg", "1300x9", {}), makeJpeg("w2.jpg", "1300x9", {})};
        const QStringList colour = {sources[0], sources[2], sources[4], sources[5]};
        const QStringList afterTools = {path("c.png"), colour[0], colour[1], colour[3]};
        for (const QStringList &set : {colour, grays, wide, afterTools}) {
            for (int method = 0; method < 2; ++method) {
                for (int condition = 0; condition < 4; ++condition) {
                    const int fadeOut = method == 1 && condition == 0 ? 2 : 0;
                    const StackSettings settings{int(set.size()), condition, 2, 1, fadeOut, 50, 50};
                    const QStringList log =
                        bothWays(set, settings, method, (method + condition) % 3, condition != 1);
                    QVERIFY2(log.value(log.size() - 1) == "completed", qPrintable(log.join('\n')));
                }
            }
        }

        QByteArray jpeg = readFile(sources[0]), corrupt = jpeg;
        for (int k = corrupt.size() / 2; k < corrupt.size() / 2 + 40; ++k)
            corrupt[k] = char(0xFF);
        QVERIFY(TestTools::writeFile(path("cut.jpg"), jpeg.left(jpeg.size() * 2 / 3))
                && TestTools::writeFile(path("corrupt.jpg"), corrupt)
                && sandbox->convert({sources[1], path("png:png.jpg")})
                && sandbox->convert({sources[0], "-colorspace", "CMYK", path("cmyk.jpg")}));
        for (const QString name : {"cut.jpg", "corrupt.jpg", "png.jpg", "cmyk.jpg"}) {
            for (int at : {0, 2}) {
                QStringList withIt = sources.mid(0, 4);
                withIt.insert(at, path(name));
                const QStringList log = bothWays(withIt, StackSettings{5, 1, 1, 1, 1, 50, 50}, 2, 3);
                QVERIFY2(log.last() == "completed" || log.last() == "aborted 1 " + path(name),
                         qPrintable(name + ": " + log.join('\n')));
            }
        }
    }

    // A run shows the image only at the image's size (frames of another size meet it at the corner),
    // and only over its starting value. An image made blank gets the starting value it lacks before it
    // is used, folded into or not.
    void runAloneAndStartingValue()
    {
        const QStringList sources = {makeJpeg("one.jpg", "41x30", {}), makeJpeg("two.jpg", "41x30", {})};
        SourceFeed::Bounds bounds;
        bounds.inProcess = true;
        bounds.room = qint64(1) << 30;
        SourceFeed feed(sources, {{0, 1.0}, {1, 1.0}, {0, 1.0}, {1, 1.0}}, 0, bounds, nullptr);
        Image32 image(40, 30, 48), wider(41, 30, 48);
        feed.startImage(image, false);
        feed.foldNext(image, SampleFold::Lighten);
        feed.foldNext(image, SampleFold::Lighten);
        SampleFold::Frame run{};
        QVERIFY(!feed.runAlone(image, &run) && feed.runAlone(wider, &run) && run.width == 41);
        // Once folded into, an image that is not refilled holds more than its next run.
        feed.flush(wider);
        feed.startImage(wider, false);
        feed.foldNext(wider, SampleFold::Lighten);
        feed.foldNext(wider, SampleFold::Lighten);
        QVERIFY(!feed.runAlone(wider, &run));
        SourceFeed darken({}, {}, 1, bounds, nullptr);
        Image32 blank(2, 2, 48);
        darken.startImage(blank, true);
        darken.flush(blank);
        QVERIFY(std::count(blank.samples, blank.samples + blank.sampleCount, 65535u) == blank.sampleCount);
    }

    // A sliding group loads each source once for every image it belongs to: here they decode once
    // (8 decodes for 20 operations), and through the user's tools every operation is one identify and
    // one convert. With room for fewer frames the plan decodes again the fewest it can, never keeps
    // more than its room, and the frames held at run time stay within the plan's kept ones plus
    // those ahead.
    void decodedOnceWithinBound()
    {
        QStringList sources;
        for (int k = 0; k < 8; ++k)
            sources << makeJpeg(QString("s%1.jpg").arg(k), "300x200", {});
        const StackSettings groups{8, 2, 5, 1, 0, 50, 50};
        const int before = DecodeScheduler::decodeCount();
        QCOMPARE(Job(stackJob(sources, groups, path("out"), 0, 1)).run().size(), 21);
        QCOMPARE(DecodeScheduler::decodeCount() - before, 8);
        QVERIFY(sandbox->addForwardingTool("convert", "echo >> converts.log")
                && sandbox->addForwardingTool("identify", "echo >> identifies.log"));
        QCOMPARE(Job(stackJob(sources, groups, path("out"), 0, 1)).run().size(), 21);
        QCOMPARE(readFile(path("converts.log")).size(), 20);
        QCOMPARE(readFile(path("identifies.log")).size(), 21);
        sandbox->removeTools();

        QVector<int> operations;
        for (const ImageUpdate &update : ImageUpdate::planned(buildStackPlan(groups), 4, 0)) {
            for (const ImageUpdate::Operation &operation : update.operations)
                operations << operation.source;
        }
        // 0-4 | 1-5 | 2-6 | 3-7: every operation decodes without room, every source once with room for
        // 4, and each frame of room in between saves decodes.
        int previous = 21;
        for (int room : {0, 1, 2, 3, 4, 9}) {
            const FramePlan plan(operations, room);
            const int decodes = plan.decodes().size();
            QVERIFY2((decodes < previous || decodes == 8) && decodes >= 8 && (room > 0 || decodes == 20)
                         && (room < 4 || decodes == 8),
                     qPrintable(QString("%1 decodes with room for %2").arg(decodes).arg(room)));
            previous = decodes;
            QVERIFY(plan.mostKept() <= qMin(room, 4));
            for (int k = 0; k < operations.size(); ++k) {
                const FramePlan::Decode &decode = plan.decodes().at(plan.decodeOf().at(k));
                QVERIFY(decode.source == operations[k] && decode.firstUse <= k && k <= decode.lastUse);
            }
            QVector<JpegDecoder::Header> headers;
            for (const QString &source : sources)
                headers << JpegDecoder::readHeader(source);
            DecodeScheduler scheduler(sources, headers, plan, 1, 3, nullptr);
            for (int k = 0; k < operations.size(); ++k) {
                const DecodeScheduler::Frame *frame = scheduler.frame(k);
                QVERIFY(frame && frame->header.width == 300);
                QThread::msleep(5); // the decodes ahead fill what room they have
                scheduler.release(k);
            }
            QVERIFY(scheduler.mostHeld() <= plan.mostKept() + 1 && scheduler.held() == 0);
        }
    }

    // Cancel and stop with frames kept and loads in flight, here and through the tools: a cancel writes
    // the image under way, a stop ends at once; no process and no temporary file is left, not even the
    // pixel cache a load run ahead keeps on disk (its area limit forces it there) when the load is
    // dropped.
    void cancelAndStopLeaveNothing()
    {
        QStringList sources;
        for (int k = 0; k < 6; ++k)
            sources << makeJpeg(QString("s%1.jpg").arg(k), "1200x900", {});
        sources.insert(3, path("s.ppm"));
        // A slow load through the tools, run ahead of its operations.
        QVERIFY(sandbox->convert({"-size", "3000x2000", "xc:gray", sources[3]}));
        qputenv("MAGICK_AREA_LIMIT", "1MP");
        for (const QString how : {"cancel here", "stop here", "cancel tools", "stop tools"}) {
            // On a stop, the slow load stands in for ImageMagick caught in its deadlock on the signal
            // to end: it keeps its pixel cache and goes on.
            const char *holding = "trap '' TERM; : > \"${MAGICK_TEMPORARY_PATH:-$TMPDIR}/magick-held\"; ";
            const QString hang = how == "stop tools" ? holding : "";
            if (how.endsWith("tools"))
                QVERIFY(sandbox->addForwardingTool("convert",
                                                   "case \"$*\" in *s0.jpg*) " + hang + "sleep 2;; esac"));
            Job job(stackJob(sources, StackSettings{7, 2, 5, 1, 0, 50, 50}, path("out"), 0, 0));
            job.thread.start();
            // Through the tools, a load ahead holds its pixel cache in a file; on a stop, once the
            // stand-in holds its own.
            const auto cached = [this](const QString &name) {
                return QDirIterator(path("tmp"), {name}, QDir::Files, QDirIterator::Subdirectories).hasNext();
            };
            const QString held = how == "stop tools" ? "magick-held" : "magick-*";
            QTRY_VERIFY_WITH_TIMEOUT(
                how.endsWith("tools") ? job.started == 1 && cached(held) : job.started >= 6, 30000);
            // A fold under way completes; unoptimised, under a sanitizer, that alone can take a second.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
            const int prompt = 3000;
#else
            const int prompt = 1000;
#endif
            const QDeadlineTimer deadline(how.startsWith("stop") ? prompt : 30000);
            how.startsWith("stop") ? job.thread.stop() : job.thread.cancel();
            QVERIFY(job.thread.wait(60000));
            QVERIFY2(!deadline.hasExpired(), qPrintable(how + " not prompt"));
            QVERIFY2(!job.log.contains("completed"), qPrintable(job.log.join(',')));
            QCOMPARE(childrenLeft(), 0);
            QCOMPARE(QDir(path("tmp")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList());
            QCOMPARE(QDir(path("out")).entryList(QDir::Files),
                     how.endsWith("here") ? QStringList{"0.img"} : QStringList());
        }
    }
};

QTEST_GUILESS_MAIN(TestSourceFeed)
#include "tst_sourcefeed.moc"
