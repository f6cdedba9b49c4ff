// The film of the destination images: its size, the real ffmpeg's file read back with ffprobe, a
// decoded frame against its image, and what Cancel, a stop, a failing source or a failing ffmpeg leave.

#include "executethread.h"
#include "testtools.h"
#include "videoencoder.h"

#include <QtTest>

#include <csignal>

using TestTools::readFile;

class TestVideo : public QObject
{
    Q_OBJECT

    QScopedPointer<TestTools::ToolSandbox> sandbox;
    const QString ffprobe = QStandardPaths::findExecutable("ffprobe");
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    const QString compare = QStandardPaths::findExecutable("compare");
    QStringList sources;
    QString movie;

    QString path(const QString &name) const { return sandbox->filePath(name); }

    static QString output(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        process.waitForFinished(120000);
        return QString(process.readAll()).trimmed();
    }

    // Runs the job of every source as "All previous images"; onImage(thread, i) runs in the worker
    // as each image's first operation starts. Returns how the run ended.
    QString run(int format, const QSize &bound, const std::function<void(ExecuteThread &, int)> &onImage = {})
    {
        StackSettings settings;
        settings.sourceCount = sources.size();
        settings.condition = 1;
        StackJob job =
            buildStackJob(sources, settings, sandbox->path(), NamePattern("out**.jpg"), 0, format, 90);
        job.videoFile = movie;
        job.videoFrameRate = 12;
        job.videoSize = bound;
        TestTools::Job worker(job);
        connect(&worker.thread, &ExecuteThread::operationStarted,
                [&](int i, int, int k) { k || !onImage ? void() : onImage(worker.thread, i); });
        return worker.run().filter(QRegularExpression("^\\D")).join(','); // not an operation's report
    }

    // The film's stream as ffprobe reads it, decoding every frame.
    QString probe() const
    {
        return output(ffprobe, {"-v", "error", "-count_frames", "-of", "csv=p=0", "-show_entries",
                                "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames,"
                                "color_space,color_primaries,color_transfer", movie});
    }

    // Temporary files and ffmpeg processes of this folder still there.
    QStringList leftovers() const
    {
        QStringList left = QDir(sandbox->path()).entryList({".velumen-*"}, QDir::Files | QDir::Hidden);
        for (const QString &pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs)) {
            const QByteArray command = readFile("/proc/" + pid + "/cmdline");
            if (command.contains("ffmpeg") && command.contains(sandbox->path().toUtf8()))
                left << "process " + pid;
        }
        return left;
    }

private slots:
    void init()
    {
        sandbox.reset(); // the old one puts the working folder back first
        sandbox.reset(new TestTools::ToolSandbox);
        QVERIFY(sandbox->isValid() && !ffprobe.isEmpty() && !ffmpeg.isEmpty());
        sources.clear();
        movie = path("film.mp4");
        // Odd sizes; a smooth field with a star that moves, so each frame differs.
        for (int k = 0; k < 5; ++k) {
            sources << path(QString("s%1.png").arg(k));
            QVERIFY(sandbox->convert({"-size", "331x221", "gradient:#203060-#a08040", "-fill", "white",
                                      "-draw",
                                      QString("circle %1,100 %2,100").arg(40 + 50 * k).arg(46 + 50 * k),
                                      sources.last()}));
        }
    }

    // Reduced to the bound from the writer's 8-bit copy, or at the images' own size rounded to even
    // from the 16-bit TIFF's own narrowing: one frame per image in order, each matching its image.
    void film_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QSize>("bound");
        QTest::addColumn<QString>("size");
        QTest::newRow("jpeg within 200x200") << 0 << QSize(200, 200) << "200,134";
        QTest::newRow("tiff16 own size") << 3 << QSize() << "330,220";
    }
    void film()
    {
        QFETCH(int, format);
        QFETCH(QSize, bound);
        QFETCH(QString, size);
        sources << sources.first(); // a frame equal to the one before it still counts
        QCOMPARE(run(format, bound), "completed");
        QCOMPARE(probe(), "h264," + size + ",yuv420p,bt709,bt709,bt709,12/1,6");
        const QByteArray bytes = readFile(movie);
        QVERIFY(bytes.indexOf("moov") < bytes.indexOf("mdat")); // the index first
        QCOMPARE(leftovers(), QStringList());
        // Frame 3 against image 3 (the pattern keeps .jpg; ImageMagick knows a TIFF by its content).
        const QString reference = path("ref.png"), frame = path("frame.png");
        QVERIFY(sandbox->convert({path("out03.jpg"), "-resize", size.replace(',', 'x') + '!', reference}));
        QCOMPARE(output(ffmpeg, {"-v", "error", "-i", movie, "-vf", "select=eq(n\\,3)", "-vsync", "0", "-y",
                                 frame}), "");
        const QString psnr = output(compare, {"-metric", "PSNR", frame, reference, "null:"});
        QVERIFY2(psnr.toDouble() > 35, qPrintable(psnr));
    }

    // After Cancel the images so far make a whole film; after a stop, a failing source or a failing
    // ffmpeg there is none, no temporary file and no ffmpeg, and the images written stay.
    void endings_data()
    {
        QTest::addColumn<QString>("ffmpegStandIn");
        QTest::addColumn<QString>("action"); // at image 3
        QTest::addColumn<QString>("log");
        QTest::addColumn<int>("images"); // 0: some
        QTest::newRow("cancel") << "" << "cancel" << "" << 4;
        QTest::newRow("stop") << "" << "stop" << "" << 3;
        QTest::newRow("failing source") << "" << "missing" << "aborted 1 %1/missing.png" << 3;
        QTest::newRow("crash midway") << "head -c 300000 >/dev/null; kill -SEGV $$" << "" << "aborted 0 %2"
                                      << 0;
        // As a full disk shows when the index is written at the end: part of a file, then a failure.
        QTest::newRow("fails at the end")
            << "cat >/dev/null; for a; do out=${a#file:}; done; echo part > \"$out\"; exit 1" << ""
            << "aborted 0 %2" << 5;
    }
    void endings()
    {
        QFETCH(QString, ffmpegStandIn);
        QFETCH(QString, action);
        QFETCH(QString, log);
        QFETCH(int, images);
        if (!ffmpegStandIn.isEmpty())
            QVERIFY(sandbox->addTool("ffmpeg", ffmpegStandIn));
        if (action == "missing")
            sources[3] = path("missing.png");
        const QString ended = run(0, VideoEncoder::defaultBound(), [&](ExecuteThread &thread, int i) {
            if (i == 3)
                action == "cancel" ? thread.cancel() : action == "stop" ? thread.stop() : void();
        });
        QCOMPARE(ended, log.replace("%1", sandbox->path()).replace("%2", movie));
        QCOMPARE(leftovers(), QStringList());
        const int written = QDir(sandbox->path()).entryList({"out*.jpg"}).size();
        QVERIFY2(images ? written == images : written > 0, qPrintable(QString::number(written)));
        if (action == "cancel")
            QCOMPARE(probe(), "h264,330,220,yuv420p,bt709,bt709,bt709,12/1,4");
        else
            QVERIFY(!QFile::exists(movie));
    }

    // velumen-stack: the film's default bound and name, the options reach the film; refusals come before
    // any load; a signal is a stop.
    void commandLine()
    {
        QCOMPARE(VideoEncoder::fittedSize({6000, 4000}, VideoEncoder::defaultBound()), QSize(3240, 2160));
        QCOMPARE(VideoEncoder::filmPath("/f", NamePattern("out****.jpg").withoutNumbers()), "/f/out.mp4");
        QCOMPARE(VideoEncoder::filmPath("/f", NamePattern("a*b**c.v.tif").withoutNumbers()), "/f/abc.v.mp4");
        QCOMPARE(VideoEncoder::filmPath("/f", NamePattern("****.png").withoutNumbers()), "/f/video.mp4");
        QProcess stack;
        stack.setWorkingDirectory(sandbox->path());
        auto start = [&](const QStringList &options) {
            stack.start(VELUMEN_STACK, QStringList{"-c", "previous", "-o", sandbox->path(), "--video", movie}
                                           + options + sources);
        };
        auto exitCode = [&](const QStringList &options) {
            start(options);
            return stack.waitForFinished(120000) ? stack.exitCode() : -1;
        };
        for (const QStringList &wrong :
             {QStringList{"--fps", "0"}, {"--fps", "121"}, {"--video-size", "1x9"}, {"--video-size", "3840"}})
            QCOMPARE(exitCode(wrong), 2);
        // No ffmpeg anywhere: refused before the job starts, as a usage error.
        QVERIFY(QDir(sandbox->path()).mkdir("bin") && QDir(sandbox->path()).mkdir("folder.mp4"));
        for (const QString tool : {"identify", "convert"})
            QVERIFY(QFile::link(QStandardPaths::findExecutable(tool), path("bin/" + tool)));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", path("bin"));
        stack.setProcessEnvironment(environment);
        QCOMPARE(exitCode({}), 2);
        QVERIFY(stack.readAllStandardError().contains("install the ffmpeg package"));
        stack.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        // A film that would replace a source or a folder.
        for (const QString &refused : {sources.at(1), path("folder.mp4")}) {
            movie = refused;
            QCOMPARE(exitCode({}), 1);
        }
        QCOMPARE(QDir(sandbox->path()).entryList({"out*"}), QStringList());
        movie = path("film.mp4");
        QCOMPARE(exitCode({"--fps", "30", "--video-size", "100x100"}), 0);
        QCOMPARE(probe(), "h264,100,66,yuv420p,bt709,bt709,bt709,30/1,5");
        QVERIFY(QFile::remove(movie) && QFile::remove(path("output0000.jpg")));
        // SIGTERM once the first image is written (again).
        QVERIFY(sandbox->addForwardingTool("convert", "sleep 0.3"));
        start({});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path("output0000.jpg")), 60000);
        ::kill(pid_t(stack.processId()), SIGTERM);
        QVERIFY(stack.waitForFinished(60000));
        QCOMPARE(stack.exitCode(), 130);
        QVERIFY(!QFile::exists(movie));
        QCOMPARE(leftovers(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestVideo)
#include "tst_video.moc"
