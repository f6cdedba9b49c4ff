// Image32: its sample arithmetic, loading through the image tools, the writers, where the tools are found.

#include "atomicfilewriter.h"
#include "image32.h"
#include "samplefold.h"
#include "testtools.h"
#include "toollocator.h"
#include "toolrunner.h"

#include <QtTest>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <numeric>
#include <random>

using namespace TestTools;
using V = std::vector<quint32>;
using Write = std::function<void(const Image32 &, const QString &)>;
using Combine = void (Image32::*)(const Image32 &);

namespace {

QByteArray lowByteFirst(const V &values, int bytesPerSample = 2)
{
    QByteArray raw;
    for (quint32 value : values)
        for (int byte = 0; byte < bytesPerSample; ++byte)
            raw.append(char(value >> (8 * byte)));
    return raw;
}

V samplesOf(const Image32 &image) { return V(image.samples, image.samples + image.sampleCount); }

Image32 &with(Image32 &image, const V &values)
{
    std::copy(values.begin(), values.end(), image.samples);
    return image;
}

// Gives the image these samples, combines the other image into it and returns the result.
V combined(Image32 &image, const V &values, Combine combine, const Image32 &other)
{
    (with(image, values).*combine)(other);
    return samplesOf(image);
}

std::unique_ptr<Image32> make(int width, int height, int pixelDepth, const std::function<quint32(int)> &value)
{
    auto image = std::make_unique<Image32>(width, height, pixelDepth);
    for (qint32 i = 0; i < image->sampleCount; ++i)
        image->samples[i] = value(i);
    return image;
}

// The type of the Image32Exception the call throws, -2 when it names another file, -1 when none.
int thrown(const std::function<void()> &call, const QString &file = QString())
{
    try {
        call();
    } catch (const Image32Exception &e) {
        return e.filename == file ? e.type : -2;
    }
    return -1;
}

// The samples of a loaded file; none when the load throws ReadFailed naming the file, as a failed load must.
V load(const QString &file, int pixelDepth = 48, const std::atomic_bool *interrupt = nullptr)
{
    V samples{0xBAD};
    const auto read = [&] { samples = samplesOf(Image32(file, QString(), pixelDepth, interrupt)); };
    return thrown(read, file) == Image32Exception::ReadFailed ? V() : samples;
}

bool writeFails(const Write &write, const Image32 &image, const QString &file)
{
    return thrown([&] { write(image, file); }, file) == Image32Exception::WriteFailed;
}

const auto saveAs = [](const char *format, int quality = -1) -> Write {
    return [=](const Image32 &image, const QString &file) { image.save(file, format, quality); };
};
const Write tiff16 = [](const Image32 &image, const QString &file) { image.saveTiff16(file); };

bool noLeftovers(const QString &folder)
{
    return QDir(folder).entryList({".velumen-*"}, QDir::Files | QDir::Hidden).isEmpty();
}

} // namespace

class TestImageBridge : public QObject
{
    Q_OBJECT

    std::unique_ptr<ToolSandbox> m_box;

    // Makes an image file from raw samples with the real convert.
    void makeFromRaw(const QString &file, const QString &size, const QString &map, int depth, const V &values)
    {
        QVERIFY(writeFile("source.raw", lowByteFirst(values, depth / 8)));
        QVERIFY(m_box->convert({"-size", size, "-depth", QString::number(depth), "-endian", "LSB",
                                map + ":source.raw", file}));
    }

    // The file's samples as the real convert gives them (map and bits), low byte first, read from a
    // plain copy (some names ImageMagick misreads; that is the bridge's problem, not the checker's).
    QByteArray decode(const QString &file, const QString &map, const QString &bits)
    {
        QByteArray output;
        QFile::remove("check");
        const bool ok = QFile::copy(file, "check")
                        && m_box->convert({"check", "-depth", bits, "-endian", "LSB", map + ":-"}, &output);
        return ok ? output : QByteArray();
    }

private slots:
    void init()
    {
        m_box.reset(new ToolSandbox);
        QVERIFY2(m_box->isValid(), "no sandbox folder or no ImageMagick convert/identify on PATH");
        makeFromRaw("gray.png", "2x1", "gray", 8, {1, 2}); // a small source for the tools to fail on
    }

    void cleanup() { m_box.reset(); }

    void blankImageFollowsPixelDepthTableAndRefusesTheRest()
    {
        // pixel depth, depth, channels, channel map
        const std::tuple<int, int, int, QString> table[] = {{8, 8, 1, "gray"}, {16, 16, 1, "gray"},
            {24, 8, 3, "rgb"}, {32, 8, 4, "rgba"}, {48, 16, 3, "rgb"}, {64, 16, 4, "rgba"}};
        for (const auto &[pixelDepth, depth, channels, channelMap] : table) {
            const Image32 image(3, 2, pixelDepth);
            const quint32 max = depth == 8 ? 255u : 65535u;
            QCOMPARE(std::make_tuple(image.depth, image.channels, image.channelMap, image.sampleCount,
                                     image.maxValue, image.maxValueF),
                     std::make_tuple(depth, channels, channelMap, 6 * channels, max, double(max)));
            // Colour samples start at 0, alpha at full opacity.
            for (qint32 i = 0; i < image.sampleCount; ++i)
                QCOMPARE(image.samples[i], (channels == 4 && i % 4 == 3) ? max : 0u);
        }
        for (int pixelDepth : {12, -1, 0, 96})
            QCOMPARE(thrown([=] { Image32(2, 2, pixelDepth); }), int(Image32Exception::UnsupportedDepth));
        // Sample counts that are no positive 32-bit number are refused before any allocation.
        for (const QSize &s :
             {QSize(0, 5), QSize(5, 0), QSize(-3, 4), QSize(50000, 50000), QSize(65536, 32768)})
            QCOMPARE(thrown([=] { Image32(s.width(), s.height(), 48); }), int(Image32Exception::ReadFailed));
    }

    void arithmeticWrapsTruncatesAndFollowsOverlapAndChannelRules()
    {
        // Random 32-bit samples: half have the top bit set (a signed comparison shows) and half the sums
        // wrap. Alpha takes part like any other sample. No length is a multiple of the 16-sample block.
        const std::pair<Combine, std::function<quint32(quint32, quint32)>> operations[] = {
            {&Image32::lighten, [](quint32 p, quint32 q) { return std::max(p, q); }},
            {&Image32::darken, [](quint32 p, quint32 q) { return std::min(p, q); }},
            {&Image32::add, std::plus<quint32>()}, {&Image32::subtract, std::minus<quint32>()}};
        std::mt19937 random(7);
        for (int width : {1, 5, 17, 33}) {
            Image32 a(width, 3, 64), b(width, 3, 64);
            V x(size_t(a.sampleCount)), y(x.size()), expected(x.size());
            std::generate(x.begin(), x.end(), std::ref(random));
            std::generate(y.begin(), y.end(), std::ref(random));
            for (const auto &[combine, reference] : operations) {
                std::transform(x.begin(), x.end(), y.begin(), expected.begin(), reference);
                QCOMPARE(combined(a, x, combine, with(b, y)), expected);
            }
            std::transform(x.begin(), x.end(), x.begin(), expected.begin(), std::plus<quint32>());
            QCOMPARE(combined(a, x, &Image32::add, a), expected); // added to itself
        }
        // A divisor below 1 keeps the low 32 bits of the 64-bit quotient; a quotient past 64 bits saturates;
        // divisors without a meaningful result leave the image alone instead of producing garbage.
        const V samples{1, 2, 0xFFFFFFFFu, 65535};
        const std::pair<double, V> divisions[] = {{3.0, {0, 0, 1431655765, 21845}},
            {0.5, {2, 4, 0xFFFFFFFEu, 0x1FFFE}}, {1e-300, V(4, 0xFFFFFFFFu)}, {0.0, samples},
            {-2.0, samples}, {qQNaN(), samples}};
        Image32 image(4, 1, 16), eight(1, 1, 32), filled(2, 1, 64);
        for (const auto &[divisor, expected] : divisions) {
            with(image, samples).divide(divisor);
            QCOMPARE(samplesOf(image), expected);
        }
        filled.fill(0xDEADBEEFu);
        QCOMPARE(samplesOf(filled), V(8, 0xDEADBEEFu));
        with(image, {65536, 1, 65535, 0}).invert();
        QCOMPARE(samplesOf(image), (V{0xFFFFFFFFu, 65534, 0, 65535}));
        eight.invert();
        QCOMPARE(samplesOf(eight), (V{255, 255, 255, 0}));

        // Every sample of the large image is distinct, so reading a wrong position shows.
        Image32 large(4, 4, 16), small(2, 2, 16);
        std::iota(large.samples, large.samples + large.sampleCount, 100u);
        QCOMPARE(combined(small, V(4, 0), &Image32::add, large), (V{100, 101, 104, 105}));
        QCOMPARE(combined(large, V(16, 0), &Image32::add, small),
                 (V{100, 101, 0, 0, 104, 105, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        // Wide against tall, and a shorter image of the same width: only the common rectangle changes.
        Image32 wide(3, 1, 16), tall(1, 3, 16), shorter(3, 2, 16), longer(3, 3, 16);
        QCOMPARE(combined(wide, {10, 20, 30}, &Image32::subtract, with(tall, {7, 8, 9})), (V{3, 20, 30}));
        QCOMPARE(combined(longer, V(9, 0), &Image32::add, with(shorter, {1, 2, 3, 4, 5, 6})),
                 (V{1, 2, 3, 4, 5, 6, 0, 0, 0}));
        // Gray feeds R, G and B; alpha this image lacks is ignored; the other's last channel stands in for
        // alpha it lacks; a gray image takes the first channel of a colour one.
        Image32 rgb(2, 1, 48), gray(2, 1, 16), rgba(2, 1, 64);
        QCOMPARE(combined(rgb, V(6, 0), &Image32::add, with(gray, {5, 9})), (V{5, 5, 5, 9, 9, 9}));
        QCOMPARE(combined(rgb, V(6, 0), &Image32::add, with(rgba, {1, 2, 3, 4, 5, 6, 7, 8})),
                 (V{1, 2, 3, 5, 6, 7}));
        QCOMPARE(combined(rgba, {0, 0, 0, 99, 0, 0, 0, 99}, &Image32::darken, rgb),
                 (V{0, 0, 0, 3, 0, 0, 0, 7}));
        QCOMPARE(combined(gray, V(2, 0), &Image32::lighten, rgb), (V{1, 5}));
    }

    // Large enough to be split over the cores, of sizes no core count divides: every sample narrowed
    // and folded once, in place, as one pass on one core gives.
    void passesSplitOverCoresCoverEverySampleOnce()
    {
        const int w = 1201, h = 883;
        Image32 image(w, h, 48);
        for (qint32 k = 0; k < image.sampleCount; ++k)
            image.samples[k] = (quint32(k) * 2654435761u) >> 16;
        const QImage narrowed = image.narrowed8();
        std::vector<uchar> expected(size_t(image.sampleCount));
        std::transform(image.samples, image.samples + image.sampleCount, expected.begin(),
                       [](quint32 sample) { return uchar(sample >> 8); });
        QVERIFY(narrowed.size() == QSize(w, h)
                && std::equal(expected.begin(), expected.end(), narrowed.constBits()));

        // The narrowed copy serves as the frames, the second a row and a column short.
        quint16 table[256];
        for (int v = 0; v < 256; ++v)
            table[v] = quint16(257 * v);
        const SampleFold::Frame frames[2] = {{narrowed.constBits(), w, h, 3, table, SampleFold::Lighten},
                                             {narrowed.constBits(), w - 1, h - 1, 3, table, SampleFold::Add}};
        Image32 spread(w, h, 48), alone(w, h, 48);
        SampleFold::foldFrames(spread, frames, 2, true);
        SampleFold::foldFrames(alone, frames, 2, false);
        QVERIFY(samplesOf(spread) == samplesOf(alone)
                && alone.samples[3] == 2 * 257u * narrowed.constBits()[3]);
    }

    void loadsEachFormatExactlyAndRefusesDamage()
    {
        const std::tuple<QString, QString, int> files[] = {{"rgb16.png", "rgb", 16}, {"rgb8.png", "rgb", 8},
            {"gray8.png", "gray", 8}, {"gray16.png", "gray", 16}, {"rgba8.png", "rgba", 8}};
        for (const auto &[name, map, bits] : files) {
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
            makeFromRaw(name, "3x2", map, bits, values);
            const Image32 asIs(name, QString(), -1);
            QCOMPARE(std::make_tuple(asIs.width, asIs.height, asIs.depth, asIs.channels, samplesOf(asIs)),
                     std::make_tuple(3, 2, bits, channels == 1 ? 1 : 3, own));
            QCOMPARE(load(name), at48);
            if (channels == 4)
                QCOMPARE(load(name, 32), values);
        }
        // A file of two frames; names the tool would read as a frame list, a pattern or nothing; the folder.
        QVERIFY(m_box->convert({"gray8.png", "gray8.png", "two.tif"}));
        QVERIFY(load("two.tif").empty());
        for (const char *name : {"gray8.png[0]", "gray8*.png", "gray8?png", "missing.png", "."})
            QVERIFY2(load(name).empty() && identifyImage(name).isEmpty(), name);

        QVERIFY(m_box->convert({"-size", "64x48", "plasma:fractal", "-quality", "90", "-write", "whole.jpg",
                                "+delete", "gradient:red-blue", "whole.png"}));
        const QByteArray jpegBytes = readFile("whole.jpg"), pngBytes = readFile("whole.png");
        // Cut in half, cut before the end chunk, a pixel chunk failing its check sum, empty, no image at all.
        const std::pair<const char *, QByteArray> damaged[] = {
            {"truncated.jpg", jpegBytes.left(jpegBytes.size() / 2)},
            {"truncated.png", pngBytes.left(pngBytes.size() / 2)}, {"endless.png", pngBytes.chopped(12)},
            {"crc.png", QByteArray(pngBytes).replace(pngBytes.indexOf("IDAT") + 10, 4, "XYZW")},
            {"empty.jpg", ""}, {"text.jpg", "Not the pixels you want.\n"}};
        for (const auto &[name, bytes] : damaged)
            QVERIFY2(writeFile(name, bytes) && load(name).empty() && load(name, -1).empty(), name);
        // A JPEG naming an unknown JFIF revision draws a warning that quotes its path, and loads exactly
        // from folders named for damage.
        const V whole = load("whole.jpg");
        const QByteArray odd = QByteArray(jpegBytes).replace(11, 1, "\3"); // JFIF 3.1
        for (const QString folder :
             {"plain", "truncated shots", "corrupted-card", "damaged lens", "premature eof", "crc error"})
            QVERIFY2(QDir().mkpath(folder) && writeFile(folder + "/odd.jpg", odd)
                         && load(folder + "/odd.jpg") == whole, qPrintable(folder));
        // The reader judges the warnings of the pixel stream itself, whatever identify made of the file.
        QVERIFY(m_box->addTool("identify", "printf '64::48::8::srgb'"));
        QVERIFY(load("truncated.jpg").empty());
    }

    void toolsAreFoundAndTheirAnswersDecideTheLoad()
    {
        const QString full = R"(printf '\001\000\002\000\003\000\004\000\005\000\006\000')"; // 6 samples
        const QString real = "exec " + shellQuote(m_box->realIdentify()) + " \"$@\"";
        // identify, convert, pixel depth, samples (none: ReadFailed naming the file)
        const std::tuple<QString, QString, int, V> cases[] = {
            // identify: three fields, seven, none, a failure status, no number, depth 0, more samples than a
            // 32-bit count holds, negative sizes
            {"printf '6000::4000::8'", full, -1, {}}, {"printf '2::1::8::srgb2::1::8::srgb'", full, -1, {}},
            {"exit 0", full, -1, {}}, {"printf '2::1::8::gray'; exit 1", full, -1, {}},
            {"printf 'x::1::8::gray'", full, -1, {}}, {"printf '2::1::0::gray'", full, -1, {}},
            {"printf '40000::40000::16::srgb'", full, -1, {}}, {"printf '-2::-3::8::srgb'", full, -1, {}},
            // convert: a full stream then a failure status or a crash, one byte short (the last sample would
            // be a silent zero), nothing
            {real, full + "; exit 1", 48, {}}, {real, full + "; kill -SEGV $$", 48, {}},
            {"printf '3::1::16::gray'", R"(printf '\001\000\002\000\003')", -1, {}},
            {"printf '3::1::16::gray'", "exit 0", -1, {}},
            // Surplus bytes are ignored; a line end after the fields is no part of them; a fixed pixel depth
            // overrides the file's.
            {"printf '3::1::8::gray'", R"(printf '\011\012\013\014\015')", -1, {9, 10, 11}},
            {"echo '2::1::16::gray'", R"(printf '\001\002\003\004')", -1, {0x0201, 0x0403}},
            {"printf '1::1::8::gray'", R"(printf '\001\000\002\000\003\001')", 48, {1, 2, 0x0103}},
            {real, full, 48, {1, 2, 3, 4, 5, 6}}};
        for (const auto &[identify, convert, pixelDepth, expected] : cases) {
            QVERIFY(m_box->addTool("identify", identify) && m_box->addTool("convert", convert));
            QVERIFY2(load("gray.png", pixelDepth) == expected, qPrintable(identify + " / " + convert));
        }
        // A convert that cannot be started (its interpreter is missing) fails the load.
        QVERIFY(writeFile("tools/convert", "#!/missing/sh\n") && load("gray.png").empty());
        // A stream of many pieces, split at odd offsets, lands whole: 2 MB through the pipe.
        QVERIFY(m_box->addTool("identify", "printf '1024::1024::16::gray'"));
        QVERIFY(m_box->addTool("convert", "head -c1 /dev/zero; head -c2097151 /dev/zero | tr '\\0' '\\377'"));
        V big(1 << 20, 0xFFFF);
        big[0] = 0xFF00;
        QCOMPARE(load("gray.png", -1), big);
        // ImageMagick 7's front end alone serves, given the tool's name first.
        m_box->removeTools();
        QVERIFY(m_box->addTool("magick", R"(exec "$@")")); // the real tool the name in front calls for
        QCOMPARE(load("gray.png", 8), (V{1, 2}));

        // Windows' System32 holds a convert.exe that converts file systems (here an identify.exe too: nothing
        // there is taken); ImageMagick's folder holds both tools or its front end. Paths are written the
        // Linux way so that they are absolute here.
        const QSet<QString> files{"/C/Windows/System32/convert.exe", "/C/Windows/System32/identify.exe",
            "/C/Apps/convert.exe", "/D/IM6/convert.exe", "/D/IM6/identify.exe", "/C/IM 7/magick.exe",
            "/C/IM 7/convert.exe", "/w/tools/magick.exe", "/usr/bin/convert", "/usr/bin/identify",
            "/opt/im7/magick", "/home/u/bin/convert", "bin/convert"};
        const auto exists = [&files](const QString &p) { return files.contains(p); };
        ToolLocator::Places places{"/none", {}, {"/c/WINDOWS"}, true, exists};
        // windows, PATH, convert's command line ("" when not found), identify's
        const std::tuple<bool, QString, QString, QString> lookups[] = {
            {true, "/C/Windows/system32/;/C/Apps", "", ""},
            {true, "/c/windows/System32;/D/IM6;/C/IM 7", "/D/IM6/convert.exe", "/D/IM6/identify.exe"},
            {true, "/C/Windows/System32;\"/C/IM 7\";/D/IM6", "/C/IM 7/convert.exe",
             "/C/IM 7/magick.exe identify"},
            {false, "bin;/opt/im7;/usr/bin", "/usr/bin/convert", "/usr/bin/identify"},
            {false, "/opt/im7;/home/u/bin", "/home/u/bin/convert", "/opt/im7/magick identify"}};
        for (const auto &[windows, path, convert, identify] : lookups) {
            places.windows = windows;
            places.searchPath = path.split(';');
            QCOMPARE(ToolLocator::find("convert", places).join(' '), convert);
            QCOMPARE(ToolLocator::find("identify", places).join(' '), identify);
        }
        places.windows = true;
        // The tools folder first, through the front end when that is all it has.
        places.toolsFolder = "/w/tools";
        QCOMPARE(ToolLocator::find("convert", places), (QStringList{"/w/tools/magick.exe", "convert"}));
    }

    void toolsGetArgumentsIntactAndEndByInterruptOrTimeLimit()
    {
        // A hanging identify; a convert that delivers its whole stream, hangs, and tidies up when asked
        // to end.
        const std::pair<QString, QString> hanging[] = {{"identify", ": > tools/started; exec sleep 120"},
            {"convert", "trap 'echo cleaned > cleaned.txt; exit 0' TERM; : > tools/started; "
                        "head -c 12 /dev/zero; while :; do sleep 0.1; done"}};
        for (const auto &[tool, body] : hanging) {
            m_box->removeTools();
            QVERIFY(m_box->addForwardingTool("identify") && m_box->addTool(tool, body));
            const QDeadlineTimer wellBeforeTheLimit(20000); // the tools' own limit is 30 s: the flag ended it
            std::atomic_bool interrupt(false);
            auto loading = std::async(std::launch::async, [&] { return load("gray.png", 48, &interrupt); });
            // Set once the hanging tool runs, however slowly the machine gets it there.
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists("tools/started"), 20000);
            interrupt = true;
            QVERIFY2(loading.get().empty() && !wellBeforeTheLimit.hasExpired(), qPrintable(tool));
        }
        QCOMPARE(readFile("cleaned.txt"), QByteArray("cleaned\n"));
        // Past its limit a tool is asked to end; one that ignores that is killed.
        QVERIFY(m_box->addTool("stubborn", "trap '' TERM; echo $$ > pid; while :; do sleep 1; done"));
        ToolRunner stubborn("tools/stubborn", {});
        stubborn.setTimeLimit(2000);
        QVERIFY(!stubborn.run() && stubborn.timedOut());
        const int pid = readFile("pid").trimmed().toInt();
        QVERIFY2(pid > 0 && ::kill(pid, 0) != 0, "the tool is left running");

        // What the tools are given.
        const V values{100, 200, 300, 40000, 50000, 60000};
        const QDir folder(m_box->filePath("my photos")), odd(m_box->filePath("my photos %d [1] zażółć"));
        const QString file = folder.filePath("-night \"1\" (a) zażółć.png");
        QVERIFY(folder.mkpath(".") && odd.mkpath("."));
        makeFromRaw(file, "2x1", "rgb", 16, values);
        for (const QString t : {"identify", "convert"})
            QVERIFY(m_box->addForwardingTool(t, R"(printf '%s\n' "$@" > ${0##*/}.args; env > ${0##*/}.env)"));
        // The tools print numbers and messages in the C locale, keep the rest of the user's, and get huge
        // pages added to the user's own malloc settings.
        qputenv("LC_ALL", "C.UTF-8");
        qputenv("GLIBC_TUNABLES", "glibc.malloc.trim_threshold=9999999");
        const auto restore = qScopeGuard([] { qunsetenv("LC_ALL"), qunsetenv("GLIBC_TUNABLES"); });
        auto arguments = [](QString t) { return QString(readFile(t + ".args")).chopped(1).split('\n'); };
        // The options are split at white space, however much.
        QCOMPARE(samplesOf(Image32(file, "  -function \t Polynomial   0.5,0.0 ", 48)),
                 (V{50, 100, 150, 20000, 25000, 30000}));
        QCOMPARE(arguments("identify"), (QStringList{"-format", "%w::%h::%z::%[channels]", file}));
        QCOMPARE(arguments("convert"),
                 (QStringList{file, "-depth", "16", "-function", "Polynomial", "0.5,0.0", "-endian", "LSB",
                              "rgb:-"}));
        const QStringList env = QString(readFile("identify.env") + readFile("convert.env")).split('\n');
        QVERIFY(env.filter(QRegularExpression("^LC_ALL=")).isEmpty());
        for (const QString line : {"LC_CTYPE=C.UTF-8", "LC_NUMERIC=C", "LC_MESSAGES=C", "GLIBC_TUNABLES="
                                   "glibc.malloc.trim_threshold=9999999:glibc.malloc.hugetlb=1"})
            QVERIFY2(env.count(line) == 2, qPrintable(line)); // in both tools' environments
        // Names ImageMagick could misread, and any name in a folder it could misread, reach it as a plain
        // link to the file, gone afterwards; other names reach it as they are.
        const QStringList plain{"say \"cheese\".png", "two  spaces .png", "-rf.png", "it's.png"};
        const QStringList awkward{"frame[1].png", "crop[2x2+0+0].png", "scene%d.png", "100%.png", "@list.png",
                                  "png:prefixed.png", "star*?.png", odd.filePath("plain.png")};
        for (const QString &name : plain + awkward) {
            const QString copy = folder.filePath(name);
            QVERIFY2(QFile::copy(file, copy) && load(copy) == values, qPrintable(name));
            const QString input = arguments("convert").first();
            const bool linked = input.endsWith("/source.png") && !QFileInfo::exists(input);
            QVERIFY2(plain.contains(name) ? input == copy : linked, qPrintable(name));
        }
        // The last awkward name lies elsewhere.
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden).size(), 1 + plain.size() + awkward.size() - 1);
    }

    void writtenFilesReadBackExactly()
    {
        // Seven pixels wide, five rows: any row padding or shear moves samples between rows, and they span
        // several blocks of the narrowing pass.
        const auto colour = make(7, 5, 48, [](int i) { return quint32(i * 3411 + 0x12FF) & 0xFFFF; });
        const auto wide = make(300, 100, 48, [](int i) { return quint32(i * 7919u) & 0xFFFF; }); // in pieces
        const auto gray = make(7, 3, 16, [](int i) { return quint32(i * 3001 + 5); });
        const auto rgba = make(2, 2, 64, [](int i) { return quint32(i * 4099 + 1); });
        Image32 small(3, 1, 16), alpha(1, 1, 32), eight(3, 1, 8);
        QByteArray high; // what 8 bits keep of colour
        for (quint32 sample : samplesOf(*colour))
            high.append(char(sample >> 8));
        // Written into a folder, and under names, that the tool would expand; an extension naming no format
        // gives a TIFF. Columns: name, image, writer, what the real convert reads back (map, bits, samples).
        const QDir folder("out %d [x]");
        QVERIFY(folder.mkpath("."));
        const std::tuple<QString, const Image32 *, Write, QString, QString, QByteArray> files[] = {
            {"colour.png", colour.get(), saveAs("PNG"), "rgb", "8", high},
            {"gray.png", &with(small, {0x11FF, 0x22FF, 0x33FF}), saveAs("PNG"), "gray", "8", "\x11\x22\x33"},
            {"alpha.png", &with(alpha, {10, 70, 130, 190}), saveAs("PNG"), "rgba", "8", "\x0a\x46\x82\xbe"},
            {"wide.tif", wide.get(), tiff16, "rgb", "16", lowByteFirst(samplesOf(*wide))},
            {"odd.t%f", gray.get(), tiff16, "gray", "16", lowByteFirst(samplesOf(*gray))},
            {"eight.tif", &with(eight, {1, 0x108, 0x20F}), tiff16, "gray", "8", "\x01\x08\x0f"}, // low bytes
            {"rgba.png", rgba.get(), tiff16, "rgba", "16", lowByteFirst(samplesOf(*rgba))}};
        for (const auto &[name, image, write, map, bits, expected] : files) {
            write(*image, folder.filePath(name));
            QVERIFY2(decode(folder.filePath(name), map, bits) == expected, qPrintable(name));
        }
        // Gray stays gray at its depth; nothing but the files is left.
        QCOMPARE(identifyImage(folder.filePath("gray.png")), (QStringList{"3", "1", "8", "gray"}));
        QCOMPARE(identifyImage(folder.filePath("eight.tif")), (QStringList{"3", "1", "16", "gray"}));
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden).size(), int(std::size(files)));
        // A failing tool, one writing nothing, one reporting an error while exiting 0, one dying after a
        // partial write: the earlier file stays.
        const QString keep = folder.filePath("eight.tif"), before = readFile(keep);
        for (const QString body : {"exit 1", "exit 0",
                                   R"(for a; do out=$a; done; echo junk > "$out"; )"
                                   R"(echo 'convert: unable to write pixels @ error/tiff.c/x/1.' >&2)",
                                   R"(for a; do out=$a; done; echo partial > "$out"; kill -KILL $$)"}) {
            QVERIFY(m_box->addTool("convert", body));
            QVERIFY2(writeFails(tiff16, *gray, keep) && readFile(keep) == before, qPrintable(body));
            QVERIFY(noLeftovers(folder.path()));
        }
        // The JPEG quality is honoured; through a link the file it points to is replaced; an unknown format
        // writes nothing.
        wide->save("low.jpg", "JPG", 10);
        const qint64 low = QFileInfo("low.jpg").size();
        QVERIFY(QFile::link("low.jpg", "link.jpg"));
        wide->save("link.jpg", "JPG", 100);
        QVERIFY(QFileInfo("link.jpg").isSymLink() && QFileInfo("low.jpg").size() > low);
        QVERIFY(writeFails(saveAs("XYZ"), *wide, "x.xyz") && !QFileInfo::exists("x.xyz") && noLeftovers("."));
    }

    // The 16-bit TIFF writer's own layout; only the low 16 bits of a sample are written.
    void saveTiff16LaysOutTheFileExactly()
    {
        Image32 one(1, 1, 48), widened(1, 1, 24);
        with(one, {0x1234, 0xABCD, 0x10001}).saveTiff16("one.tif");
        // Little-endian: "II", 42, the directory at 14; the samples; 11 entries of tag, type, count, value:
        // 1 x 1, bits at 152, uncompressed, RGB, fill order, strip at 8, orientation, 3 samples a pixel,
        // 6 bytes in the strip, contiguous; no next directory; 16 bits a sample.
        const QByteArray expected = QByteArray::fromHex("4949 2a00 0e000000  3412 cdab 0100  0b00"
            "0001 0300 01000000 01000000  0101 0300 01000000 01000000  0201 0300 03000000 98000000"
            "0301 0300 01000000 01000000  0601 0300 01000000 02000000  0a01 0300 01000000 01000000"
            "1101 0400 01000000 08000000  1201 0300 01000000 01000000  1501 0300 01000000 03000000"
            "1701 0400 01000000 06000000  1c01 0300 01000000 01000000  00000000  1000 1000 1000")
            + QByteArray(100, '\0');
        QCOMPARE(readFile("one.tif"), expected);
        // Depth 8 is widened: 255 becomes 65280.
        with(widened, {255, 1, 0}).saveTiff16("widened.tif");
        QCOMPARE(readFile("widened.tif").mid(8, 6), QByteArray::fromHex("00ff 0001 0000"));
        // Sizes the SHORT fields cannot hold are refused and write nothing; the largest that fits is written.
        for (const QSize &size : {QSize(65536, 1), QSize(1, 70000)})
            QVERIFY(writeFails(tiff16, Image32(size.width(), size.height(), 48), "huge.tif"));
        QVERIFY(!QFileInfo::exists("huge.tif"));
        QCOMPARE(thrown([] { Image32(65535, 1, 48).saveTiff16("widest.tif"); }), -1);
    }

    void failedWritesLeaveNoTraceAndProtectedFilesStay()
    {
        QVERIFY(writeFile("plain.txt", "not a folder"));
        QVERIFY(QDir().mkpath("taken.png") && writeFile("taken.png/inside", "kept"));
        // A pipe anybody may write to (the sandbox is the current folder).
        QVERIFY(::mkfifo("pipe.png", 0666) == 0 && ::chmod("pipe.png", 0666) == 0);
        // A small disk (root and mount rights needed).
        const QString disk = m_box->filePath("disk");
        const bool mounted = QDir().mkpath(disk)
                             && ToolSandbox::run("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", disk});
        const auto unmount = qScopeGuard([&] { ToolSandbox::run("umount", {disk}); });
        QVERIFY(QFile::setPermissions(m_box->path(), QFileDevice::Permissions(0x7777)));
        // Root writes past file modes: what follows runs as an ordinary user ("nobody") when there is one.
        const passwd *nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
        const bool switched = nobody && nobody->pw_uid != 0 && setegid(nobody->pw_gid) == 0
                              && seteuid(nobody->pw_uid) == 0;
        const auto back = qScopeGuard([switched] {
            if (switched && (seteuid(0) != 0 || setegid(0) != 0))
                qFatal("cannot return to root");
        });
        std::mt19937 random(11);
        // The ways a destination image is written, each on an image that suits it.
        const std::tuple<QString, QString, int, Write> writers[] = {{"JPEG", "jpg", 48, saveAs("JPG", 95)},
            {"PNG", "png", 48, saveAs("PNG")}, {"TIFF", "tif", 48, saveAs("TIFF")},
            {"TIFF16", "tif", 48, tiff16}, {"gray", "tif", 16, tiff16}};
        for (const auto &[name, suffix, pixelDepth, write] : writers) {
            const auto image = make(8, 8, pixelDepth, [](int i) { return quint32(i * 1000); });
            // A missing folder, a file for a folder, an unwritable place; replacing a device, a pipe or a
            // folder by a file would be worse than failing.
            const QStringList targets{"missing/out." + suffix, "plain.txt/out." + suffix,
                                      "/proc/velumen-out." + suffix, "/dev/full", "pipe.png", "taken.png"};
            for (const QString &target : targets)
                QVERIFY2(writeFails(write, *image, target), qPrintable(name + " " + target));
            QVERIFY(!QFileInfo::exists("missing") && !QFileInfo("/dev/full").isFile()
                    && !QFileInfo("pipe.png").isFile() && noLeftovers("/dev"));
            QCOMPARE(readFile("plain.txt") + readFile("taken.png/inside"), QByteArray("not a folderkept"));
            // A user's earlier result made read-only, in a folder they may write, stays byte for byte; a
            // writable one is replaced.
            const QString kept = name + " kept." + suffix, open = name + " open." + suffix;
            if (geteuid() != 0) {
                QVERIFY(writeFile(kept, "earlier") && writeFile(open, "earlier")
                        && QFile::setPermissions(kept, QFileDevice::ReadOwner));
                QVERIFY2(writeFails(write, *image, kept), qPrintable(name));
                write(*image, open);
                QVERIFY2(readFile(kept) == "earlier" && readFile(open) != "earlier", qPrintable(name));
                QVERIFY(noLeftovers(m_box->path()));
            }
            // Noise, which does not compress, does not fit the small disk: the earlier result stays.
            if (mounted) {
                const QString target = disk + "/result." + suffix;
                write(*image, target);
                const QByteArray before = readFile(target);
                const auto noise = make(500, 500, pixelDepth, [&random](int) { return random() & 0xFFFF; });
                QVERIFY2(!before.isEmpty() && writeFails(write, *noise, target), qPrintable(name));
                QVERIFY2(readFile(target) == before && noLeftovers(disk), qPrintable(name));
            }
        }
        // The byte counts are what catch a full disk: every write to /dev/full falls short.
        QFile full("/dev/full");
        const QByteArray block(3 << 20, 'x');
        QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        QVERIFY(!AtomicFileWriter::writeAll(full, block.constData(), block.size())
                && !AtomicFileWriter::writeAll(full, block.constData(), 10));
        if (geteuid() == 0 || !mounted)
            QSKIP("write protection or full disks untested: needs root with mount rights and an ordinary "
                  "user to become");
    }
};

QTEST_GUILESS_MAIN(TestImageBridge)
#include "tst_imagebridge.moc"
