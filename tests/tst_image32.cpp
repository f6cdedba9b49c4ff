#include "image32.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

class TestImage32 : public QObject
{
    Q_OBJECT

private:
    static std::vector<quint32> samplesOf(const Image32 &image)
    {
        return std::vector<quint32>(image.samples, image.samples + image.sampleCount);
    }
    static void setSamples(Image32 &image, const std::vector<quint32> &values)
    {
        QCOMPARE(qint64(values.size()), qint64(image.sampleCount));
        std::copy(values.begin(), values.end(), image.samples);
    }

private slots:
    void blankImageFollowsPixelDepthTable_data();
    void blankImageFollowsPixelDepthTable();
    void blankImageRefusesBadDepthAndSize();
    void sameShapeArithmeticWrapsAndComparesUnsigned();
    void sameShapeCombineMatchesReferenceOnOddLengths();
    void differingShapesCombineOnTopLeftOverlap();
    void channelsStandInForEachOther();
    void divideTruncatesAndFillInvertCoverEverySample();
};

void TestImage32::blankImageFollowsPixelDepthTable_data()
{
    QTest::addColumn<int>("pixelDepth");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("channelMap");
    QTest::newRow("8") << 8 << 8 << 1 << "gray";
    QTest::newRow("16") << 16 << 16 << 1 << "gray";
    QTest::newRow("24") << 24 << 8 << 3 << "rgb";
    QTest::newRow("32") << 32 << 8 << 4 << "rgba";
    QTest::newRow("48") << 48 << 16 << 3 << "rgb";
    QTest::newRow("64") << 64 << 16 << 4 << "rgba";
}

void TestImage32::blankImageFollowsPixelDepthTable()
{
    QFETCH(int, pixelDepth);
    QFETCH(int, depth);
    QFETCH(int, channels);
    QFETCH(QString, channelMap);

    Image32 image(3, 2, pixelDepth);
    QCOMPARE(image.width, 3);
    QCOMPARE(image.height, 2);
    QCOMPARE(image.depth, depth);
    QCOMPARE(image.channels, channels);
    QCOMPARE(image.channelMap, channelMap);
    QCOMPARE(image.sampleCount, 3 * 2 * channels);
    const quint32 maxValue = depth == 8 ? 255u : 65535u;
    QCOMPARE(image.maxValue, maxValue);
    QCOMPARE(image.maxValueF, double(maxValue));
    // Colour samples start at 0, alpha at full opacity.
    for (qint32 i = 0; i < image.sampleCount; ++i)
        QCOMPARE(image.samples[i], (channels == 4 && i % 4 == 3) ? maxValue : 0u);
}

void TestImage32::blankImageRefusesBadDepthAndSize()
{
    for (int pixelDepth : {12, -1, 0, 96}) {
        try {
            Image32 image(2, 2, pixelDepth);
            QFAIL(qPrintable(QStringLiteral("pixel depth %1 accepted").arg(pixelDepth)));
        } catch (const Image32Exception &e) {
            QCOMPARE(e.type, int(Image32Exception::UnsupportedDepth));
            QVERIFY(e.filename.isEmpty());
        }
    }
    // Sizes whose sample count is not a positive 32-bit number are refused before any allocation.
    const QList<QPair<int, int>> sizes{{0, 5}, {5, 0}, {-3, 4}, {50000, 50000}, {65536, 32768}};
    for (const auto &size : sizes) {
        try {
            Image32 image(size.first, size.second, 48);
            QFAIL(qPrintable(QStringLiteral("size %1 x %2 accepted").arg(size.first).arg(size.second)));
        } catch (const Image32Exception &e) {
            QCOMPARE(e.type, int(Image32Exception::ReadFailed));
        }
    }
}

void TestImage32::sameShapeArithmeticWrapsAndComparesUnsigned()
{
    Image32 a(2, 1, 32);
    Image32 b(2, 1, 32);
    setSamples(a, {70000, 3, 0xFFFFFFFFu, 10, 0x80000000u, 0, 1, 255});
    setSamples(b, {5, 5, 2, 10, 1, 0xFFFFFFFFu, 0, 255});

    a.lighten(b);
    QCOMPARE(samplesOf(a), (std::vector<quint32>{70000, 5, 0xFFFFFFFFu, 10, 0x80000000u, 0xFFFFFFFFu, 1, 255}));

    setSamples(a, {70000, 3, 0xFFFFFFFFu, 10, 0x80000000u, 0, 1, 255});
    a.darken(b);
    QCOMPARE(samplesOf(a), (std::vector<quint32>{5, 3, 2, 10, 1, 0, 0, 255}));

    // Alpha takes part like any other sample, and sums wrap modulo 2^32.
    setSamples(a, {70000, 3, 0xFFFFFFFFu, 10, 0x80000000u, 0, 1, 255});
    a.add(b);
    QCOMPARE(samplesOf(a), (std::vector<quint32>{70005, 8, 1, 20, 0x80000001u, 0xFFFFFFFFu, 1, 510}));

    setSamples(a, {70000, 3, 0xFFFFFFFFu, 10, 0x80000000u, 0, 1, 255});
    a.subtract(b);
    QCOMPARE(samplesOf(a), (std::vector<quint32>{69995, 4294967294u, 0xFFFFFFFDu, 0, 0x7FFFFFFFu, 1, 1, 0}));

    // A sum of 65537 full 16-bit images still fits.
    Image32 sum(1, 1, 16);
    Image32 full(1, 1, 16);
    full.fill(65535);
    for (int i = 0; i < 65537; ++i)
        sum.add(full);
    QCOMPARE(sum.samples[0], 65537u * 65535u);

    // Adding an image to itself doubles it.
    setSamples(a, {1, 2, 3, 4, 5, 6, 7, 8});
    a.add(a);
    QCOMPARE(samplesOf(a), (std::vector<quint32>{2, 4, 6, 8, 10, 12, 14, 16}));
}

void TestImage32::sameShapeCombineMatchesReferenceOnOddLengths()
{
    // Lengths that are not a multiple of any vector width, so a wrongly handled tail shows.
    std::mt19937 random(7);
    for (int width : {1, 5, 17, 33}) {
        Image32 a(width, 3, 48);
        Image32 b(width, 3, 48);
        for (qint32 i = 0; i < a.sampleCount; ++i) {
            a.samples[i] = random();
            b.samples[i] = random();
        }
        const std::vector<quint32> x = samplesOf(a);
        const std::vector<quint32> y = samplesOf(b);

        a.lighten(b);
        for (size_t i = 0; i < x.size(); ++i)
            QCOMPARE(a.samples[i], std::max(x[i], y[i]));
        setSamples(a, x);
        a.darken(b);
        for (size_t i = 0; i < x.size(); ++i)
            QCOMPARE(a.samples[i], std::min(x[i], y[i]));
        setSamples(a, x);
        a.add(b);
        for (size_t i = 0; i < x.size(); ++i)
            QCOMPARE(a.samples[i], quint32(x[i] + y[i]));
        setSamples(a, x);
        a.subtract(b);
        for (size_t i = 0; i < x.size(); ++i)
            QCOMPARE(a.samples[i], quint32(x[i] - y[i]));
        QCOMPARE(samplesOf(b), y);
    }
}

void TestImage32::differingShapesCombineOnTopLeftOverlap()
{
    // Every sample of the large image is distinct, so reading a wrong position shows.
    Image32 large(4, 4, 16);
    for (qint32 i = 0; i < large.sampleCount; ++i)
        large.samples[i] = 100 + quint32(i);
    Image32 small(2, 2, 16);
    small.add(large);
    QCOMPARE(samplesOf(small), (std::vector<quint32>{100, 101, 104, 105}));

    Image32 target(4, 4, 16);
    Image32 patch(2, 2, 16);
    setSamples(patch, {1, 2, 3, 4});
    target.add(patch);
    std::vector<quint32> expected(16, 0);
    expected[0] = 1;
    expected[1] = 2;
    expected[4] = 3;
    expected[5] = 4;
    QCOMPARE(samplesOf(target), expected);

    // Same width, different heights, and wide against tall: only the common rectangle changes.
    Image32 wide(3, 1, 16);
    Image32 tall(1, 3, 16);
    setSamples(wide, {10, 20, 30});
    setSamples(tall, {7, 8, 9});
    wide.subtract(tall);
    QCOMPARE(samplesOf(wide), (std::vector<quint32>{3, 20, 30}));
    tall.lighten(wide);
    QCOMPARE(samplesOf(tall), (std::vector<quint32>{7, 8, 9}));
    Image32 shortImage(3, 2, 16);
    setSamples(shortImage, {1, 2, 3, 4, 5, 6});
    Image32 longImage(3, 3, 16);
    longImage.add(shortImage);
    QCOMPARE(samplesOf(longImage), (std::vector<quint32>{1, 2, 3, 4, 5, 6, 0, 0, 0}));
}

void TestImage32::channelsStandInForEachOther()
{
    // A gray image feeds R, G and B of a colour image of the same size.
    Image32 colour(2, 1, 48);
    Image32 gray(2, 1, 16);
    setSamples(gray, {5, 9});
    colour.add(gray);
    QCOMPARE(samplesOf(colour), (std::vector<quint32>{5, 5, 5, 9, 9, 9}));

    // Alpha of the other image is ignored when this one has fewer channels.
    Image32 rgb(1, 2, 48);
    Image32 rgba(1, 2, 64);
    setSamples(rgba, {1, 2, 3, 4, 5, 6, 7, 8});
    rgb.add(rgba);
    QCOMPARE(samplesOf(rgb), (std::vector<quint32>{1, 2, 3, 5, 6, 7}));

    // The other image's last channel stands in for alpha it does not have.
    Image32 withAlpha(1, 1, 64);
    Image32 plain(1, 1, 48);
    setSamples(plain, {10, 20, 30});
    withAlpha.darken(plain);
    QCOMPARE(samplesOf(withAlpha), (std::vector<quint32>{0, 0, 0, 30}));

    // A colour image combined into a gray one uses its first channel only.
    Image32 grayTarget(2, 1, 16);
    Image32 colourSource(2, 1, 48);
    setSamples(colourSource, {11, 12, 13, 21, 22, 23});
    grayTarget.lighten(colourSource);
    QCOMPARE(samplesOf(grayTarget), (std::vector<quint32>{11, 21}));
}

void TestImage32::divideTruncatesAndFillInvertCoverEverySample()
{
    Image32 image(4, 1, 16);
    setSamples(image, {1, 2, 3, 4});
    image.divide(3.0);
    QCOMPARE(samplesOf(image), (std::vector<quint32>{0, 0, 1, 1}));

    setSamples(image, {1000, 65535, 0xFFFFFFFFu, 7});
    image.divide(2.0);
    QCOMPARE(samplesOf(image), (std::vector<quint32>{500, 32767, 0x7FFFFFFFu, 3}));
    setSamples(image, {1000, 65535, 0xFFFFFFFFu, 7});
    image.divide(3.0);
    QCOMPARE(image.samples[0], 333u);
    // A divisor below 1 keeps the low 32 bits of the 64-bit quotient.
    setSamples(image, {0xFFFFFFFFu, 3, 0x80000000u, 0});
    image.divide(0.5);
    QCOMPARE(samplesOf(image), (std::vector<quint32>{0xFFFFFFFEu, 6, 0, 0}));
    // Divisors without a meaningful result leave the image alone instead of producing garbage.
    setSamples(image, {1, 2, 3, 4});
    image.divide(0.0);
    image.divide(-2.0);
    image.divide(std::numeric_limits<double>::quiet_NaN());
    QCOMPARE(samplesOf(image), (std::vector<quint32>{1, 2, 3, 4}));
    image.divide(1e-300);
    QCOMPARE(samplesOf(image), (std::vector<quint32>{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}));

    Image32 rgba(2, 1, 32);
    rgba.fill(0);
    QCOMPARE(samplesOf(rgba), std::vector<quint32>(8, 0));
    rgba.fill(0xDEADBEEFu);
    QCOMPARE(samplesOf(rgba), std::vector<quint32>(8, 0xDEADBEEFu));

    Image32 blank(3, 1, 16);
    blank.invert();
    QCOMPARE(samplesOf(blank), std::vector<quint32>(3, 65535));
    setSamples(blank, {65536, 1, 65535});
    blank.invert();
    QCOMPARE(samplesOf(blank), (std::vector<quint32>{4294967295u, 65534, 0}));
    Image32 eight(1, 1, 32);
    eight.invert();
    QCOMPARE(samplesOf(eight), (std::vector<quint32>{255, 255, 255, 0}));
}

QTEST_GUILESS_MAIN(TestImage32)
#include "tst_image32.moc"
