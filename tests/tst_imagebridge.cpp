#include "atomicfilewriter.h"
#include "image32.h"
#include "testtools.h"
#include "toolrunner.h"

#include <QtTest>

#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>

#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using TestTools::readFile;
using TestTools::shellQuote;
using TestTools::writeFile;

namespace {

QByteArray rawBytes(const std::vector<quint32> &values, int bytesPerSample)
{
    QByteArray raw;
    for (quint32 value : values) {
        raw.append(char(value & 0xFF));
        if (bytesPerSample == 2)
            raw.append(char((value >> 8) & 0xFF));
    }
    return raw;
}

std::vector<quint32> samplesOf(const Image32 &image)
{
    return std::vector<quint32>(image.samples, image.samples + image.sampleCount);
}

std::unique_ptr<Image32> patternImage(int width, int height, int pixelDepth,
                                      const std::function<quint32(int)> &value)
{
    std::unique_ptr<Image32> image(new Image32(width, height, pixelDepth));
    for (qint32 i = 0; i < image->sampleCount; ++i)
        image->samples[i] = value(i);
    return image;
}

// Runs an action expected to throw; gives the exception's type, or -1 when nothing was thrown.
int thrownType(const std::function<void()> &action, QString *filename = nullptr)
{
    try {
        action();
    } catch (const Image32Exception &e) {
        if (filename)
            *filename = e.filename;
        return e.type;
    }
    return -1;
}

bool loadFails(const QString &file, const QString &options = QString(), int pixelDepth = 48,
               const std::atomic_bool *interrupt = nullptr)
{
    QString name;
    const int type = thrownType([&] { Image32 image(file, options, pixelDepth, interrupt); }, &name);
    if (type != Image32Exception::ReadFailed || name != file) {
        qWarning() << "load of" << file << "gave type" << type << "for" << name;
        return false;
    }
    return true;
}

QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".velumen-*")}, QDir::Files | QDir::Hidden);
}

// A minimal 8-bit gray TIFF carrying a private tag that libtiff warns about.
QByteArray tiffWithUnknownTag(const QByteArray &pixels, int width)
{
    QByteArray file("II");
    auto le16 = [&file](quint32 v) { file.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); };
    auto le32 = [&](quint32 v) { le16(v & 0xFFFF); le16(v >> 16); };
    le16(42);
    le32(quint32(8 + pixels.size()));
    file.append(pixels);
    const quint32 entries[][4] = {{256, 3, 1, quint32(width)}, {257, 3, 1, quint32(pixels.size() / width)},
                                  {258, 3, 1, 8}, {259, 3, 1, 1}, {262, 3, 1, 1}, {273, 4, 1, 8},
                                  {277, 3, 1, 1}, {278, 3, 1, quint32(pixels.size() / width)},
                                  {279, 4, 1, quint32(pixels.size())}, {65000, 3, 1, 7}};
    le16(10);
    for (const auto &entry : entries) {
        le16(entry[0]);
        le16(entry[1]);
        le32(entry[2]);
        le32(entry[3]);
    }
    le32(0);
    return file;
}

} // namespace

class TestImageBridge : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestTools::ToolSandbox> m_box;
    QStringList m_mounts;

    QString path(const QString &name) const { return m_box->filePath(name); }

    // Makes an image file from raw samples with the real convert.
    void makeFromRaw(const QString &file, int width, int height, const QString &map, int depth,
                     const std::vector<quint32> &values, const QStringList &extra = QStringList())
    {
        QVERIFY(writeFile(path(QStringLiteral("source.raw")), rawBytes(values, depth / 8)));
        QStringList arguments{QStringLiteral("-size"), QStringLiteral("%1x%2").arg(width).arg(height),
                              QStringLiteral("-depth"), QString::number(depth), QStringLiteral("-endian"),
                              QStringLiteral("LSB"), map + QStringLiteral(":source.raw")};
        QVERIFY(m_box->convert(arguments + extra + QStringList{QFileInfo(file).absoluteFilePath()}));
    }

    // The file's samples as the real convert gives them, low byte first. The file is copied to a plain
    // name first: ImageMagick misreads some names, which is the bridge's problem, not the checker's.
    QByteArray decodeWithConvert(const QString &file, const QString &map, int depth)
    {
        const QString plain = path(QStringLiteral("decode-check"));
        QFile::remove(plain);
        if (!QFile::copy(file, plain))
            return QByteArray();
        QByteArray output;
        if (!m_box->convert({plain, QStringLiteral("-depth"), QString::number(depth),
                             QStringLiteral("-endian"), QStringLiteral("LSB"), map + QStringLiteral(":-")},
                            &output))
            return QByteArray();
        return output;
    }

    bool mountTmpfs(const QString &folder, const QString &options)
    {
        QDir().mkpath(folder);
        QProcess mount;
        mount.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                               options, QStringLiteral("tmpfs"), folder});
        if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0)
            return false;
        m_mounts << folder;
        return true;
    }

    bool remount(const QString &folder, const QString &options)
    {
        QProcess mount;
        mount.start(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,") + options, folder});
        return mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
    }

    void unmountAll()
    {
        for (const QString &folder : qAsConst(m_mounts)) {
            QProcess umount;
            umount.start(QStringLiteral("umount"), {folder});
            umount.waitForFinished(10000);
        }
        m_mounts.clear();
    }

    // The five ways a destination image is written, each on an image that suits it.
    struct Writer
    {
        const char *name;
        QString suffix;
        std::function<void(const Image32 &, const QString &)> write;
        int pixelDepth;
    };
    static QList<Writer> writers()
    {
        return {
            {"JPEG", QStringLiteral("jpg"), [](const Image32 &i, const QString &f) { i.save(f, "JPG", 95); }, 48},
            {"PNG", QStringLiteral("png"), [](const Image32 &i, const QString &f) { i.save(f, "PNG", -1); }, 48},
            {"TIFF", QStringLiteral("tif"), [](const Image32 &i, const QString &f) { i.save(f, "TIFF", -1); }, 48},
            {"TIFF16", QStringLiteral("tif"), [](const Image32 &i, const QString &f) { i.saveTiff16(f); }, 48},
            {"TIFF16 gray", QStringLiteral("tif"), [](const Image32 &i, const QString &f) { i.saveTiff16(f); }, 16},
        };
    }

private slots:
    void init();
    void cleanup();

    void loadsEachFormatWithExactSamples();
    void weightingOptionsChangeSamplesAsTheToolSays();
    void jpegMatchesAnIndependentDecoder();
    void identifyAnswersOnlyForExistingFiles();
    void identifyOutputMustHoldFourFields();
    void streamLengthDecidesTheLoad();
    void failingReadToolsFailTheLoad();
    void interruptEndsARunningTool();
    void toolPastItsLimitIsAskedToEndThenKilled();
    void readToolPastThirtySecondsFailsTheLoad();
    void damagedSourcesFailAndMetadataWarningsDoNot();
    void argumentsReachTheToolsIntact();
    void awkwardFileNamesLoadAndSave();
    void saveWritesEachFormatReadableByOthers();
    void saveTiff16LaysOutTheFileExactly();
    void saveTiff16ReadsBackAtRealisticSize();
    void writeWithToolEncodesOtherChannelCounts();
    void failedToolWriteLeavesDestinationAlone();
    void failedWritesLeaveNoTrace();
    void fullOrReadOnlyDiskFailsEveryWriter();
};

void TestImageBridge::init()
{
    m_box.reset(new TestTools::ToolSandbox);
    QVERIFY2(m_box->isValid(), "no sandbox folder or no ImageMagick convert/identify on PATH");
}

void TestImageBridge::cleanup()
{
    unmountAll();
    m_box.reset();
}

void TestImageBridge::loadsEachFormatWithExactSamples()
{
    std::vector<quint32> wide(18), narrow(18), gray8(6), gray16(6), rgba8(24);
    for (int i = 0; i < 18; ++i) {
        wide[size_t(i)] = quint32(3617 * i + 17) & 0xFFFF;
        narrow[size_t(i)] = quint32(13 * i + 5) & 0xFF;
    }
    for (int i = 0; i < 6; ++i) {
        gray8[size_t(i)] = quint32(40 * i + 3);
        gray16[size_t(i)] = quint32(11000 * i + 259);
    }
    for (int i = 0; i < 24; ++i)
        rgba8[size_t(i)] = quint32(10 * i + 1);

    auto times257 = [](std::vector<quint32> v) {
        for (quint32 &s : v)
            s *= 257;
        return v;
    };
    auto grayToRgb = [](const std::vector<quint32> &v) {
        std::vector<quint32> out;
        for (quint32 s : v)
            out.insert(out.end(), {s, s, s});
        return out;
    };
    auto dropAlpha = [](const std::vector<quint32> &v) {
        std::vector<quint32> out;
        for (size_t i = 0; i < v.size(); ++i)
            if (i % 4 != 3)
                out.push_back(v[i]);
        return out;
    };

    struct Case
    {
        QString file, map;
        int depth;
        std::vector<quint32> values;
        QString identified;
        // At pixel depth -1: depth, channels, samples. At 48: samples.
        int ownDepth, ownChannels;
        std::vector<quint32> own, at48;
    };
    const QList<Case> cases{
        {"rgb16.png", "rgb", 16, wide, "3::2::16::srgb", 16, 3, wide, wide},
        {"rgb8.png", "rgb", 8, narrow, "3::2::8::srgb", 8, 3, narrow, times257(narrow)},
        {"gray8.png", "gray", 8, gray8, "3::2::8::gray", 8, 1, gray8, grayToRgb(times257(gray8))},
        {"gray16.png", "gray", 16, gray16, "3::2::16::gray", 16, 1, gray16, grayToRgb(gray16)},
        {"rgba8.png", "rgba", 8, rgba8, "3::2::8::srgba", 8, 3, dropAlpha(rgba8), times257(dropAlpha(rgba8))},
        {"rgb16.tif", "rgb", 16, wide, "3::2::16::srgb", 16, 3, wide, wide},
        {"gray8.tif", "gray", 8, gray8, "3::2::8::gray", 8, 1, gray8, grayToRgb(times257(gray8))},
    };
    for (const Case &c : cases) {
        const QString file = path(c.file);
        makeFromRaw(file, 3, 2, c.map, c.depth, c.values);
        QCOMPARE(identifyImage(file).join(QStringLiteral("::")), c.identified);

        Image32 own(file, QString(), -1);
        QCOMPARE(own.width, 3);
        QCOMPARE(own.height, 2);
        QCOMPARE(own.depth, c.ownDepth);
        QCOMPARE(own.channels, c.ownChannels);
        QCOMPARE(own.maxValue, c.ownDepth == 8 ? 255u : 65535u);
        QVERIFY2(samplesOf(own) == c.own, qPrintable(c.file));

        Image32 at48(file, QString(), 48);
        QCOMPARE(at48.depth, 16);
        QCOMPARE(at48.channels, 3);
        QCOMPARE(at48.channelMap, QStringLiteral("rgb"));
        QVERIFY2(samplesOf(at48) == c.at48, qPrintable(c.file));
    }

    // Alpha arrives when asked for by the pixel depth.
    Image32 withAlpha(path(QStringLiteral("rgba8.png")), QString(), 32);
    QVERIFY(samplesOf(withAlpha) == rgba8);

    // A flat gray JPEG decodes exactly.
    QVERIFY(m_box->convert({QStringLiteral("-size"), QStringLiteral("16x16"), QStringLiteral("xc:gray(100)"),
                            QStringLiteral("-colorspace"), QStringLiteral("gray"), QStringLiteral("-quality"),
                            QStringLiteral("90"), path(QStringLiteral("flat.jpg"))}));
    Image32 jpeg(path(QStringLiteral("flat.jpg")), QString(), 48);
    QCOMPARE(jpeg.width, 16);
    QCOMPARE(samplesOf(jpeg), std::vector<quint32>(16 * 16 * 3, 100 * 257));
    Image32 jpegOwn(path(QStringLiteral("flat.jpg")), QString(), -1);
    QCOMPARE(jpegOwn.channels, 1);
    QCOMPARE(samplesOf(jpegOwn), std::vector<quint32>(16 * 16, 100));
}

void TestImageBridge::weightingOptionsChangeSamplesAsTheToolSays()
{
    const std::vector<quint32> values{0, 1, 513, 1027, 40000, 65535};
    const QString file = path(QStringLiteral("weights.png"));
    makeFromRaw(file, 6, 1, QStringLiteral("gray"), 16, values);

    // The options text is split at white space, however much there is.
    for (const QString &options : {QStringLiteral("-function Polynomial 0.5,0.0"),
                                   QStringLiteral("  -function \t Polynomial   0.5,0.0 ")}) {
        Image32 half(file, options, 48);
        for (size_t i = 0; i < values.size(); ++i) {
            const double expected = values[i] * 0.5;
            for (int c = 0; c < 3; ++c)
                QVERIFY(qAbs(double(half.samples[3 * i + size_t(c)]) - expected) <= 1.0);
        }
    }
    Image32 lifted(file, QStringLiteral("-function Polynomial 0.2,0.8"), 16);
    for (size_t i = 0; i < values.size(); ++i)
        QVERIFY(qAbs(double(lifted.samples[i]) - (0.2 * values[i] + 0.8 * 65535)) <= 1.0);
    Image32 plain(file, QString(), 16);
    QCOMPARE(samplesOf(plain), values);
}

void TestImageBridge::jpegMatchesAnIndependentDecoder()
{
    const QString file = path(QStringLiteral("plasma.jpg"));
    QVERIFY(m_box->convert({QStringLiteral("-size"), QStringLiteral("96x64"), QStringLiteral("gradient:red-blue"),
                            QStringLiteral("-swirl"), QStringLiteral("90"), QStringLiteral("-quality"),
                            QStringLiteral("92"), file}));
    QImage reference(file);
    QVERIFY(!reference.isNull());
    reference = reference.convertToFormat(QImage::Format_RGB888);

    Image32 image(file, QString(), -1);
    QCOMPARE(image.width, 96);
    QCOMPARE(image.height, 64);
    QCOMPARE(image.channels, 3);
    int worst = 0;
    for (int y = 0; y < 64; ++y) {
        const uchar *row = reference.constScanLine(y);
        for (int x = 0; x < 96 * 3; ++x)
            worst = qMax(worst, qAbs(int(image.samples[y * 96 * 3 + x]) - int(row[x])));
    }
    // Two libjpeg set-ups may round a little differently, never by more.
    QVERIFY2(worst <= 2, qPrintable(QString::number(worst)));
}

void TestImageBridge::identifyAnswersOnlyForExistingFiles()
{
    makeFromRaw(path(QStringLiteral("b.png")), 3, 2, QStringLiteral("gray"), 16, std::vector<quint32>(6, 7));
    QCOMPARE(identifyImage(path(QStringLiteral("b.png"))), (QStringList{"3", "2", "16", "gray"}));
    // Names the tool would otherwise read as a frame list, a pattern, or a missing file.
    for (const QString &name : {QStringLiteral("b.png[0]"), QStringLiteral("b*.png"), QStringLiteral("b?png"),
                                QStringLiteral("missing.png"), QString()}) {
        QVERIFY2(identifyImage(path(name)).isEmpty(), qPrintable(name));
        QVERIFY(loadFails(path(name)));
    }
    // A folder is not an image either.
    QVERIFY(identifyImage(m_box->path()).isEmpty());
    QVERIFY(loadFails(m_box->path()));
    // A real file of two frames answers with seven fields.
    QVERIFY(m_box->convert({path(QStringLiteral("b.png")), path(QStringLiteral("b.png")),
                            path(QStringLiteral("two.tif"))}));
    QCOMPARE(identifyImage(path(QStringLiteral("two.tif"))).size(), 7);
    QVERIFY(loadFails(path(QStringLiteral("two.tif"))));
}

void TestImageBridge::identifyOutputMustHoldFourFields()
{
    const QString file = path(QStringLiteral("any.png"));
    makeFromRaw(file, 2, 1, QStringLiteral("gray"), 8, {1, 2});
    QVERIFY(m_box->addForwardingTool(QStringLiteral("convert")));

    const QStringList bad{QStringLiteral("printf '6000::4000::8'"), QStringLiteral("printf '2::1::8::srgb2::1::8::srgb'"),
                          QStringLiteral("exit 0"), QStringLiteral("printf '2::1::8::gray'; exit 1"),
                          QStringLiteral("printf 'x::1::8::gray'"), QStringLiteral("printf '2::1::0::gray'"),
                          // More samples than a 32-bit count holds: refused before any allocation.
                          QStringLiteral("printf '40000::40000::16::srgb'"), QStringLiteral("printf '-2::-3::8::srgb'")};
    for (const QString &body : bad) {
        QVERIFY(m_box->addTool(QStringLiteral("identify"), body));
        QVERIFY2(loadFails(file, QString(), -1), qPrintable(body));
    }

    // A trailing line end is not part of the channel description.
    QVERIFY(m_box->addTool(QStringLiteral("identify"), QStringLiteral("echo '2::1::16::gray'")));
    QVERIFY(m_box->addTool(QStringLiteral("convert"), QStringLiteral("printf '\\001\\002\\003\\004'")));
    Image32 gray(file, QString(), -1);
    QCOMPARE(gray.channels, 1);
    QCOMPARE(gray.depth, 16);
    QCOMPARE(samplesOf(gray), (std::vector<quint32>{0x0201, 0x0403}));

    // With a fixed pixel depth the file's depth and channels are ignored.
    QVERIFY(m_box->addTool(QStringLiteral("identify"), QStringLiteral("printf '1::1::8::gray'")));
    QVERIFY(m_box->addTool(QStringLiteral("convert"),
                           QStringLiteral("printf '%s\\n' \"$@\" > args.txt; printf '\\001\\000\\002\\000\\003\\001'")));
    Image32 colour(file, QString(), 48);
    QCOMPARE(samplesOf(colour), (std::vector<quint32>{1, 2, 0x0103}));
    const QStringList arguments = QString::fromUtf8(readFile(path(QStringLiteral("args.txt")))).split('\n');
    QVERIFY(arguments.contains(QStringLiteral("rgb:-")));
    QCOMPARE(arguments.at(arguments.indexOf(QStringLiteral("-depth")) + 1), QStringLiteral("16"));
}

void TestImageBridge::streamLengthDecidesTheLoad()
{
    const QString file = path(QStringLiteral("any.png"));
    makeFromRaw(file, 3, 1, QStringLiteral("gray"), 8, {1, 2, 3});
    QVERIFY(m_box->addTool(QStringLiteral("identify"), QStringLiteral("printf '3::1::16::gray'")));

    // Five bytes for three 16-bit samples: the last sample would be a silent zero.
    QVERIFY(m_box->addTool(QStringLiteral("convert"), QStringLiteral("printf '\\001\\000\\002\\000\\003'")));
    QVERIFY(loadFails(file, QString(), -1));
    QVERIFY(m_box->addTool(QStringLiteral("convert"), QStringLiteral("exit 0")));
    QVERIFY(loadFails(file, QString(), -1));

    // Surplus bytes are ignored.
    QVERIFY(m_box->addTool(QStringLiteral("identify"), QStringLiteral("printf '3::1::8::gray'")));
    QVERIFY(m_box->addTool(QStringLiteral("convert"), QStringLiteral("printf '\\011\\012\\013\\014\\015'")));
    Image32 eight(file, QString(), -1);
    QCOMPARE(samplesOf(eight), (std::vector<quint32>{9, 10, 11}));

    // A stream of many pieces, split at odd offsets, lands whole: 3 MB through the pipe.
    const int side = 1024;
    QVERIFY(m_box->addTool(QStringLiteral("identify"), QStringLiteral("printf '%1::%1::16::gray'").arg(side)));
    QVERIFY(m_box->addTool(QStringLiteral("convert"),
                           QStringLiteral("head -c 1 /dev/zero; head -c %1 /dev/zero | tr '\\000' '\\377'")
                               .arg(side * side * 2 - 1)));
    Image32 big(file, QString(), -1);
    QCOMPARE(big.samples[0], 0xFF00u);
    QVERIFY(std::all_of(big.samples + 1, big.samples + big.sampleCount, [](quint32 s) { return s == 0xFFFF; }));
}

void TestImageBridge::failingReadToolsFailTheLoad()
{
    const QString file = path(QStringLiteral("ok.png"));
    makeFromRaw(file, 2, 1, QStringLiteral("gray"), 8, {1, 2});
    QVERIFY(m_box->addForwardingTool(QStringLiteral("identify")));

    const QString fullStream = QStringLiteral("printf '\\001\\000\\002\\000\\003\\000\\004\\000\\005\\000\\006\\000'");
    // A full stream with a failure status, a crash after a full stream, a short stream, nothing at all.
    const QStringList bodies{fullStream + QStringLiteral("; exit 1"),
                             fullStream + QStringLiteral("; kill -SEGV $$"),
                             QStringLiteral("printf '\\001\\000\\002'"),
                             QStringLiteral("echo 'convert: unable to open image' >&2; exit 1")};
    for (const QString &body : bodies) {
        QVERIFY(m_box->addTool(QStringLiteral("convert"), body));
        QVERIFY2(loadFails(file), qPrintable(body));
    }
    // Sanity: the same stand-in with a clean end loads.
    QVERIFY(m_box->addTool(QStringLiteral("convert"), fullStream));
    Image32 fine(file, QString(), 48);
    QCOMPARE(samplesOf(fine), (std::vector<quint32>{1, 2, 3, 4, 5, 6}));

    // A tool that cannot be started.
    QVERIFY(QFile::setPermissions(path(QStringLiteral("tools/convert")), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(loadFails(file));
    QVERIFY(QFile::setPermissions(path(QStringLiteral("tools/identify")), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(identifyImage(file).isEmpty());

    // Without a tools folder the tools on the search path are used.
    m_box->removeTools();
    Image32 system(file, QString(), 8);
    QCOMPARE(samplesOf(system), (std::vector<quint32>{1, 2}));
}

void TestImageBridge::interruptEndsARunningTool()
{
    const QString file = path(QStringLiteral("ok.png"));
    makeFromRaw(file, 2, 1, QStringLiteral("gray"), 8, {1, 2});

    for (const QString &hanging : {QStringLiteral("identify"), QStringLiteral("convert")}) {
        m_box->removeTools();
        QVERIFY(m_box->addForwardingTool(QStringLiteral("identify")));
        QVERIFY(m_box->addTool(hanging, QStringLiteral("exec sleep 120")));
        std::atomic_bool interrupt(false);
        std::thread setter([&interrupt] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            interrupt = true;
        });
        QElapsedTimer timer;
        timer.start();
        const bool failed = loadFails(file, QString(), 48, &interrupt);
        setter.join();
        QVERIFY2(failed, qPrintable(hanging));
        // Well before the tool's time limit: the flag, not the limit, ended it.
        QVERIFY(timer.elapsed() < 20000);
    }
    // A flag that is already set stops the load before anything is delivered.
    m_box->removeTools();
    std::atomic_bool set(true);
    QVERIFY(loadFails(file, QString(), 48, &set));
}

void TestImageBridge::toolPastItsLimitIsAskedToEndThenKilled()
{
    // A tool that cleans up on the request to end gets the chance to.
    QVERIFY(m_box->addTool(QStringLiteral("polite"),
                           QStringLiteral("trap 'echo cleaned > cleaned.txt; exit 0' TERM\n"
                                          "printf partial\nwhile :; do sleep 0.1; done")));
    ToolRunner polite(path(QStringLiteral("tools/polite")), {});
    polite.setTimeLimit(500);
    QByteArray received;
    polite.setOutputSink([&received](const char *data, qint64 size) {
        received.append(data, int(size));
        return true;
    });
    QVERIFY(!polite.run());
    QVERIFY(polite.timedOut());
    QCOMPARE(received, QByteArray("partial"));
    QCOMPARE(readFile(path(QStringLiteral("cleaned.txt"))), QByteArray("cleaned\n"));

    // One that ignores it is killed.
    QVERIFY(m_box->addTool(QStringLiteral("stubborn"), QStringLiteral("trap '' TERM\nwhile :; do sleep 0.1; done")));
    ToolRunner stubborn(path(QStringLiteral("tools/stubborn")), {});
    stubborn.setTimeLimit(300);
    QVERIFY(!stubborn.run());
    QVERIFY(stubborn.timedOut());
}

void TestImageBridge::readToolPastThirtySecondsFailsTheLoad()
{
    const QString file = path(QStringLiteral("ok.png"));
    makeFromRaw(file, 2, 1, QStringLiteral("gray"), 8, {1, 2});
    QVERIFY(m_box->addForwardingTool(QStringLiteral("identify")));
    // Delivers the whole stream, then hangs; on the request to end it tidies up and exits cleanly.
    QVERIFY(m_box->addTool(QStringLiteral("convert"),
                           QStringLiteral("trap 'echo cleaned > cleaned.txt; exit 0' TERM\n"
                                          "printf '\\001\\000\\002\\000\\003\\000\\004\\000\\005\\000\\006\\000'\n"
                                          "while :; do sleep 0.1; done")));
    QVERIFY(loadFails(file));
    QCOMPARE(readFile(path(QStringLiteral("cleaned.txt"))), QByteArray("cleaned\n"));
}

void TestImageBridge::damagedSourcesFailAndMetadataWarningsDoNot()
{
    const QString jpeg = path(QStringLiteral("whole.jpg"));
    QVERIFY(m_box->convert({QStringLiteral("-size"), QStringLiteral("64x48"), QStringLiteral("plasma:fractal"),
                            QStringLiteral("-quality"), QStringLiteral("90"), jpeg}));
    const QByteArray jpegBytes = readFile(jpeg);
    QVERIFY(writeFile(path(QStringLiteral("truncated.jpg")), jpegBytes.left(jpegBytes.size() / 2)));

    const QString png = path(QStringLiteral("whole.png"));
    QVERIFY(m_box->convert({QStringLiteral("-size"), QStringLiteral("64x48"), QStringLiteral("gradient:red-blue"), png}));
    const QByteArray pngBytes = readFile(png);
    QVERIFY(writeFile(path(QStringLiteral("truncated.png")), pngBytes.left(pngBytes.size() / 2)));
    QVERIFY(writeFile(path(QStringLiteral("endless.png")), pngBytes.left(pngBytes.size() - 12)));
    QVERIFY(writeFile(path(QStringLiteral("empty.jpg")), QByteArray()));
    QVERIFY(writeFile(path(QStringLiteral("text.jpg")), "These are not the pixels you are looking for.\n"));

    for (const QString &name : {QStringLiteral("truncated.jpg"), QStringLiteral("truncated.png"),
                                QStringLiteral("endless.png"), QStringLiteral("empty.jpg"), QStringLiteral("text.jpg")}) {
        QVERIFY2(loadFails(path(name)), qPrintable(name));
        QVERIFY2(loadFails(path(name), QString(), -1), qPrintable(name));
    }

    // A JPEG whose JFIF header names an unknown revision draws a warning but holds the same pixels.
    QByteArray odd = jpegBytes;
    const int jfif = odd.indexOf(QByteArray("JFIF\0", 5));
    QVERIFY(jfif > 0);
    odd[jfif + 5] = 3;
    QVERIFY(writeFile(path(QStringLiteral("oddheader.jpg")), odd));
    Image32 reference(jpeg, QString(), 48);
    Image32 warned(path(QStringLiteral("oddheader.jpg")), QString(), 48);
    QCOMPARE(samplesOf(warned), samplesOf(reference));

    // A TIFF with a tag libtiff does not know loads with its exact samples.
    QVERIFY(writeFile(path(QStringLiteral("tagged.tif")), tiffWithUnknownTag(QByteArray("\x0a\xc8\x10\x20", 4), 2)));
    Image32 tagged(path(QStringLiteral("tagged.tif")), QString(), -1);
    QCOMPARE(tagged.channels, 1);
    QCOMPARE(samplesOf(tagged), (std::vector<quint32>{10, 200, 16, 32}));
}

void TestImageBridge::argumentsReachTheToolsIntact()
{
    QDir().mkpath(path(QStringLiteral("my photos")));
    const QString file = path(QStringLiteral("my photos/-night \"1\" (a) zażółć.png"));
    makeFromRaw(file, 2, 1, QStringLiteral("rgb"), 16, {1, 2, 3, 4, 5, 6});
    for (const QString &tool : {QStringLiteral("identify"), QStringLiteral("convert")}) {
        const QString real = tool == QLatin1String("identify") ? m_box->realIdentify() : m_box->realConvert();
        QVERIFY(m_box->addTool(tool, QStringLiteral("printf '%s\\n' \"$@\" > %1\nexec %2 \"$@\"")
                                         .arg(shellQuote(path(tool + QStringLiteral(".args"))), shellQuote(real))));
    }
    // A comma decimal separator in the user's locale changes nothing.
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    Image32 image(file, QStringLiteral("-function Polynomial 0.5,0.0"), 48);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(samplesOf(image), (std::vector<quint32>{1, 1, 2, 2, 3, 3}));

    auto argumentsOf = [this](const QString &tool) {
        QStringList list = QString::fromUtf8(readFile(path(tool + QStringLiteral(".args")))).split('\n');
        list.removeLast();
        return list;
    };
    QCOMPARE(argumentsOf(QStringLiteral("identify")),
             (QStringList{"-format", "%w::%h::%z::%[channels]", QFileInfo(file).absoluteFilePath()}));
    QCOMPARE(argumentsOf(QStringLiteral("convert")),
             (QStringList{QFileInfo(file).absoluteFilePath(), "-depth", "16", "-function", "Polynomial", "0.5,0.0",
                          "-endian", "LSB", "rgb:-"}));

    // A name ImageMagick could misread reaches it as a plain link to the file, gone after the load.
    const QString risky = path(QStringLiteral("my photos/[b] 50%.png"));
    QVERIFY(QFile::copy(file, risky));
    Image32 same(risky, QString(), 48);
    QCOMPARE(samplesOf(same), (std::vector<quint32>{1, 2, 3, 4, 5, 6}));
    for (const QString &tool : {QStringLiteral("identify"), QStringLiteral("convert")}) {
        const QStringList arguments = argumentsOf(tool);
        const QString input = tool == QLatin1String("identify") ? arguments.last() : arguments.first();
        QVERIFY2(input.endsWith(QStringLiteral("/source.png")) && !input.contains('['), qPrintable(input));
        QVERIFY(!QFileInfo::exists(input));
    }

    // The re-encoding tool gets the raw file and its output as names of its own in the destination folder.
    Image32 gray(3, 2, 16);
    gray.saveTiff16(path(QStringLiteral("my photos/out%d.tif")));
    const QStringList write = argumentsOf(QStringLiteral("convert"));
    QCOMPARE(write.mid(0, 6), (QStringList{"-size", "3x2", "-depth", "16", "-endian", "LSB"}));
    QVERIFY(write.at(6).startsWith(QStringLiteral("gray:./.velumen-")));
    QCOMPARE(write.mid(7, 2), (QStringList{"-depth", "16"}));
    QVERIFY(write.at(9).startsWith(QStringLiteral("./.velumen-")));
    QVERIFY(write.at(9).endsWith(QStringLiteral(".tif")));
    QCOMPARE(write.size(), 10);
    QVERIFY(QFileInfo(path(QStringLiteral("my photos/out%d.tif"))).size() > 0);
}

void TestImageBridge::awkwardFileNamesLoadAndSave()
{
    const std::vector<quint32> values{100, 200, 300, 40000, 50000, 60000};
    const QString reference = path(QStringLiteral("reference.png"));
    makeFromRaw(reference, 2, 1, QStringLiteral("rgb"), 16, values);
    const QByteArray referenceBytes = readFile(reference);

    const QString folder = path(QStringLiteral("dir %d [1] zażółć"));
    QVERIFY(QDir().mkpath(folder));
    const QStringList names{
        QStringLiteral("say \"cheese\".png"), QStringLiteral("two  spaces .png"), QStringLiteral("-rf.png"),
        QStringLiteral("frame[1].png"), QStringLiteral("crop[2x2+0+0].png"), QStringLiteral("scene%d.png"),
        QStringLiteral("100%.png"), QStringLiteral("zażółć gęślą jaźń.png"), QStringLiteral("@list.png"),
        QStringLiteral("png:prefixed.png"), QStringLiteral("star*?.png"), QStringLiteral("it's.png"),
    };
    for (const QString &name : names) {
        const QString file = QDir(folder).filePath(name);
        QVERIFY(writeFile(file, referenceBytes));
        Image32 image(file, QString(), 48);
        QVERIFY2(samplesOf(image) == values, qPrintable(name));

        const QString png = QDir(folder).filePath(QStringLiteral("out ") + name);
        image.save(png, "PNG", -1);
        const QImage written(png, "PNG");
        QVERIFY2(!written.isNull(), qPrintable(name));
        QCOMPARE(written.pixel(1, 0), qRgb(40000 >> 8, 50000 >> 8, 60000 >> 8));

        const QString tiff = QDir(folder).filePath(name + QStringLiteral(".tif"));
        Image32 gray(2, 1, 16);
        gray.samples[0] = 1234;
        gray.samples[1] = 54321;
        gray.saveTiff16(tiff);
        QCOMPARE(decodeWithConvert(tiff, QStringLiteral("gray"), 16), rawBytes({1234, 54321}, 2));
    }
    // Nothing else appeared: no expanded '%', no frame-numbered siblings, no temporary files.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), names.size() * 3);
}

void TestImageBridge::saveWritesEachFormatReadableByOthers()
{
    // Five pixels wide, three rows: any row padding or shear moves samples between rows.
    auto colour = patternImage(5, 3, 48, [](int i) { return quint32(i * 3411 + 0x12FF) & 0xFFFF; });
    for (const char *format : {"PNG", "TIFF"}) {
        const QString file = path(QStringLiteral("colour.") + QString::fromLatin1(format).toLower());
        colour->save(file, format, -1);
        const QImage read = QImage(file).convertToFormat(QImage::Format_RGB888);
        QCOMPARE(read.size(), QSize(5, 3));
        const QByteArray decoded = decodeWithConvert(file, QStringLiteral("rgb"), 8);
        QCOMPARE(decoded.size(), 45);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 15; ++x) {
                const uchar expected = uchar(colour->samples[y * 15 + x] >> 8);
                QCOMPARE(read.constScanLine(y)[x], expected);
                QCOMPARE(uchar(decoded[y * 15 + x]), expected);
            }
        }
    }
    QCOMPARE(identifyImage(path(QStringLiteral("colour.tiff"))).join(QStringLiteral("::")),
             QStringLiteral("5::3::8::srgb"));

    // JPEG: a flat image comes back nearly flat at the right size; the quality is honoured.
    auto flat = patternImage(32, 16, 48, [](int) { return 0x8080u; });
    flat->save(path(QStringLiteral("flat.jpg")), "JPG", 90);
    const QImage jpeg(path(QStringLiteral("flat.jpg")), "JPG");
    QCOMPARE(jpeg.size(), QSize(32, 16));
    QVERIFY(qAbs(qRed(jpeg.pixel(7, 7)) - 0x80) <= 1);
    auto noisy = patternImage(64, 64, 48, [](int i) { return quint32((i * 2654435761u) >> 16); });
    noisy->save(path(QStringLiteral("low.jpg")), "JPG", 10);
    noisy->save(path(QStringLiteral("high.jpg")), "JPG", 100);
    QVERIFY(QFileInfo(path(QStringLiteral("low.jpg"))).size() < QFileInfo(path(QStringLiteral("high.jpg"))).size());
    QCOMPARE(identifyImage(path(QStringLiteral("high.jpg"))).join(QStringLiteral("::")),
             QStringLiteral("64::64::8::srgb"));

    // Gray stays gray, alpha stays alpha, depth 8 keeps its samples.
    auto gray = patternImage(3, 1, 16, [](int i) { return quint32(0x1100 * (i + 1) + 0xFF); });
    gray->save(path(QStringLiteral("gray.png")), "PNG", -1);
    QCOMPARE(identifyImage(path(QStringLiteral("gray.png"))).join(QStringLiteral("::")), QStringLiteral("3::1::8::gray"));
    QCOMPARE(decodeWithConvert(path(QStringLiteral("gray.png")), QStringLiteral("gray"), 8), QByteArray("\x11\x22\x33"));
    auto alpha = patternImage(1, 1, 32, [](int i) { return quint32(i * 60 + 10); });
    alpha->save(path(QStringLiteral("alpha.png")), "PNG", -1);
    QCOMPARE(QImage(path(QStringLiteral("alpha.png"))).pixel(0, 0), qRgba(10, 70, 130, 190));

    // An existing file is replaced, through a link the file it points to; a format nobody knows is
    // refused and writes nothing.
    QVERIFY(QFile::link(path(QStringLiteral("colour.png")), path(QStringLiteral("link.png"))));
    gray->save(path(QStringLiteral("link.png")), "PNG", -1);
    QVERIFY(QFileInfo(path(QStringLiteral("link.png"))).isSymLink());
    QCOMPARE(QImage(path(QStringLiteral("colour.png"))).size(), QSize(3, 1));
    QString name;
    QCOMPARE(thrownType([&] { gray->save(path(QStringLiteral("x.xyz")), "XYZ", -1); }, &name),
             int(Image32Exception::WriteFailed));
    QCOMPARE(name, path(QStringLiteral("x.xyz")));
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("x.xyz"))));
    QVERIFY(leftovers(m_box->path()).isEmpty());
}

void TestImageBridge::saveTiff16LaysOutTheFileExactly()
{
    Image32 pixel(1, 1, 48);
    pixel.samples[0] = 0x1234;
    pixel.samples[1] = 0xABCD;
    pixel.samples[2] = 0x10001; // only the low 16 bits are written
    pixel.saveTiff16(path(QStringLiteral("one.tif")));

    QByteArray expected(258, '\0');
    auto put16 = [&expected](int at, int v) { expected[at] = char(v & 0xFF); expected[at + 1] = char(v >> 8); };
    auto put32 = [&](int at, int v) { put16(at, v & 0xFFFF); put16(at + 2, v >> 16); };
    expected[0] = 'I';
    expected[1] = 'I';
    put16(2, 42);
    put32(4, 14);
    put16(8, 0x1234);
    put16(10, 0xABCD);
    put16(12, 0x0001);
    put16(14, 11);
    const int entries[11][4] = {{256, 3, 1, 1}, {257, 3, 1, 1}, {258, 3, 3, 152}, {259, 3, 1, 1},
                                {262, 3, 1, 2}, {266, 3, 1, 1}, {273, 4, 1, 8},   {274, 3, 1, 1},
                                {277, 3, 1, 3}, {279, 4, 1, 6}, {284, 3, 1, 1}};
    for (int e = 0; e < 11; ++e) {
        put16(16 + 12 * e, entries[e][0]);
        put16(18 + 12 * e, entries[e][1]);
        put32(20 + 12 * e, entries[e][2]);
        put32(24 + 12 * e, entries[e][3]);
    }
    put16(152, 16);
    put16(154, 16);
    put16(156, 16);
    QCOMPARE(readFile(path(QStringLiteral("one.tif"))), expected);

    // Depth 8 is widened: 255 becomes 65280.
    Image32 eight(1, 1, 24);
    eight.samples[0] = 255;
    eight.samples[1] = 1;
    eight.samples[2] = 0;
    eight.saveTiff16(path(QStringLiteral("eight.tif")));
    QCOMPARE(readFile(path(QStringLiteral("eight.tif"))).mid(8, 6), QByteArray("\x00\xff\x00\x01\x00\x00", 6));

    // Sizes the SHORT fields cannot hold are refused, and nothing is written.
    for (const QSize &size : {QSize(65536, 1), QSize(1, 70000)}) {
        Image32 huge(size.width(), size.height(), 48);
        QString name;
        QCOMPARE(thrownType([&] { huge.saveTiff16(path(QStringLiteral("huge.tif"))); }, &name),
                 int(Image32Exception::WriteFailed));
        QCOMPARE(name, path(QStringLiteral("huge.tif")));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("huge.tif"))));
    }
    Image32 widest(65535, 1, 48);
    widest.saveTiff16(path(QStringLiteral("widest.tif")));
    QProcess tiffinfo;
    tiffinfo.start(QStringLiteral("tiffinfo"), {path(QStringLiteral("widest.tif"))});
    QVERIFY(tiffinfo.waitForFinished(60000));
    QVERIFY(QString::fromUtf8(tiffinfo.readAllStandardOutput()).contains(QStringLiteral("Image Width: 65535 Image Length: 1")));
}

void TestImageBridge::saveTiff16ReadsBackAtRealisticSize()
{
    const int width = 3000, height = 2000;
    auto image = patternImage(width, height, 48, [](int i) { return quint32(i * 7919u) & 0xFFFF; });
    const QString file = path(QStringLiteral("big.tif"));
    image->saveTiff16(file);
    QCOMPARE(QFileInfo(file).size(), qint64(8 + 2 * image->sampleCount + 244));

    QProcess tiffinfo;
    tiffinfo.start(QStringLiteral("tiffinfo"), {file});
    QVERIFY(tiffinfo.waitForFinished(60000));
    const QString info = QString::fromUtf8(tiffinfo.readAllStandardOutput() + tiffinfo.readAllStandardError());
    QVERIFY2(info.contains(QStringLiteral("Image Width: 3000 Image Length: 2000")), qPrintable(info));
    QVERIFY2(info.contains(QStringLiteral("Bits/Sample: 16")), qPrintable(info));
    QVERIFY2(info.contains(QStringLiteral("Samples/Pixel: 3")), qPrintable(info));
    QVERIFY2(info.contains(QStringLiteral("RGB color")), qPrintable(info));
    QVERIFY2(!info.contains(QStringLiteral("Warning")) && !info.contains(QStringLiteral("rror")), qPrintable(info));
    QCOMPARE(tiffinfo.exitCode(), 0);

    QCOMPARE(identifyImage(file).join(QStringLiteral("::")), QStringLiteral("3000::2000::16::srgb"));
    const QByteArray decoded = decodeWithConvert(file, QStringLiteral("rgb"), 16);
    QCOMPARE(decoded.size(), 2 * image->sampleCount);
    const uchar *bytes = reinterpret_cast<const uchar *>(decoded.constData());
    for (qint32 i = 0; i < image->sampleCount; ++i) {
        if (quint32(bytes[2 * i] | (bytes[2 * i + 1] << 8)) != image->samples[i])
            QFAIL(qPrintable(QStringLiteral("sample %1 differs").arg(i)));
    }
    // And the bridge reads its own file back unchanged.
    Image32 again(file, QString(), 48);
    QVERIFY(samplesOf(again) == samplesOf(*image));
}

void TestImageBridge::writeWithToolEncodesOtherChannelCounts()
{
    const QString folder = path(QStringLiteral("out %d [x]"));
    QVERIFY(QDir().mkpath(folder));
    auto gray = patternImage(7, 3, 16, [](int i) { return quint32(i * 3001 + 5); });
    const QString grayFile = QDir(folder).filePath(QStringLiteral("gray%03d.tif"));
    gray->saveTiff16(grayFile);
    QCOMPARE(identifyImage(grayFile).join(QStringLiteral("::")), QStringLiteral("7::3::16::gray"));
    QCOMPARE(decodeWithConvert(grayFile, QStringLiteral("gray"), 16), rawBytes(samplesOf(*gray), 2));
    QProcess tiffinfo;
    tiffinfo.start(QStringLiteral("tiffinfo"), {grayFile});
    QVERIFY(tiffinfo.waitForFinished(60000));
    QVERIFY(QString::fromUtf8(tiffinfo.readAllStandardOutput()).contains(QStringLiteral("Bits/Sample: 16")));

    // Four channels at 16 bits, and 8-bit gray samples taking their low byte.
    auto rgba = patternImage(2, 2, 64, [](int i) { return quint32(i * 4099 + 1); });
    const QString rgbaFile = QDir(folder).filePath(QStringLiteral("rgba.png"));
    rgba->writeWithTool(rgbaFile, QStringLiteral("-depth 16"));
    QCOMPARE(decodeWithConvert(rgbaFile, QStringLiteral("rgba"), 16), rawBytes(samplesOf(*rgba), 2));
    auto eight = patternImage(3, 1, 8, [](int i) { return quint32(0x100 * i + 7 * i + 1); });
    const QString eightFile = QDir(folder).filePath(QStringLiteral("eight.tif"));
    eight->saveTiff16(eightFile);
    QCOMPARE(identifyImage(eightFile).join(QStringLiteral("::")), QStringLiteral("3::1::16::gray"));
    QCOMPARE(decodeWithConvert(eightFile, QStringLiteral("gray"), 8), QByteArray("\x01\x08\x0f"));

    // A name whose extension is no format name still becomes a TIFF.
    const QString oddFile = QDir(folder).filePath(QStringLiteral("odd.t%f"));
    gray->saveTiff16(oddFile);
    QCOMPARE(decodeWithConvert(oddFile, QStringLiteral("gray"), 16), rawBytes(samplesOf(*gray), 2));

    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"eight.tif", "gray%03d.tif", "odd.t%f", "rgba.png"}));
}

void TestImageBridge::failedToolWriteLeavesDestinationAlone()
{
    auto gray = patternImage(4, 4, 16, [](int i) { return quint32(i * 100); });
    const QString file = path(QStringLiteral("keep.tif"));
    QVERIFY(writeFile(file, "earlier result"));

    // Failing, writing nothing, reporting an error while exiting 0, hanging up on the raw file.
    const QStringList bodies{
        QStringLiteral("exit 1"), QStringLiteral("exit 0"),
        QStringLiteral("for a; do out=$a; done; echo junk > \"$out\"; "
                       "echo 'convert: unable to write pixels @ error/tiff.c/x/1.' >&2"),
        QStringLiteral("for a; do out=$a; done; echo partial > \"$out\"; kill -KILL $$"),
    };
    for (const QString &body : bodies) {
        QVERIFY(m_box->addTool(QStringLiteral("convert"), body));
        QString name;
        QCOMPARE(thrownType([&] { gray->saveTiff16(file); }, &name), int(Image32Exception::WriteFailed));
        QCOMPARE(name, file);
        QCOMPARE(readFile(file), QByteArray("earlier result"));
        QVERIFY2(leftovers(m_box->path()).isEmpty(), qPrintable(leftovers(m_box->path()).join(' ')));
    }
    m_box->removeTools();
    gray->saveTiff16(file);
    QCOMPARE(decodeWithConvert(file, QStringLiteral("gray"), 16), rawBytes(samplesOf(*gray), 2));
}

void TestImageBridge::failedWritesLeaveNoTrace()
{
    QVERIFY(writeFile(path(QStringLiteral("plain.txt")), "a file, not a folder"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("taken.png"))));
    QVERIFY(writeFile(path(QStringLiteral("taken.png/inside")), "kept"));

    for (const Writer &writer : writers()) {
        auto image = patternImage(8, 8, writer.pixelDepth, [](int i) { return quint32(i * 1000); });
        const QStringList targets{
            path(QStringLiteral("missing/out.") + writer.suffix),
            path(QStringLiteral("plain.txt/out.") + writer.suffix),
            QStringLiteral("/proc/velumen-out.") + writer.suffix,
            // Replacing a device or a folder by a file would be worse than failing.
            QStringLiteral("/dev/full"),
            path(QStringLiteral("taken.png")),
        };
        for (const QString &target : targets) {
            QString name;
            QCOMPARE(thrownType([&] { writer.write(*image, target); }, &name), int(Image32Exception::WriteFailed));
            QCOMPARE(name, target);
        }
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing"))));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/proc/velumen-out.") + writer.suffix));
        QVERIFY(QFileInfo(QStringLiteral("/dev/full")).exists() && !QFileInfo(QStringLiteral("/dev/full")).isFile());
        QCOMPARE(readFile(path(QStringLiteral("plain.txt"))), QByteArray("a file, not a folder"));
        QCOMPARE(readFile(path(QStringLiteral("taken.png/inside"))), QByteArray("kept"));
        QVERIFY(leftovers(QStringLiteral("/dev")).isEmpty());
    }

    // The byte counts are what catch a full disk: every write to /dev/full falls short.
    QFile full(QStringLiteral("/dev/full"));
    QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(3 << 20, 'x');
    QVERIFY(!AtomicFileWriter::writeAll(full, block.constData(), block.size()));
    QVERIFY(!AtomicFileWriter::writeAll(full, block.constData(), 10));
}

void TestImageBridge::fullOrReadOnlyDiskFailsEveryWriter()
{
    const QString disk = path(QStringLiteral("disk"));
    if (!mountTmpfs(disk, QStringLiteral("size=256k")))
        QSKIP("cannot mount a small tmpfs here (needs root and mount rights); full and read-only disks untested");

    std::mt19937 random(11);
    for (const Writer &writer : writers()) {
        // Noise does not compress: each format needs far more than the space that is left.
        auto noise = patternImage(200, 200, writer.pixelDepth, [&random](int) { return random() & 0xFFFF; });
        auto small = patternImage(4, 4, writer.pixelDepth, [](int i) { return quint32(i * 999); });
        const QString target = QDir(disk).filePath(QStringLiteral("result.") + writer.suffix);
        writer.write(*small, target);
        const QByteArray before = readFile(target);
        QVERIFY(!before.isEmpty());

        // Fill the disk to within a few kilobytes.
        const QString filler = QDir(disk).filePath(QStringLiteral("filler"));
        {
            QFile file(filler);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(4096, 'f');
            while (file.write(block) == block.size()) {
            }
        }
        QFile::resize(filler, QFileInfo(filler).size() - 8192);

        QString name;
        QCOMPARE(thrownType([&] { writer.write(*noise, target); }, &name), int(Image32Exception::WriteFailed));
        QCOMPARE(name, target);
        QVERIFY2(readFile(target) == before, writer.name);
        QVERIFY2(leftovers(disk).isEmpty(), writer.name);
        QVERIFY(QFile::remove(filler));

        // A read-only disk refuses even root; the earlier file stays.
        QVERIFY(remount(disk, QStringLiteral("ro")));
        QCOMPARE(thrownType([&] { writer.write(*small, target); }, &name), int(Image32Exception::WriteFailed));
        QCOMPARE(thrownType([&] { writer.write(*small, QDir(disk).filePath(QStringLiteral("new.") + writer.suffix)); }),
                 int(Image32Exception::WriteFailed));
        QVERIFY(remount(disk, QStringLiteral("rw")));
        QVERIFY2(readFile(target) == before, writer.name);
        QVERIFY(!QFileInfo::exists(QDir(disk).filePath(QStringLiteral("new.") + writer.suffix)));
        QVERIFY(leftovers(disk).isEmpty());
        QVERIFY(QFile::remove(target));
    }
}

QTEST_GUILESS_MAIN(TestImageBridge)
#include "tst_imagebridge.moc"
