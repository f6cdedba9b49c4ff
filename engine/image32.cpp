#include "image32.h"

#include "image32detail.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

// Frames are tens of megabytes, written through once. calloc takes fresh pages that are zero
// already instead of clearing them, and huge pages spare most of the page faults and TLB misses of
// the first pass (the kernel uses them only on the 2 MiB-aligned stretches inside the range).
void *image32detail::allocateFrame(size_t bytes, bool zero)
{
    void *memory = zero ? std::calloc(bytes, 1) : std::malloc(bytes);
#ifdef Q_OS_LINUX
    const uintptr_t page = 4096;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(memory) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(page - 1);
    const size_t hugePageWorthwhile = size_t(8) << 20;
    if (memory && bytes >= hugePageWorthwhile && end > first)
        ::madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
#endif
    return memory;
}

namespace {

// The sample count must stay a positive 32-bit signed number.
const qint64 MaxSampleCount = Q_INT64_C(0x7FFFFFFF);

QString channelMapFor(int channels)
{
    switch (channels) {
    case 1: return QStringLiteral("gray");
    case 3: return QStringLiteral("rgb");
    case 4: return QStringLiteral("rgba");
    default: return QString();
    }
}

quint32 *allocateSamples(qint32 count, bool zero)
{
    return static_cast<quint32 *>(image32detail::allocateFrame(size_t(count) * sizeof(quint32), zero));
}

// One straight pass over the flat arrays. They are declared apart, and the pass goes in blocks of a
// fixed length, so that the compiler vectorises it at -O2 without run-time checks.
template <typename Operation>
void combineFlat(quint32 *__restrict a, const quint32 *__restrict b, qint32 n, Operation op)
{
    const int block = 16;
    qint32 i = 0;
    for (; i + block <= n; i += block) {
        for (int k = 0; k < block; ++k)
            a[i + k] = op(a[i + k], b[i + k]);
    }
    for (; i < n; ++i)
        a[i] = op(a[i], b[i]);
}

template <typename Operation>
void combine(Image32 &image, const Image32 &other, Operation op)
{
    quint32 *a = image.samples;
    const quint32 *b = other.samples;
    if (image.width == other.width && image.height == other.height && image.channels == other.channels) {
        const qint32 n = image.sampleCount;
        if (a != b) {
            combineFlat(a, b, n, op);
        } else {
            for (qint32 i = 0; i < n; ++i)
                a[i] = op(a[i], a[i]);
        }
        return;
    }
    const qint32 w = std::min(image.width, other.width);
    const qint32 h = std::min(image.height, other.height);
    const qint32 lastOther = other.channels - 1;
    for (qint32 y = 0; y < h; ++y) {
        for (qint32 x = 0; x < w; ++x) {
            quint32 *pixel = a + (qint64(y) * image.width + x) * image.channels;
            const quint32 *source = b + (qint64(y) * other.width + x) * other.channels;
            for (qint32 c = 0; c < image.channels; ++c)
                pixel[c] = op(pixel[c], source[std::min(c, lastOther)]);
        }
    }
}

} // namespace

void image32detail::applyPixelDepth(int pixelDepth, qint32 &depth, qint32 &channels)
{
    switch (pixelDepth) {
    case 8: depth = 8; channels = 1; break;
    case 16: depth = 16; channels = 1; break;
    case 24: depth = 8; channels = 3; break;
    case 32: depth = 8; channels = 4; break;
    case 48: depth = 16; channels = 3; break;
    case 64: depth = 16; channels = 4; break;
    default: throw Image32Exception(Image32Exception::UnsupportedDepth, QString());
    }
}

QStringList image32detail::splitOptions(const QString &options)
{
    const QString simple = options.simplified();
    return simple.isEmpty() ? QStringList() : simple.split(QLatin1Char(' '));
}

Image32Exception::Image32Exception(int type, const QString &filename)
    : type(type), filename(filename)
{
}

Image32::Image32(int width, int height, int pixelDepth)
    : width(width), height(height)
{
    image32detail::applyPixelDepth(pixelDepth, depth, channels);
    allocate(QString(), true);
}

Image32::~Image32()
{
    std::free(samples);
}

void Image32::allocate(const QString &fileName, bool zero)
{
    if (width <= 0 || height <= 0 || channels <= 0
        || qint64(width) * qint64(height) * qint64(channels) > MaxSampleCount)
        throw Image32Exception(Image32Exception::ReadFailed, fileName);
    sampleCount = height * width * channels;
    samples = allocateSamples(sampleCount, zero);
    if (!samples)
        throw Image32Exception(Image32Exception::ReadFailed, fileName);
    maxValue = (quint32(1) << depth) - 1;
    maxValueF = double(maxValue);
    channelMap = channelMapFor(channels);
    if (channels == 4 && zero) {
        for (qint32 i = 3; i < sampleCount; i += 4)
            samples[i] = maxValue;
    }
}

void Image32::lighten(const Image32 &other)
{
    combine(*this, other, [](quint32 a, quint32 b) { return a > b ? a : b; });
}

void Image32::darken(const Image32 &other)
{
    combine(*this, other, [](quint32 a, quint32 b) { return a < b ? a : b; });
}

void Image32::add(const Image32 &other)
{
    combine(*this, other, [](quint32 a, quint32 b) { return a + b; });
}

void Image32::subtract(const Image32 &other)
{
    combine(*this, other, [](quint32 a, quint32 b) { return a - b; });
}

void Image32::divide(const double &divisor)
{
    // Zero, negative or not-a-number divisors have no meaningful result; the image stays as it is.
    if (!(divisor > 0.0))
        return;
    const double limit = 9223372036854775807.0;
    for (qint32 i = 0; i < sampleCount; ++i) {
        const double quotient = double(samples[i]) / divisor;
        samples[i] = quotient < limit ? quint32(qint64(quotient)) : 0xFFFFFFFFu;
    }
}

void Image32::fill(unsigned value)
{
    std::fill(samples, samples + sampleCount, quint32(value));
}

void Image32::invert()
{
    const quint32 top = maxValue;
    for (qint32 i = 0; i < sampleCount; ++i)
        samples[i] = top - samples[i];
}
