// The in-process JPEG reader and weighting against the real ImageMagick: the same 16-bit streams,
// the same identify fields, and every file it cannot vouch for handed back to the tools.
#include "image32.h"
#include "jpegdecoder.h"
#include "polynomialweight.h"
#include "testtools.h"

#include <QFile>
#include <QTest>

#include <memory>
#include <vector>

using namespace TestTools;

namespace {

// The 16-bit rgb stream the worker's read command gives, from the decoded 8-bit samples.
QByteArray weightedStream(const std::vector<uchar> &samples, int components, const PolynomialWeight &weight)
{
    QByteArray stream;
    stream.reserve(int(samples.size() / size_t(components) * 6));
    for (size_t i = 0; i < samples.size(); i += size_t(components)) {
        for (int c = 0; c < 3; ++c) {
            const quint16 value = weight.at(samples[i + size_t(components == 1 ? 0 : c)]);
            stream.append(char(value & 0xFF)).append(char(value >> 8));
        }
    }
    return stream;
}

} // namespace

class TestJpegDecoder : public QObject
{
    Q_OBJECT

    std::unique_ptr<ToolSandbox> m_box;

    static bool cjpeg(const QString &options, const QString &file, const QString &source = "source.ppm")
    {
        return ToolSandbox::run("sh", {"-c", QString("cjpeg %1 %2 >%3").arg(options, source, file)});
    }

    static bool exiv2(const QString &command, const QString &file)
    {
        return ToolSandbox::run("exiv2", {"-q", "-M", command, file});
    }

    QByteArray toolStream(const QString &file, const PolynomialWeight &weight)
    {
        QByteArray output;
        QStringList arguments{file, "-depth", "16"};
        arguments << weight.arguments().split(' ') << "-endian" << "LSB" << "rgb:-";
        return m_box->convert(arguments, &output) ? output : QByteArray();
    }

    // A file every part of the decode must match the tools on: header, fields and weighted streams.
    void checkPlain(const QString &file)
    {
        const JpegDecoder::Header header = JpegDecoder::readHeader(file);
        QVERIFY2(header.plain, qPrintable(file));
        QCOMPARE(header.identifyFields, identifyImage(file));
        std::vector<uchar> samples(size_t(header.width) * size_t(header.height) * size_t(header.components));
        QVERIFY2(JpegDecoder::decode(file, header, samples.data()), qPrintable(file));
        for (const auto &[weight, method] : {std::pair<double, int>{1.0, 0}, {2.0 / 3.0, 1}, {0.37, 2}}) {
            const PolynomialWeight polynomial(weight, method);
            const QByteArray expected = toolStream(file, polynomial);
            QVERIFY(!expected.isEmpty());
            QVERIFY2(weightedStream(samples, header.components, polynomial) == expected, qPrintable(file));
        }
    }

    // What the decoder must leave to the tools: not plain, or plain with a decode that fails.
    void checkHandedBack(const QString &file, bool headerPlain)
    {
        const JpegDecoder::Header header = JpegDecoder::readHeader(file);
        QVERIFY2(header.plain == headerPlain, qPrintable(file));
        const JpegDecoder::Header claimed{true, qMax(1, header.width), qMax(1, header.height), 3, {}};
        std::vector<uchar> samples(size_t(claimed.width) * size_t(claimed.height) * 3);
        QVERIFY2(!JpegDecoder::decode(file, claimed, samples.data()), qPrintable(file));
    }

private slots:
    void init()
    {
        m_box.reset(new ToolSandbox);
        QVERIFY2(m_box->isValid(), "no sandbox folder or no ImageMagick convert/identify on PATH");
        QVERIFY(m_box->convert({"-seed", "7", "-size", "61x37", "plasma:", "source.ppm"}));
    }

    void cleanup() { m_box.reset(); }

    // Every 8-bit value under weights of groups, fades and percentages, in all three methods.
    void weightingMatchesTheToolForEveryValue()
    {
        QByteArray ramp;
        for (int v = 0; v < 256; ++v)
            ramp.append(char(v));
        QVERIFY(writeFile("ramp.gray", ramp));
        QVERIFY(m_box->convert({"-size", "256x1", "-depth", "8", "gray:ramp.gray", "ramp.png"}));
        std::vector<double> weights{1.0, 0.5, 0.25, 1.0 / 6.0, 5.0 / 6.0, 7.0 / 12.0, 1e-7, 0.9999996,
                                    2.0 / 3.0 / 0.37, 98.0 / 99.0 / 0.37, 4998.0 / 4999.0 / 0.37};
        for (int k = 1; k <= 12; ++k)
            weights.push_back(double(k) / 13.0);
        for (double weight : weights) {
            for (int method = 0; method < 3; ++method) {
                const PolynomialWeight polynomial(qMin(weight, 1.0), method);
                const std::vector<uchar> values(ramp.begin(), ramp.end());
                QVERIFY2(weightedStream(values, 1, polynomial) == toolStream("ramp.png", polynomial),
                         qPrintable(polynomial.arguments()));
            }
        }
    }

    void plainJpegsMatchTheTools()
    {
        const QStringList kinds{"-sample 2x2", "-sample 2x1 -progressive", "-sample 1x1 -restart 1",
            "-sample 1x2 -optimize", "-sample 4x1", "-grayscale -progressive", "-rgb",
            "-sample 2x2 -dct float -restart 2 -progressive"};
        for (const QString &kind : kinds) {
            QVERIFY(cjpeg(kind, "kind.jpg"));
            checkPlain("kind.jpg");
        }
        // Odd sizes through ImageMagick's own writer (Exif orientation is not applied on read); a header
        // longer than the first read (three comments of 60000 bytes); colour samples that are all gray,
        // which stay "srgb" for the tools.
        QVERIFY(m_box->convert({"-seed", "3", "-size", "1x1", "plasma:", "-quality", "90", "tiny.jpg"})
                && m_box->convert({"-seed", "5", "-size", "17x333", "plasma:", "-colorspace", "gray",
                                   "-interlace", "JPEG", "tall.jpg"})
                && exiv2("set Exif.Image.Orientation 6", "tall.jpg")
                && m_box->convert({"source.ppm", "-colorspace", "gray", "ppm:graysource.ppm"})
                && cjpeg("", "grayish.jpg", "graysource.ppm"));
        QByteArray commented = readFile("tall.jpg");
        for (int i = 0; i < 3; ++i)
            commented.insert(2, QByteArray("\xFF\xFE\xEA\x62") + QByteArray(60000, 'c'));
        QVERIFY(writeFile("commented.jpg", commented));
        for (const char *file : {"tiny.jpg", "tall.jpg", "commented.jpg", "grayish.jpg"})
            checkPlain(file);
        // Photographs found on this machine, when there are any; Photoshop's IPTC segment is the
        // tools' to parse, so it is cut away (lossless) for the in-process decode.
        const char *const photographs[] = {
            "/usr/lib/google-cloud-sdk/platform/gsutil/third_party/requests/ext/flower-of-life.jpg",
            "/root/.rustup/toolchains/stable-x86_64-unknown-linux-gnu/share/doc/rust/html/embedded-book/"
            "assets/f3.jpg"};
        for (const char *photograph : photographs) {
            if (!QFile::exists(photograph))
                continue;
            const QString command = "jpegtran -copy none " + shellQuote(photograph) + " >photo.jpg";
            QVERIFY(ToolSandbox::run("sh", {"-c", command}));
            checkPlain("photo.jpg");
        }
    }

    // Every file the decoder cannot vouch for, and a decode stopped or outrun by a change of the file.
    void everyOtherFileGoesToTheTools()
    {
        // CMYK, arithmetic coding, a PNG by another name, no file; 12 bits per sample and a lossless
        // frame, as the frame header says; XMP, which the tools' reader validates (invalid XML fails it),
        // and IPTC; beyond the tools' width limit on this machine (16000 pixels with Debian's policy).
        QVERIFY(cjpeg("", "kind0.jpg") && cjpeg("-arithmetic", "arithmetic.jpg")
                && m_box->convert({"source.ppm", "-colorspace", "CMYK", "cmyk.jpg"})
                && m_box->convert({"source.ppm", "png:png.jpg"}) && m_box->convert({"source.ppm", "xmp.jpg"})
                && exiv2("set Xmp.dc.title x", "xmp.jpg") && m_box->convert({"source.ppm", "iptc.jpg"})
                && exiv2("set Iptc.Application2.Caption x", "iptc.jpg")
                && writeFile("wide.pgm", "P5 16001 8 255\n" + QByteArray(16001 * 8, char(128)))
                && cjpeg("", "wide.jpg", "wide.pgm"));
        QByteArray twelve = readFile("kind0.jpg");
        const int frame = twelve.indexOf("\xFF\xC0");
        QVERIFY(frame > 0);
        twelve[frame + 4] = 12;
        QVERIFY(writeFile("twelve.jpg", twelve));
        twelve[frame + 1] = char(0xC3); // lossless
        twelve[frame + 4] = 8;
        QVERIFY(writeFile("lossless.jpg", twelve));
        QCOMPARE(identifyImage("wide.jpg"), QStringList());
        for (const char *file : {"cmyk.jpg", "arithmetic.jpg", "png.jpg", "missing.jpg", "twelve.jpg",
                                 "lossless.jpg", "xmp.jpg", "iptc.jpg", "wide.jpg"})
            checkHandedBack(file, false);
        // Damage found only in the decode: a cut scan (libjpeg warns), a progressive file with flipped
        // bytes (libjpeg fails).
        const QByteArray baseline = readFile("kind0.jpg");
        QVERIFY(writeFile("cut.jpg", baseline.left(baseline.size() * 2 / 3))
                && cjpeg("-progressive", "whole.jpg"));
        QByteArray flipped = readFile("whole.jpg");
        for (int at = flipped.size() / 2; at < flipped.size() / 2 + 40; at += 3)
            flipped[at] = char(~flipped.at(at));
        QVERIFY(writeFile("flipped.jpg", flipped));
        checkHandedBack("cut.jpg", true);
        checkHandedBack("flipped.jpg", true);
        // An area at the tools' limit moves their pixels to disk: theirs too, as the environment sets it.
        // The tools list the 2257-pixel limit as "2.26KP": the decoder must not read it as 2260.
        qputenv("MAGICK_AREA_LIMIT", "2257");
        checkHandedBack("kind0.jpg", false);
        qputenv("MAGICK_AREA_LIMIT", "2300");
        QVERIFY(JpegDecoder::readHeader("kind0.jpg").plain);
        qunsetenv("MAGICK_AREA_LIMIT");
        // A policy of the user's that refuses JPEG.
        const QByteArray policy =
            "<policymap><policy domain='coder' rights='none' pattern='JPEG'/></policymap>";
        QVERIFY(QDir().mkpath("policy") && writeFile("policy/policy.xml", policy));
        qputenv("MAGICK_CONFIGURE_PATH", QDir("policy").absolutePath().toLocal8Bit());
        QCOMPARE(identifyImage("kind0.jpg"), QStringList());
        checkHandedBack("kind0.jpg", false);
        qunsetenv("MAGICK_CONFIGURE_PATH");
        // A decode stops at either flag; a file replaced by a larger image after its header was read
        // fails without writing past the buffer.
        const JpegDecoder::Header header = JpegDecoder::readHeader("kind0.jpg");
        QVERIFY(header.plain);
        std::vector<uchar> samples(size_t(header.width) * size_t(header.height) * 3);
        const std::atomic_bool set(true), clear(false);
        QVERIFY(!JpegDecoder::decode("kind0.jpg", header, samples.data(), &set, &clear));
        QVERIFY(!JpegDecoder::decode("kind0.jpg", header, samples.data(), &clear, &set));
        QVERIFY(JpegDecoder::decode("kind0.jpg", header, samples.data(), &clear, &clear));
        QVERIFY(m_box->convert({"-size", "200x100", "xc:red", "kind0.jpg"}));
        QVERIFY(!JpegDecoder::decode("kind0.jpg", header, samples.data()));
    }
};

QTEST_GUILESS_MAIN(TestJpegDecoder)
#include "tst_jpegdecoder.moc"
