#include "image32.h"
#include "testtools.h"

#include <QtTest>

#include <numeric>
#include <random>

using V = std::vector<quint32>;
using Combine = void (Image32::*)(const Image32 &);

static V samplesOf(const Image32 &image) { return V(image.samples, image.samples + image.sampleCount); }

static Image32 &with(Image32 &image, const V &values)
{
    std::copy(values.begin(), values.end(), image.samples);
    return image;
}

// Gives the image these samples, combines the other image into it and returns the result.
static V combined(Image32 &image, const V &values, Combine combine, const Image32 &other)
{
    (with(image, values).*combine)(other);
    return samplesOf(image);
}

class TestImage32 : public QObject
{
    Q_OBJECT

private slots:
    void blankImageFollowsPixelDepthTableAndRefusesTheRest()
    {
        // pixel depth, depth, channels, channel map
        const std::tuple<int, int, int, QString> table[] = {{8, 8, 1, "gray"},  {16, 16, 1, "gray"}, {24, 8, 3, "rgb"},
                                                            {32, 8, 4, "rgba"}, {48, 16, 3, "rgb"},  {64, 16, 4, "rgba"}};
        for (const auto &[pixelDepth, depth, channels, channelMap] : table) {
            const Image32 image(3, 2, pixelDepth);
            const quint32 max = depth == 8 ? 255u : 65535u;
            QCOMPARE(std::make_tuple(image.depth, image.channels, image.channelMap, image.sampleCount, image.maxValue,
                                     image.maxValueF),
                     std::make_tuple(depth, channels, channelMap, 6 * channels, max, double(max)));
            // Colour samples start at 0, alpha at full opacity.
            for (qint32 i = 0; i < image.sampleCount; ++i)
                QCOMPARE(image.samples[i], (channels == 4 && i % 4 == 3) ? max : 0u);
        }
        const auto thrownType = [](int width, int height, int pixelDepth) {
            try {
                Image32 image(width, height, pixelDepth);
            } catch (const Image32Exception &e) {
                return e.type;
            }
            return -1;
        };
        for (int pixelDepth : {12, -1, 0, 96})
            QCOMPARE(thrownType(2, 2, pixelDepth), int(Image32Exception::UnsupportedDepth));
        // Sample counts that are no positive 32-bit number are refused before any allocation.
        for (const QSize &size : {QSize(0, 5), QSize(5, 0), QSize(-3, 4), QSize(50000, 50000), QSize(65536, 32768)})
            QCOMPARE(thrownType(size.width(), size.height(), 48), int(Image32Exception::ReadFailed));
    }

    void arithmeticWrapsTruncatesAndFollowsOverlapAndChannelRules()
    {
        // Random 32-bit samples: half have the top bit set (a signed comparison shows) and half the sums
        // wrap. Alpha takes part like any other sample. No length is a multiple of the 16-sample block.
        const struct { Combine combine; std::function<quint32(quint32, quint32)> reference; } operations[] = {
            {&Image32::lighten, [](quint32 p, quint32 q) { return std::max(p, q); }}, {&Image32::add, std::plus<quint32>()},
            {&Image32::darken, [](quint32 p, quint32 q) { return std::min(p, q); }}, {&Image32::subtract, std::minus<quint32>()}};
        std::mt19937 random(7);
        for (int width : {1, 5, 17, 33}) {
            Image32 a(width, 3, 64), b(width, 3, 64);
            V x(size_t(a.sampleCount)), y(x.size()), expected(x.size());
            std::generate(x.begin(), x.end(), std::ref(random));
            std::generate(y.begin(), y.end(), std::ref(random));
            for (const auto &operation : operations) {
                std::transform(x.begin(), x.end(), y.begin(), expected.begin(), operation.reference);
                QCOMPARE(combined(a, x, operation.combine, with(b, y)), expected);
                QCOMPARE(samplesOf(b), y);
            }
            std::transform(x.begin(), x.end(), x.begin(), expected.begin(), std::plus<quint32>());
            QCOMPARE(combined(a, x, &Image32::add, a), expected); // added to itself
        }

        // Every sample of the large image is distinct, so reading a wrong position shows.
        Image32 large(4, 4, 16), small(2, 2, 16);
        std::iota(large.samples, large.samples + large.sampleCount, 100u);
        QCOMPARE(combined(small, V(4, 0), &Image32::add, large), (V{100, 101, 104, 105}));
        QCOMPARE(combined(large, V(16, 0), &Image32::add, small), (V{100, 101, 0, 0, 104, 105, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        // Wide against tall, and a shorter image of the same width: only the common rectangle changes.
        Image32 wide(3, 1, 16), tall(1, 3, 16), shorter(3, 2, 16), longer(3, 3, 16);
        QCOMPARE(combined(wide, {10, 20, 30}, &Image32::subtract, with(tall, {7, 8, 9})), (V{3, 20, 30}));
        QCOMPARE(combined(longer, V(9, 0), &Image32::add, with(shorter, {1, 2, 3, 4, 5, 6})), (V{1, 2, 3, 4, 5, 6, 0, 0, 0}));
        // Gray feeds R, G and B; alpha this image lacks is ignored; the other's last channel stands in for
        // alpha it lacks; a gray image takes the first channel of a colour one.
        Image32 rgb(2, 1, 48), gray(2, 1, 16), rgba(2, 1, 64);
        QCOMPARE(combined(rgb, V(6, 0), &Image32::add, with(gray, {5, 9})), (V{5, 5, 5, 9, 9, 9}));
        QCOMPARE(combined(rgb, V(6, 0), &Image32::add, with(rgba, {1, 2, 3, 4, 5, 6, 7, 8})), (V{1, 2, 3, 5, 6, 7}));
        QCOMPARE(combined(rgba, {0, 0, 0, 99, 0, 0, 0, 99}, &Image32::darken, rgb), (V{0, 0, 0, 3, 0, 0, 0, 7}));
        QCOMPARE(combined(gray, V(2, 0), &Image32::lighten, rgb), (V{1, 5}));

        // A divisor below 1 keeps the low 32 bits of the 64-bit quotient; a quotient past 64 bits saturates;
        // divisors without a meaningful result leave the image alone instead of producing garbage.
        const std::pair<double, V> divisions[] = {{3.0, {0, 0, 1431655765, 21845}}, {2.0, {0, 1, 0x7FFFFFFFu, 32767}},
            {0.5, {2, 4, 0xFFFFFFFEu, 0x1FFFE}}, {1e-300, V(4, 0xFFFFFFFFu)}, {0.0, {1, 2, 0xFFFFFFFFu, 65535}},
            {-2.0, {1, 2, 0xFFFFFFFFu, 65535}}, {qQNaN(), {1, 2, 0xFFFFFFFFu, 65535}}};
        Image32 image(4, 1, 16), eight(1, 1, 32);
        for (const auto &[divisor, expected] : divisions) {
            with(image, {1, 2, 0xFFFFFFFFu, 65535}).divide(divisor);
            QCOMPARE(samplesOf(image), expected);
        }
        rgba.fill(0xDEADBEEFu);
        QCOMPARE(samplesOf(rgba), V(8, 0xDEADBEEFu));
        with(image, {65536, 1, 65535, 0}).invert();
        QCOMPARE(samplesOf(image), (V{0xFFFFFFFFu, 65534, 0, 65535}));
        eight.invert();
        QCOMPARE(samplesOf(eight), (V{255, 255, 255, 0}));
    }
};

QTEST_GUILESS_MAIN(TestImage32)
#include "tst_image32.moc"
