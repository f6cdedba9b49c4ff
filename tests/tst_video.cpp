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
    // as each image's first operation starts. The log holds the run's end.
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
        ExecuteThread thread;
        QString log;
        connect(
            &thread, &ExecuteThread::operationStarted, &thread,
            [&](int i, int, int k, int) {
                if (onImage && k == 0)
                    onImage(thread, i);
            },
            Qt::DirectConnection);
        connect(
            &thread, &ExecuteThread::completed, &thread, [&] { log = "completed"; }, Qt::DirectConnection);
        connect(
            &thread, &ExecuteThread::aborted, &thread,
            [&](bool open, const QString &f) { log = QString("aborted %1 %2").arg(open).arg(f); },
            Qt::DirectConnection);
        thread.setJob(job);
        thread.start();
        return thread.wait(300000) ? log : "did not end";
    }

    // The film's stream as ffprobe reads it, decoding every frame.
    QString probe() const
    {
        return output(ffprobe,
                      {"-v", "error", "-count_frames", "-show_entries",
                       "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames,color_space,"
                       "color_primaries,color_transfer:format=format_name",
                       "-of", "csv=p=0", movie});
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
            QVERIFY(sandbox->convert(
                {"-size", "331x221", "gradient:#203060-#a08040", "-fill", "white", "-draw",
                 QString("circle %1,100 %2,100").arg(40 + 50 * k).arg(46 + 50 * k), sources.last()}));
        }
    }

    void fitting()
    {
        QCOMPARE(VideoEncoder::fittedSize({6000, 4000}, VideoEncoder::defaultBound()), QSize(3240, 2160));
        QCOMPARE(VideoEncoder::fittedSize({4000, 6000}, {3840, 2160}), QSize(1440, 2160));
        QCOMPARE(VideoEncoder::fittedSize({1201, 801}, {3840, 2160}), QSize(1200, 800)); // never enlarged
        QCOMPARE(VideoEncoder::fittedSize({1201, 801}, QSize()), QSize(1200, 800));
        QCOMPARE(VideoEncoder::fittedSize({331, 221}, {200, 200}), QSize(200, 134));
        QCOMPARE(VideoEncoder::filmPath("/f", NamePattern("output****.jpg").withoutNumbers()),
                 "/f/output.mp4");
        QCOMPARE(VideoEncoder::filmPath("/f", NamePattern("a*b**c.v.tif").withoutNumbers()), "/f/abc.v.mp4");
        QCOMPARE(VideoEncoder::filmPath("/f", NamePattern("****.png").withoutNumbers()), "/f/video.mp4");
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
        sources << sources.first(); // a frame equal to the one before it still counts
        QFETCH(QString, size);
        QCOMPARE(run(format, bound), "completed");
        QCOMPARE(probe(), "h264," + size + ",yuv420p,bt709,bt709,bt709,12/1,6\n\"mov,mp4,m4a,3gp,3g2,mj2\"");
        const QByteArray bytes = readFile(movie);
        QVERIFY(bytes.indexOf("moov") < bytes.indexOf("mdat")); // the index first
        QCOMPARE(leftovers(), QStringList());
        for (int k : {0, 3}) {
            // The pattern keeps .jpg; ImageMagick knows a TIFF by its content.
            const QString image = path(QString("out%1.jpg").arg(k, 2, 10, QChar('0')));
            QVERIFY(
                sandbox->convert({image, "-resize", QString(size).replace(',', 'x') + "!", path("ref.png")}));
            QCOMPARE(output(ffmpeg,
                            {"-v", "error", "-i", movie, "-vf", QString("select=eq(n\\,%1)").arg(k), "-vsync",
                             "0", "-frames:v", "1", "-y", path("frame.png")}),
                     "");
            const double psnr =
                output(compare, {"-metric", "PSNR", path("frame.png"), path("ref.png"), "null:"}).toDouble();
            QVERIFY2(psnr > 35, qPrintable(QString("frame %1: %2 dB").arg(k).arg(psnr)));
        }
    }

    // After Cancel the images so far make a whole film; after a stop, a failing source or a failing
    // ffmpeg there is none, no temporary file and no ffmpeg, and the images written stay.
    void endings_data()
    {
        QTest::addColumn<QString>("ffmpegStandIn");
        QTest::addColumn<QString>("action"); // at image 3
        QTest::addColumn<QString>("log");
        QTest::addColumn<int>("images"); // 0: some
        QTest::newRow("cancel") << ""
                                << "cancel"
                                << "" << 4;
        QTest::newRow("stop") << ""
                              << "stop"
                              << "" << 3;
        QTest::newRow("failing source") << ""
                                        << "missing"
                                        << "aborted 1 %1/missing.png" << 3;
        QTest::newRow("crash midway") << "head -c 300000 >/dev/null; kill -SEGV $$"
                                      << ""
                                      << "aborted 0 %2" << 0;
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
        QCOMPARE(run(0, VideoEncoder::defaultBound(),
                     [&](ExecuteThread &thread, int i) {
                         if (i == 3 && action == "cancel")
                             thread.cancel();
                         if (i == 3 && action == "stop")
                             thread.stop();
                     }),
                 log.replace("%1", sandbox->path()).replace("%2", movie));
        QCOMPARE(leftovers(), QStringList());
        const int written = QDir(sandbox->path()).entryList({"out*.jpg"}).size();
        QVERIFY2(images ? written == images : written > 0, qPrintable(QString::number(written)));
        if (action == "cancel")
            QCOMPARE(probe(), "h264,330,220,yuv420p,bt709,bt709,bt709,12/1,4\n\"mov,mp4,m4a,3gp,3g2,mj2\"");
        else
            QVERIFY(!QFile::exists(movie));
    }

    // velumen-stack: the options reach the film; refusals come before any load; a signal is a stop.
    void commandLine()
    {
        QProcess stack;
        stack.setWorkingDirectory(sandbox->path());
        auto start = [&](const QStringList &options) {
            stack.start(VELUMEN_STACK,
                        QStringList{"-c", "previous", "-o", sandbox->path(), "--video", movie} + options
                            + sources);
        };
        auto exitCode = [&](const QStringList &options) {
            start(options);
            stack.waitForFinished(120000);
            return stack.exitCode();
        };
        QCOMPARE(exitCode({"--fps", "30", "--video-size", "100x100"}), 0);
        QCOMPARE(probe(), "h264,100,66,yuv420p,bt709,bt709,bt709,30/1,5\n\"mov,mp4,m4a,3gp,3g2,mj2\"");
        QVERIFY(QFile::remove(movie));
        for (const QString &image : QDir(sandbox->path()).entryList({"out*"}))
            QVERIFY(QFile::remove(path(image)));
        for (const QStringList &wrong : {QStringList{"--fps", "0"},
                                         {"--fps", "121"},
                                         {"--video-size", "1x100"},
                                         {"--video-size", "3840"}})
            QCOMPARE(exitCode(wrong), 2);
        // No ffmpeg anywhere: refused before the job starts, as a usage error.
        QVERIFY(QDir(sandbox->path()).mkdir("bin"));
        QVERIFY(QFile::link(QStandardPaths::findExecutable("identify"), path("bin/identify")));
        QVERIFY(QFile::link(QStandardPaths::findExecutable("convert"), path("bin/convert")));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", path("bin"));
        stack.setProcessEnvironment(environment);
        QCOMPARE(exitCode({}), 2);
        QVERIFY(stack.readAllStandardError().contains("install the ffmpeg package"));
        stack.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        // A film that would replace a source or a folder.
        movie = sources.at(1);
        QCOMPARE(exitCode({}), 1);
        movie = path("folder.mp4");
        QVERIFY(QDir(sandbox->path()).mkdir("folder.mp4"));
        QCOMPARE(exitCode({}), 1);
        QCOMPARE(QDir(sandbox->path()).entryList({"out*"}), QStringList());
        // SIGTERM once the first image is written.
        movie = path("film.mp4");
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
