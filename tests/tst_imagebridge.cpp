#include "atomicfilewriter.h"
#include "image32.h"
#include "testtools.h"
#include "toolrunner.h"

#include <QtTest>

#include <QElapsedTimer>
#include <QImage>

#include <memory>
#include <random>
#include <thread>

using namespace TestTools;
using V = std::vector<quint32>;

namespace {

QByteArray lowByteFirst(const V &values, int bytesPerSample)
{
    QByteArray raw;
    for (quint32 value : values)
        for (int byte = 0; byte < bytesPerSample; ++byte)
            raw.append(char(value >> (8 * byte)));
    return raw;
}

V samplesOf(const Image32 &image) { return V(image.samples, image.samples + image.sampleCount); }

std::unique_ptr<Image32> make(int width, int height, int pixelDepth, const std::function<quint32(int)> &value)
{
    std::unique_ptr<Image32> image(new Image32(width, height, pixelDepth));
    for (qint32 i = 0; i < image->sampleCount; ++i)
        image->samples[i] = value(i);
    return image;
}

// True when the action throws an Image32Exception of this type naming this file.
bool throwsFor(int type, const QString &file, const std::function<void()> &action)
{
    try {
        action();
    } catch (const Image32Exception &e) {
        return e.type == type && e.filename == file;
    }
    return false;
}

bool loadFails(const QString &file, int pixelDepth = 48, const std::atomic_bool *interrupt = nullptr)
{
    return throwsFor(Image32Exception::ReadFailed, file, [&] { Image32 image(file, QString(), pixelDepth, interrupt); });
}

bool writeFails(const QString &file, const std::function<void()> &write) { return throwsFor(Image32Exception::WriteFailed, file, write); }

QStringList leftovers(const QString &folder) { return QDir(folder).entryList({".velumen-*"}, QDir::Files | QDir::Hidden); }

QString tiffinfo(const QString &file)
{
    QProcess process;
    process.start("tiffinfo", {file});
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

} // namespace

class TestImageBridge : public QObject
{
    Q_OBJECT

    std::unique_ptr<ToolSandbox> m_box;

    QString path(const QString &name) const { return m_box->filePath(name); }

    // Makes an image file from raw samples with the real convert.
    void makeFromRaw(const QString &file, int width, int height, const QString &map, int depth, const V &values)
    {
        QVERIFY(writeFile(path("source.raw"), lowByteFirst(values, depth / 8)));
        QVERIFY(m_box->convert({"-size", QString("%1x%2").arg(width).arg(height), "-depth", QString::number(depth),
                                "-endian", "LSB", map + ":source.raw", file}));
    }

    // The file's samples as the real convert gives them, low byte first, read from a plain copy (some
    // names ImageMagick misreads; that is the bridge's problem, not the checker's).
    QByteArray decode(const QString &file, const QString &map, int depth)
    {
        QByteArray output;
        QFile::remove(path("decode-check"));
        QFile::copy(file, path("decode-check"));
        m_box->convert({path("decode-check"), "-depth", QString::number(depth), "-endian", "LSB", map + ":-"}, &output);
        return output;
    }

    // The ways a destination image is written, each on an image that suits it.
    struct Writer { const char *name, *suffix; int pixelDepth; std::function<void(const Image32 &, const QString &)> write; };
    static QList<Writer> writers()
    {
        auto save = [](const char *format, int quality) {
            return [=](const Image32 &image, const QString &file) { image.save(file, format, quality); };
        };
        auto tiff16 = [](const Image32 &image, const QString &file) { image.saveTiff16(file); };
        return {{"JPEG", "jpg", 48, save("JPG", 95)}, {"PNG", "png", 48, save("PNG", -1)},
                {"TIFF", "tif", 48, save("TIFF", -1)}, {"TIFF16", "tif", 48, tiff16}, {"TIFF16 gray", "tif", 16, tiff16}};
    }

private slots:
    void init()
    {
        m_box.reset(new ToolSandbox);
        QVERIFY2(m_box->isValid(), "no sandbox folder or no ImageMagick convert/identify on PATH");
    }

    void cleanup() { m_box.reset(); }

    void loadsEachFormatWithExactSamples()
    {
        // file, raw map, bits per sample, identify's channel description
        const std::tuple<QString, QString, int, QString> files[] = {
            {"rgb16.png", "rgb", 16, "srgb"},  {"rgb8.png", "rgb", 8, "srgb"}, {"gray8.png", "gray", 8, "gray"},
            {"gray16.png", "gray", 16, "gray"}, {"rgba8.png", "rgba", 8, "srgba"}, {"rgb16.tif", "rgb", 16, "srgb"},
            {"gray8.tif", "gray", 8, "gray"}};
        for (const auto &[name, map, bits, description] : files) {
            const int channels = map == "rgba" ? 4 : map == "gray" ? 1 : 3;
            V values(size_t(6 * channels)), own, at48;
            for (size_t i = 0; i < values.size(); ++i) {
                values[i] = quint32(3617 * i + 17) & (bits == 16 ? 0xFFFF : 0xFF);
                if (channels == 4 && i % 4 == 3)
                    continue; // alpha is dropped unless the pixel depth asks for it
                own.push_back(values[i]);
                // At pixel depth 48 the tool scales 8 bits to 16 by 257 and repeats gray in R, G and B.
                at48.insert(at48.end(), channels == 1 ? 3 : 1, bits == 8 ? values[i] * 257 : values[i]);
            }
            const QString file = path(name);
            makeFromRaw(file, 3, 2, map, bits, values);
            QCOMPARE(identifyImage(file), (QStringList{"3", "2", QString::number(bits), description}));
            Image32 asIs(file, QString(), -1);
            QCOMPARE(std::make_tuple(asIs.width, asIs.height, asIs.depth, asIs.channels),
                     std::make_tuple(3, 2, bits, channels == 1 ? 1 : 3));
            QVERIFY2(samplesOf(asIs) == own && samplesOf(Image32(file, QString(), 48)) == at48, qPrintable(name));
            QVERIFY(channels != 4 || samplesOf(Image32(file, QString(), 32)) == values);
        }
        // A flat gray JPEG decodes exactly.
        QVERIFY(m_box->convert({"-size", "16x16", "xc:gray(100)", "-colorspace", "gray", path("flat.jpg")}));
        QCOMPARE(samplesOf(Image32(path("flat.jpg"), QString(), -1)), V(256, 100));
        QCOMPARE(samplesOf(Image32(path("flat.jpg"), QString(), 48)), V(768, 100 * 257));
    }

    void identifyAnswersOnlyForExistingSingleImages()
    {
        makeFromRaw(path("b.png"), 3, 2, "gray", 16, V(6, 7));
        QCOMPARE(identifyImage(path("b.png")), (QStringList{"3", "2", "16", "gray"}));
        QVERIFY(m_box->convert({path("b.png"), path("b.png"), path("two.tif")}));
        QCOMPARE(identifyImage(path("two.tif")).size(), 7);
        // Names the tool would read as a frame list, a pattern or nothing; the folder; a file of two frames.
        for (const QString name : {"b.png[0]", "b*.png", "b?png", "missing.png", "", "two.tif"})
            QVERIFY2(loadFails(path(name)) && (name == "two.tif" || identifyImage(path(name)).isEmpty()), qPrintable(name));
    }

    void standInToolsDecideTheLoad()
    {
        const QString file = path("any.png");
        makeFromRaw(file, 2, 1, "gray", 8, {1, 2});
        const QString full = R"(printf '\001\000\002\000\003\000\004\000\005\000\006\000')"; // six 16-bit samples
        const QString real = "exec " + shellQuote(m_box->realIdentify()) + " \"$@\"";
        // identify, convert, pixel depth, samples (none: ReadFailed naming the file)
        const std::tuple<QString, QString, int, V> cases[] = {
            // identify: three fields, seven, none, a failure status, no number, depth 0, more samples than a
            // 32-bit count holds, negative sizes
            {"printf '6000::4000::8'", full, -1, {}}, {"printf '2::1::8::srgb2::1::8::srgb'", full, -1, {}},
            {"exit 0", full, -1, {}}, {"printf '2::1::8::gray'; exit 1", full, -1, {}},
            {"printf 'x::1::8::gray'", full, -1, {}}, {"printf '2::1::0::gray'", full, -1, {}},
            {"printf '40000::40000::16::srgb'", full, -1, {}}, {"printf '-2::-3::8::srgb'", full, -1, {}},
            // convert: a full stream then a failure status or a crash, a short stream, an error, one byte
            // short (the last sample would be a silent zero), nothing
            {real, full + "; exit 1", 48, {}}, {real, full + "; kill -SEGV $$", 48, {}},
            {real, R"(printf '\001\000\002')", 48, {}}, {real, "echo 'convert: unable to open image' >&2; exit 1", 48, {}},
            {"printf '3::1::16::gray'", R"(printf '\001\000\002\000\003')", -1, {}}, {"printf '3::1::16::gray'", "exit 0", -1, {}},
            // Surplus bytes are ignored; a line end after the fields is no part of them; a fixed pixel depth
            // overrides the file's.
            {"printf '3::1::8::gray'", R"(printf '\011\012\013\014\015')", -1, {9, 10, 11}},
            {"echo '2::1::16::gray'", R"(printf '\001\002\003\004')", -1, {0x0201, 0x0403}},
            {"printf '1::1::8::gray'", R"(printf '\001\000\002\000\003\001')", 48, {1, 2, 0x0103}},
            {real, full, 48, {1, 2, 3, 4, 5, 6}}};
        for (const auto &[identify, convert, pixelDepth, expected] : cases) {
            QVERIFY(m_box->addTool("identify", identify) && m_box->addTool("convert", convert));
            const bool right = expected.empty() ? loadFails(file, pixelDepth)
                                                : samplesOf(Image32(file, QString(), pixelDepth)) == expected;
            QVERIFY2(right, qPrintable(identify + " / " + convert));
        }
        // A stream of many pieces, split at odd offsets, lands whole: 2 MB through the pipe.
        QVERIFY(m_box->addTool("identify", "printf '1024::1024::16::gray'"));
        QVERIFY(m_box->addTool("convert", R"(head -c 1 /dev/zero; head -c 2097151 /dev/zero | tr '\000' '\377')"));
        Image32 big(file, QString(), -1);
        QCOMPARE(big.samples[0], 0xFF00u);
        QVERIFY(std::all_of(big.samples + 1, big.samples + big.sampleCount, [](quint32 s) { return s == 0xFFFF; }));
        // Tools that cannot be started; without a tools folder the system's tools serve.
        QVERIFY(m_box->addTool("convert", "") && writeFile(path("tools/convert"), "#!/missing/sh\n") && loadFails(file));
        QVERIFY(m_box->addTool("identify", "") && writeFile(path("tools/identify"), "#!/missing/sh\n") && identifyImage(file).isEmpty());
        m_box->removeTools();
        QCOMPARE(samplesOf(Image32(file, QString(), 8)), (V{1, 2}));
    }

    void hangingToolsEndByInterruptOrTimeLimit()
    {
        const QString file = path("ok.png");
        makeFromRaw(file, 2, 1, "gray", 8, {1, 2});
        // A hanging identify; a convert that delivers its whole stream, hangs, and tidies up when asked to end.
        const QString convert = "trap 'echo cleaned > cleaned.txt; exit 0' TERM\n"
                                R"(printf '\001\000\002\000\003\000\004\000\005\000\006\000')"
                                "\nwhile :; do sleep 0.1; done";
        for (const QString hanging : {"identify", "convert"}) {
            m_box->removeTools();
            QVERIFY(m_box->addForwardingTool("identify") && m_box->addTool(hanging, hanging == "identify" ? "exec sleep 120" : convert));
            std::atomic_bool interrupt(false);
            std::thread setter([&interrupt] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); interrupt = true; });
            QElapsedTimer timer;
            timer.start();
            const bool failed = loadFails(file, 48, &interrupt);
            setter.join();
            // Well before the tools' 30 s limit: the flag, not the limit, ended it.
            QVERIFY2(failed && timer.elapsed() < 20000, qPrintable(hanging));
        }
        QCOMPARE(readFile(path("cleaned.txt")), QByteArray("cleaned\n"));
        // A flag already set stops the load before any tool runs.
        m_box->removeTools();
        std::atomic_bool set(true);
        QVERIFY(loadFails(file, 48, &set));
        // Past its limit a tool is asked to end; one that ignores that is killed.
        QVERIFY(m_box->addTool("stubborn", "trap '' TERM\nwhile :; do sleep 0.1; done"));
        ToolRunner stubborn(path("tools/stubborn"), {});
        stubborn.setTimeLimit(300);
        QVERIFY(!stubborn.run() && stubborn.timedOut());
    }

    void damagedSourcesFailAndMetadataWarningsDoNot()
    {
        const QString jpeg = path("whole.jpg"), png = path("whole.png");
        QVERIFY(m_box->convert({"-size", "64x48", "plasma:fractal", "-quality", "90", jpeg}));
        QVERIFY(m_box->convert({"-size", "64x48", "gradient:red-blue", png}));
        const QByteArray jpegBytes = readFile(jpeg), pngBytes = readFile(png);
        // Cut in half, cut before the end chunk, empty, and no image at all.
        const std::pair<QString, QByteArray> damaged[] = {
            {"truncated.jpg", jpegBytes.left(jpegBytes.size() / 2)}, {"truncated.png", pngBytes.left(pngBytes.size() / 2)},
            {"endless.png", pngBytes.left(pngBytes.size() - 12)}, {"empty.jpg", ""}, {"text.jpg", "Not the pixels you want.\n"}};
        for (const auto &[name, bytes] : damaged)
            QVERIFY2(writeFile(path(name), bytes) && loadFails(path(name)) && loadFails(path(name), -1), qPrintable(name));
        // A JPEG naming an unknown JFIF revision, and a TIFF with a private tag, draw warnings and load exactly.
        QByteArray odd = jpegBytes;
        odd[odd.indexOf(QByteArray("JFIF\0", 5)) + 5] = 3;
        QVERIFY(writeFile(path("odd.jpg"), odd));
        QCOMPARE(samplesOf(Image32(path("odd.jpg"), QString(), 48)), samplesOf(Image32(jpeg, QString(), 48)));
        // 2 x 2 8-bit gray: samples at 8, a directory of ten entries at 12, tag 65000 the last.
        QVERIFY(writeFile(path("tagged.tif"), QByteArray::fromHex(
            "49492a000c0000000ac810200a00000103000100000002000000010103000100000002000000020103000100000008000000"
            "030103000100000001000000060103000100000001000000110104000100000008000000150103000100000001000000"
            "160103000100000002000000170104000100000004000000e8fd0300010000000700000000000000")));
        QCOMPARE(samplesOf(Image32(path("tagged.tif"), QString(), -1)), (V{10, 200, 16, 32}));
    }

    void argumentsReachTheToolsIntactAndOptionsWeight()
    {
        QVERIFY(QDir().mkpath(path("my photos")));
        const QString file = path("my photos/-night \"1\" (a) zażółć.png");
        makeFromRaw(file, 2, 1, "rgb", 16, {100, 200, 300, 40000, 50000, 60000});
        for (const QString tool : {"identify", "convert"})
            QVERIFY(m_box->addForwardingTool(tool, R"(printf '%s\n' "$@" > )" + shellQuote(path(tool + ".args"))));
        auto argumentsOf = [this](const QString &tool) { return QString::fromUtf8(readFile(path(tool + ".args"))).chopped(1).split('\n'); };
        // The options are split at white space, however much; a comma decimal separator in the user's
        // locale changes nothing.
        QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
        Image32 image(file, "  -function \t Polynomial   0.5,0.0 ", 48);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(samplesOf(image), (V{50, 100, 150, 20000, 25000, 30000}));
        QCOMPARE(argumentsOf("identify"), (QStringList{"-format", "%w::%h::%z::%[channels]", file}));
        QCOMPARE(argumentsOf("convert"),
                 (QStringList{file, "-depth", "16", "-function", "Polynomial", "0.5,0.0", "-endian", "LSB", "rgb:-"}));
        // A name ImageMagick could misread reaches it as a plain link to the file, gone after the load.
        const QString risky = path("my photos/[b] 50%.png");
        QVERIFY(QFile::copy(file, risky));
        QCOMPARE(samplesOf(Image32(risky, QString(), 48)), (V{100, 200, 300, 40000, 50000, 60000}));
        for (const QString &input : {argumentsOf("identify").last(), argumentsOf("convert").first()})
            QVERIFY2(input.endsWith("/source.png") && !input.contains('[') && !QFileInfo::exists(input), qPrintable(input));
    }

    void awkwardFileNamesLoadAndSave()
    {
        const V values{100, 200, 300, 40000, 50000, 60000};
        makeFromRaw(path("reference.png"), 2, 1, "rgb", 16, values);
        const auto gray = make(2, 1, 16, [](int i) { return quint32(1234 + 53087 * i); });
        const QDir folder(path("dir %d [1] zażółć"));
        QVERIFY(folder.mkpath("."));
        const QStringList names{"say \"cheese\".png", "two  spaces .png", "-rf.png", "frame[1].png", "crop[2x2+0+0].png",
                                "scene%d.png", "100%.png", "zażółć gęślą jaźń.png", "@list.png", "png:prefixed.png",
                                "star*?.png", "it's.png"};
        for (const QString &name : names) {
            const QString file = folder.filePath(name), png = folder.filePath("out " + name), tiff = file + ".tif";
            QVERIFY(QFile::copy(path("reference.png"), file));
            Image32 image(file, QString(), 48);
            QVERIFY2(samplesOf(image) == values, qPrintable(name));
            image.save(png, "PNG", -1);
            gray->saveTiff16(tiff);
            QCOMPARE(QImage(png, "PNG").pixel(1, 0), qRgb(40000 >> 8, 50000 >> 8, 60000 >> 8));
            QCOMPARE(decode(tiff, "gray", 16), lowByteFirst(samplesOf(*gray), 2));
        }
        // Nothing else appeared: no expanded '%', no frame-numbered siblings, no temporary files.
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden).size(), names.size() * 3);
    }

    void saveWritesEachFormatReadableByOthers()
    {
        // Five pixels wide, three rows: any row padding or shear moves samples between rows.
        const auto colour = make(5, 3, 48, [](int i) { return quint32(i * 3411 + 0x12FF) & 0xFFFF; });
        QByteArray high;
        for (quint32 sample : samplesOf(*colour))
            high.append(char(sample >> 8));
        for (const char *format : {"PNG", "TIFF"}) {
            colour->save(path("colour." + QString(format).toLower()), format, -1);
            QCOMPARE(decode(path("colour." + QString(format).toLower()), "rgb", 8), high);
        }
        QCOMPARE(identifyImage(path("colour.tiff")), (QStringList{"5", "3", "8", "srgb"}));
        // JPEG: a flat image comes back nearly flat at its size, and the quality is honoured.
        make(32, 16, 48, [](int) { return 0x8080u; })->save(path("flat.jpg"), "JPG", 90);
        const QImage jpeg(path("flat.jpg"), "JPG");
        QVERIFY(jpeg.size() == QSize(32, 16) && qAbs(qRed(jpeg.pixel(7, 7)) - 0x80) <= 1);
        const auto noisy = make(64, 64, 48, [](int i) { return quint32((i * 2654435761u) >> 16); });
        noisy->save(path("low.jpg"), "JPG", 10);
        noisy->save(path("high.jpg"), "JPG", 100);
        QVERIFY(QFileInfo(path("low.jpg")).size() < QFileInfo(path("high.jpg")).size());
        QCOMPARE(identifyImage(path("high.jpg")), (QStringList{"64", "64", "8", "srgb"}));
        // Gray stays gray, alpha stays alpha, depth 8 keeps its samples.
        const auto gray = make(3, 1, 16, [](int i) { return quint32(0x1100 * (i + 1) + 0xFF); });
        gray->save(path("gray.png"), "PNG", -1);
        QCOMPARE(identifyImage(path("gray.png")), (QStringList{"3", "1", "8", "gray"}));
        QCOMPARE(decode(path("gray.png"), "gray", 8), QByteArray("\x11\x22\x33"));
        make(1, 1, 32, [](int i) { return quint32(i * 60 + 10); })->save(path("alpha.png"), "PNG", -1);
        QCOMPARE(QImage(path("alpha.png")).pixel(0, 0), qRgba(10, 70, 130, 190));
        // Through a link the file it points to is replaced; an unknown format writes nothing.
        QVERIFY(QFile::link(path("colour.png"), path("link.png")));
        gray->save(path("link.png"), "PNG", -1);
        QVERIFY(QFileInfo(path("link.png")).isSymLink() && QImage(path("colour.png")).size() == QSize(3, 1));
        QVERIFY(writeFails(path("x.xyz"), [&] { gray->save(path("x.xyz"), "XYZ", -1); }));
        QVERIFY(!QFileInfo::exists(path("x.xyz")) && leftovers(m_box->path()).isEmpty());
    }

    void saveTiff16LaysOutTheFileExactlyAndReadsBack()
    {
        // Only the low 16 bits of a sample are written.
        make(1, 1, 48, [](int i) { return V{0x1234, 0xABCD, 0x10001}[size_t(i)]; })->saveTiff16(path("one.tif"));
        const QByteArray expected = QByteArray::fromHex( // little-endian; entries are tag, type, count, value
            "4949 2a00 0e000000  3412 cdab 0100  0b00"                 // "II", 42, directory at 14; samples; 11 entries
            "0001 0300 01000000 01000000  0101 0300 01000000 01000000" // width 1, height 1
            "0201 0300 03000000 98000000  0301 0300 01000000 01000000" // BitsPerSample at 152, no compression
            "0601 0300 01000000 02000000  0a01 0300 01000000 01000000" // RGB, fill order
            "1101 0400 01000000 08000000  1201 0300 01000000 01000000" // strip at 8, orientation
            "1501 0300 01000000 03000000  1701 0400 01000000 06000000" // 3 samples per pixel, StripByteCounts 6
            "1c01 0300 01000000 01000000  00000000  1000 1000 1000")   // contiguous; no next directory; 16, 16, 16
            + QByteArray(100, '\0');
        QCOMPARE(readFile(path("one.tif")), expected);
        // Depth 8 is widened: 255 becomes 65280.
        make(1, 1, 24, [](int i) { return V{255, 1, 0}[size_t(i)]; })->saveTiff16(path("eight.tif"));
        QCOMPARE(readFile(path("eight.tif")).mid(8, 6), QByteArray::fromHex("00ff 0001 0000"));
        // Sizes the SHORT fields cannot hold are refused and write nothing; the largest one that fits is read.
        for (const QSize &size : {QSize(65536, 1), QSize(1, 70000)})
            QVERIFY(writeFails(path("huge.tif"), [&] { Image32(size.width(), size.height(), 48).saveTiff16(path("huge.tif")); }));
        QVERIFY(!QFileInfo::exists(path("huge.tif")));
        Image32(65535, 1, 48).saveTiff16(path("widest.tif"));
        QVERIFY(tiffinfo(path("widest.tif")).contains("Image Width: 65535 Image Length: 1"));

        // At a realistic size independent readers see the same samples.
        const auto image = make(3000, 2000, 48, [](int i) { return quint32(i * 7919u) & 0xFFFF; });
        const QString file = path("big.tif");
        image->saveTiff16(file);
        const QString info = tiffinfo(file);
        for (const char *line : {"Image Width: 3000 Image Length: 2000", "Bits/Sample: 16", "Samples/Pixel: 3", "RGB color"})
            QVERIFY2(info.contains(line) && !info.contains("Warning") && !info.contains("rror"), qPrintable(info));
        QCOMPARE(identifyImage(file), (QStringList{"3000", "2000", "16", "srgb"}));
        QVERIFY(decode(file, "rgb", 16) == lowByteFirst(samplesOf(*image), 2));
        QVERIFY(samplesOf(Image32(file, QString(), 48)) == samplesOf(*image)); // and the bridge reads its own file
    }

    void writeWithToolEncodesOtherChannelCounts()
    {
        const QDir folder(path("out %d [x]"));
        QVERIFY(folder.mkpath("."));
        // 16-bit gray; 16-bit RGBA; 8-bit gray, of which each sample's low byte counts; a name whose
        // extension names no format (a TIFF then).
        const auto gray = make(7, 3, 16, [](int i) { return quint32(i * 3001 + 5); });
        const auto rgba = make(2, 2, 64, [](int i) { return quint32(i * 4099 + 1); });
        rgba->writeWithTool(folder.filePath("rgba.png"), "-depth 16");
        make(3, 1, 8, [](int i) { return quint32(0x100 * i + 7 * i + 1); })->saveTiff16(folder.filePath("eight.tif"));
        gray->saveTiff16(folder.filePath("gray%03d.tif"));
        gray->saveTiff16(folder.filePath("odd.t%f"));
        QCOMPARE(identifyImage(folder.filePath("gray%03d.tif")), (QStringList{"7", "3", "16", "gray"}));
        QCOMPARE(decode(folder.filePath("gray%03d.tif"), "gray", 16), lowByteFirst(samplesOf(*gray), 2));
        QCOMPARE(decode(folder.filePath("odd.t%f"), "gray", 16), lowByteFirst(samplesOf(*gray), 2));
        QCOMPARE(decode(folder.filePath("rgba.png"), "rgba", 16), lowByteFirst(samplesOf(*rgba), 2));
        QCOMPARE(identifyImage(folder.filePath("eight.tif")), (QStringList{"3", "1", "16", "gray"}));
        QCOMPARE(decode(folder.filePath("eight.tif"), "gray", 8), QByteArray("\x01\x08\x0f"));
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), (QStringList{"eight.tif", "gray%03d.tif", "odd.t%f", "rgba.png"}));
    }

    void failedToolWriteLeavesDestinationAlone()
    {
        const auto gray = make(4, 4, 16, [](int i) { return quint32(i * 100); });
        const QString file = path("keep.tif");
        QVERIFY(writeFile(file, "earlier result"));
        // Failing, writing nothing, reporting an error while exiting 0, dying after a partial write.
        for (const QString body : {"exit 1", "exit 0",
                                   R"(for a; do out=$a; done; echo junk > "$out"; echo 'convert: unable to write pixels @ error/tiff.c/x/1.' >&2)",
                                   R"(for a; do out=$a; done; echo partial > "$out"; kill -KILL $$)"}) {
            QVERIFY(m_box->addTool("convert", body));
            QVERIFY2(writeFails(file, [&] { gray->saveTiff16(file); }), qPrintable(body));
            QVERIFY(readFile(file) == "earlier result" && leftovers(m_box->path()).isEmpty());
        }
        m_box->removeTools();
        gray->saveTiff16(file);
        QCOMPARE(decode(file, "gray", 16), lowByteFirst(samplesOf(*gray), 2));
    }

    void failedWritesLeaveNoTrace()
    {
        QVERIFY(writeFile(path("plain.txt"), "a file, not a folder"));
        QVERIFY(QDir().mkpath(path("taken.png")) && writeFile(path("taken.png/inside"), "kept"));
        for (const Writer &writer : writers()) {
            const auto image = make(8, 8, writer.pixelDepth, [](int i) { return quint32(i * 1000); });
            const QString suffix = writer.suffix;
            // A missing folder, a file for a folder, an unwritable place; replacing a device or a folder
            // by a file would be worse than failing.
            for (const QString &target : {path("missing/out." + suffix), path("plain.txt/out." + suffix),
                                          "/proc/velumen-out." + suffix, QString("/dev/full"), path("taken.png")})
                QVERIFY2(writeFails(target, [&] { writer.write(*image, target); }), writer.name);
            QVERIFY(!QFileInfo::exists(path("missing")) && !QFileInfo::exists("/proc/velumen-out." + suffix));
            QVERIFY(QFileInfo("/dev/full").exists() && !QFileInfo("/dev/full").isFile() && leftovers("/dev").isEmpty());
            QCOMPARE(readFile(path("plain.txt")) + readFile(path("taken.png/inside")), QByteArray("a file, not a folderkept"));
        }
        // The byte counts are what catch a full disk: every write to /dev/full falls short.
        QFile full("/dev/full");
        const QByteArray block(3 << 20, 'x');
        QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        QVERIFY(!AtomicFileWriter::writeAll(full, block.constData(), block.size()));
        QVERIFY(!AtomicFileWriter::writeAll(full, block.constData(), 10));
    }

    void fullOrReadOnlyDiskFailsEveryWriter()
    {
        const QString disk = path("disk");
        if (!QDir().mkpath(disk) || !ToolSandbox::run("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", disk}))
            QSKIP("cannot mount a small tmpfs here (needs root and mount rights); full and read-only disks untested");
        const auto unmount = qScopeGuard([&disk] { ToolSandbox::run("umount", {disk}); });
        std::mt19937 random(11);
        for (const Writer &writer : writers()) {
            // Noise does not compress: each format needs far more than the space that is left.
            const auto noise = make(200, 200, writer.pixelDepth, [&random](int) { return random() & 0xFFFF; });
            const auto small = make(4, 4, writer.pixelDepth, [](int i) { return quint32(i * 999); });
            const QString target = disk + "/result." + writer.suffix, other = disk + "/new." + writer.suffix;
            writer.write(*small, target);
            const QByteArray before = readFile(target);
            // Fill the disk to within a few kilobytes.
            QFile filler(disk + "/filler");
            QVERIFY(!before.isEmpty() && filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(4096, 'f')) == 4096) {
            }
            QVERIFY(filler.resize(filler.size() - 8192));
            QVERIFY2(writeFails(target, [&] { writer.write(*noise, target); }), writer.name);
            QVERIFY2(readFile(target) == before && leftovers(disk).isEmpty() && filler.remove(), writer.name);
            // A read-only disk refuses even root; the earlier file stays.
            QVERIFY(ToolSandbox::run("mount", {"-o", "remount,ro", disk}));
            QVERIFY(writeFails(target, [&] { writer.write(*small, target); }) && writeFails(other, [&] { writer.write(*small, other); }));
            QVERIFY(ToolSandbox::run("mount", {"-o", "remount,rw", disk}));
            QVERIFY2(readFile(target) == before && !QFileInfo::exists(other) && leftovers(disk).isEmpty(), writer.name);
            QVERIFY(QFile::remove(target));
        }
    }
};

QTEST_GUILESS_MAIN(TestImageBridge)
#include "tst_imagebridge.moc"
