#include "image32.h"

#include "atomicfilewriter.h"
#include "toolrunner.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace {

// The sample count must stay a positive 32-bit signed number.
const qint64 MaxSampleCount = Q_INT64_C(0x7FFFFFFF);
const qint64 IdentifyOutputLimit = 64 * 1024;
const int ConvertPiece = 64 * 1024;
const int TiffShortMax = 65535;

void applyPixelDepth(int pixelDepth, qint32 &depth, qint32 &channels)
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

QString channelMapFor(int channels)
{
    switch (channels) {
    case 1: return QStringLiteral("gray");
    case 3: return QStringLiteral("rgb");
    case 4: return QStringLiteral("rgba");
    default: return QString();
    }
}

// The options text is a list of tool arguments separated by white space.
QStringList splitOptions(const QString &options)
{
    const QString simple = options.simplified();
    return simple.isEmpty() ? QStringList() : simple.split(QLatin1Char(' '));
}

// A source file name as the tools get it. It is absolute, so it cannot be taken for an option
// ('-'), a list file ('@') or a coder prefix ("png:"). ImageMagick still reads some existing names
// as something else: with '[' in the name it may expand a pattern and read the file as a list of
// names. Names with such characters therefore reach the tool through a link of a plain name in a
// private temporary folder.
class ToolInput
{
public:
    explicit ToolInput(const QString &fileName)
    {
        const QString absolute = QFileInfo(fileName).absoluteFilePath();
        if (isPlain(absolute)) {
            m_path = QDir::toNativeSeparators(absolute);
            return;
        }
        m_folder.reset(new QTemporaryDir(QDir(QDir::tempPath()).filePath(QStringLiteral("velumen-XXXXXX"))));
        if (!m_folder->isValid() || !isPlain(m_folder->path()))
            return;
        const QString suffix = QFileInfo(absolute).suffix();
        static const QRegularExpression plainSuffix(QStringLiteral("^[A-Za-z0-9]{1,8}$"));
        const QString link = QDir(m_folder->path()).filePath(
            plainSuffix.match(suffix).hasMatch() ? QStringLiteral("source.") + suffix : QStringLiteral("source"));
#ifdef Q_OS_WIN
        // Windows links need rights a user may not have; a copy serves.
        if (QFile::copy(absolute, link))
#else
        if (QFile::link(absolute, link))
#endif
            m_path = QDir::toNativeSeparators(link);
    }

    // Empty when no usable name could be made.
    QString path() const { return m_path; }

private:
    static bool isPlain(const QString &absolute)
    {
        static const QString special = QStringLiteral("*?[]{}%@:~\\<>|");
        int start = 0;
#ifdef Q_OS_WIN
        if (absolute.size() >= 2 && absolute.at(1) == QLatin1Char(':'))
            start = 2;
#endif
        for (int i = start; i < absolute.size(); ++i) {
            const QChar c = absolute.at(i);
            if (c.unicode() < 0x20 || special.contains(c))
                return false;
        }
        return true;
    }

    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_path;
};

// ImageMagick turns damage it could read past (a truncated JPEG gives a full image, the lower part
// grey) into warnings and exit status 0. Those warnings fail a read; warnings about metadata do not.
bool reportsDamage(const QByteArray &errorOutput)
{
    static const char *const damage[] = {
        "premature end", "premature eof", "unexpected end", "unexpected eof", "truncat", "corrupt",
        "bad huffman", "inconsistent progression", "insufficient image data", "not enough image data",
        "read error", "read exception", "crc error", "unable to read", "cannot read", "damaged",
    };
    const QList<QByteArray> lines = errorOutput.toLower().split('\n');
    for (const QByteArray &line : lines) {
        if (line.contains("@ error/") || line.contains("@ fatal/"))
            return true;
        // Stray bytes between JPEG markers leave every pixel intact; some cameras write them.
        if (line.contains("extraneous bytes before marker"))
            continue;
        for (const char *text : damage) {
            if (line.contains(text))
                return true;
        }
    }
    return false;
}

quint32 *allocateSamples(qint32 count, bool zero)
{
    return zero ? new (std::nothrow) quint32[size_t(count)]() : new (std::nothrow) quint32[size_t(count)];
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

Image32Exception::Image32Exception(int type, const QString &filename)
    : type(type), filename(filename)
{
}

QString toolsFolder()
{
    return QStringLiteral("tools");
}

QStringList identifyImage(const QString &fileName, const std::atomic_bool *interrupt)
{
    // A name that is not an existing file would be read by the tool as a pattern or a frame list.
    if (!QFileInfo(fileName).isFile())
        return QStringList();

    const ToolInput input(fileName);
    if (input.path().isEmpty())
        return QStringList();
    QByteArray output;
    ToolRunner runner(ToolRunner::locate(QStringLiteral("identify")),
                      {QStringLiteral("-format"), QStringLiteral("%w::%h::%z::%[channels]"), input.path()});
    runner.setInterrupt(interrupt);
    runner.setOutputSink([&output](const char *data, qint64 size) {
        if (output.size() + size > IdentifyOutputLimit)
            return false;
        output.append(data, int(size));
        return true;
    });
    if (!runner.run())
        return QStringList();
    return QString::fromUtf8(output).trimmed().split(QStringLiteral("::"));
}

Image32::Image32(int width, int height, int pixelDepth)
    : width(width), height(height)
{
    applyPixelDepth(pixelDepth, depth, channels);
    allocate(QString(), true);
}

Image32::Image32(const QString &fileName, const QString &options, int pixelDepth,
                 const std::atomic_bool *interrupt)
{
    const QStringList fields = identifyImage(fileName, interrupt);
    if (fields.size() != 4)
        throw Image32Exception(Image32Exception::ReadFailed, fileName);
    width = fields.at(0).toInt();
    height = fields.at(1).toInt();
    if (pixelDepth == -1) {
        // The samples come as 8 or 16 bits; a file of fewer or more bits per sample is scaled by the tool.
        const int fileDepth = fields.at(2).toInt();
        if (fileDepth <= 0)
            throw Image32Exception(Image32Exception::ReadFailed, fileName);
        depth = fileDepth <= 8 ? 8 : 16;
        channels = fields.at(3) == QLatin1String("gray") ? 1 : 3;
    } else {
        applyPixelDepth(pixelDepth, depth, channels);
    }
    allocate(fileName, false);

    try {
        readSamples(fileName, options, interrupt);
    } catch (...) {
        delete[] samples;
        samples = nullptr;
        throw;
    }
}

Image32::~Image32()
{
    delete[] samples;
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

void Image32::readSamples(const QString &fileName, const QString &options, const std::atomic_bool *interrupt)
{
    // Checked again right before the read: the file may have gone since it was identified.
    if (!QFileInfo(fileName).isFile() || channelMap.isEmpty())
        throw Image32Exception(Image32Exception::ReadFailed, fileName);

    const ToolInput input(fileName);
    if (input.path().isEmpty())
        throw Image32Exception(Image32Exception::ReadFailed, fileName);
    QStringList arguments{input.path(), QStringLiteral("-depth"), QString::number(depth)};
    arguments << splitOptions(options);
    // The stream is taken low byte first whatever the tool's own habit.
    arguments << QStringLiteral("-endian") << QStringLiteral("LSB") << channelMap + QStringLiteral(":-");

    ToolRunner runner(ToolRunner::locate(QStringLiteral("convert")), arguments);
    runner.setInterrupt(interrupt);

    // The stream goes straight into the samples, piece by piece; only a piece is ever buffered.
    qint32 filled = 0;
    bool haveLowByte = false;
    quint32 lowByte = 0;
    const bool wide = depth == 16;
    runner.setOutputSink([&](const char *data, qint64 size) {
        const uchar *bytes = reinterpret_cast<const uchar *>(data);
        qint64 i = 0;
        if (!wide) {
            const qint64 n = std::min<qint64>(size, sampleCount - filled);
            for (; i < n; ++i)
                samples[filled + i] = bytes[i];
            filled += qint32(n);
            return true;
        }
        if (haveLowByte && size > 0 && filled < sampleCount) {
            samples[filled++] = lowByte | (quint32(bytes[0]) << 8);
            haveLowByte = false;
            i = 1;
        }
        const qint64 pairs = std::min<qint64>((size - i) / 2, sampleCount - filled);
        quint32 *out = samples + filled;
        const uchar *in = bytes + i;
        for (qint64 k = 0; k < pairs; ++k)
            out[k] = in[2 * k] | (quint32(in[2 * k + 1]) << 8);
        filled += qint32(pairs);
        i += 2 * pairs;
        if (i < size && filled < sampleCount && size - i == 1) {
            lowByte = bytes[i];
            haveLowByte = true;
        }
        return true;
    });

    if (!runner.run() || filled != sampleCount || reportsDamage(runner.errorOutput()))
        throw Image32Exception(Image32Exception::ReadFailed, fileName);
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

void Image32::save(const QString &fileName, const char *format, int quality) const
{
    QImage::Format imageFormat;
    switch (channels) {
    case 1: imageFormat = QImage::Format_Grayscale8; break;
    case 3: imageFormat = QImage::Format_RGB888; break;
    default: imageFormat = QImage::Format_RGBA8888; break;
    }
    if (sampleCount <= 0 || (channels != 1 && channels != 3 && channels != 4))
        throw Image32Exception(Image32Exception::WriteFailed, fileName);

    QByteArray encoded;
    {
        std::unique_ptr<uchar[]> bytes(new (std::nothrow) uchar[size_t(sampleCount)]);
        if (!bytes)
            throw Image32Exception(Image32Exception::WriteFailed, fileName);
        const int shift = std::max(0, depth - 8);
        for (qint32 i = 0; i < sampleCount; ++i)
            bytes[size_t(i)] = uchar(samples[i] >> shift);

        // Rows follow each other without padding.
        const QImage image(bytes.get(), width, height, width * channels, imageFormat);
        const QByteArray formatName = format ? QByteArray(format).toLower()
                                             : QFileInfo(fileName).suffix().toLatin1().toLower();
        // Encoded in memory first: the file writer then checks every byte that reaches the disk.
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, formatName);
        writer.setQuality(quality);
        if (image.isNull() || !writer.write(image) || encoded.isEmpty())
            throw Image32Exception(Image32Exception::WriteFailed, fileName);
    }

    AtomicFileWriter file(fileName);
    if (!file.open() || !file.write(encoded.constData(), encoded.size()) || !file.commit())
        throw Image32Exception(Image32Exception::WriteFailed, fileName);
}

void Image32::saveTiff16(const QString &fileName) const
{
    if (channels != 3) {
        writeWithTool(fileName, QStringLiteral("-depth 16"));
        return;
    }
    // Width and height are SHORT fields, the offsets LONG ones.
    const quint64 n = quint64(sampleCount);
    const quint64 directory = 8 + 2 * n;
    if (width <= 0 || height <= 0 || width > TiffShortMax || height > TiffShortMax || sampleCount <= 0
        || directory + 244 > Q_UINT64_C(0xFFFFFFFF) || (depth != 8 && depth != 16))
        throw Image32Exception(Image32Exception::WriteFailed, fileName);

    auto put16 = [](uchar *at, quint32 value) {
        at[0] = uchar(value);
        at[1] = uchar(value >> 8);
    };
    auto put32 = [](uchar *at, quint32 value) {
        at[0] = uchar(value);
        at[1] = uchar(value >> 8);
        at[2] = uchar(value >> 16);
        at[3] = uchar(value >> 24);
    };

    AtomicFileWriter file(fileName);
    if (!file.open())
        throw Image32Exception(Image32Exception::WriteFailed, fileName);

    uchar header[8] = {0x49, 0x49};
    put16(header + 2, 42);
    put32(header + 4, quint32(directory));
    bool ok = file.write(reinterpret_cast<const char *>(header), sizeof header);

    // The samples are converted and written a piece at a time, never as a second whole copy.
    const int shift = 16 - depth;
    std::vector<uchar> piece(size_t(ConvertPiece) * 2);
    for (qint32 start = 0; ok && start < sampleCount; start += ConvertPiece) {
        const qint32 count = std::min(ConvertPiece, sampleCount - start);
        for (qint32 k = 0; k < count; ++k)
            put16(piece.data() + 2 * k, (samples[start + k] << shift) & 0xFFFF);
        ok = file.write(reinterpret_cast<const char *>(piece.data()), qint64(count) * 2);
    }

    uchar tail[244] = {};
    put16(tail, 11);
    const struct { quint16 tag, type; quint32 count, value; } entries[11] = {
        {256, 3, 1, quint32(width)},
        {257, 3, 1, quint32(height)},
        {258, 3, 3, quint32(directory + 138)},
        {259, 3, 1, 1},
        {262, 3, 1, 2},
        {266, 3, 1, 1},
        {273, 4, 1, 8},
        {274, 3, 1, 1},
        {277, 3, 1, 3},
        {279, 4, 1, quint32(2 * n)},
        {284, 3, 1, 1},
    };
    for (int e = 0; e < 11; ++e) {
        uchar *entry = tail + 2 + 12 * e;
        put16(entry, entries[e].tag);
        put16(entry + 2, entries[e].type);
        put32(entry + 4, entries[e].count);
        put32(entry + 8, entries[e].value);
    }
    // Offset 134 holds 0 (no further directory); the three BitsPerSample values follow.
    put16(tail + 138, 16);
    put16(tail + 140, 16);
    put16(tail + 142, 16);

    if (!ok || !file.write(reinterpret_cast<const char *>(tail), sizeof tail) || !file.commit())
        throw Image32Exception(Image32Exception::WriteFailed, fileName);
}

void Image32::writeWithTool(const QString &fileName, const QString &options) const
{
    if (channelMap.isEmpty() || (depth != 8 && depth != 16) || sampleCount <= 0)
        throw Image32Exception(Image32Exception::WriteFailed, fileName);

    // The tool writes into a temporary name of our own making in the destination folder and runs
    // there, so that nothing in the folder or file name ('%', brackets, ':') can redirect it. The
    // format comes from the destination's extension; an unusual one is handed over as TIFF, the
    // format this writer exists for.
    const QString suffix = QFileInfo(fileName).suffix();
    static const QRegularExpression plainSuffix(QStringLiteral("^[A-Za-z0-9]{1,8}$"));
    const bool suffixUsable = plainSuffix.match(suffix).hasMatch();
    AtomicFileWriter output(fileName, suffixUsable ? suffix : QString());
    if (!output.open())
        throw Image32Exception(Image32Exception::WriteFailed, fileName);
    output.closeForTool();
    const QFileInfo outputInfo(output.temporaryFileName());
    const QString folder = outputInfo.absolutePath();

    QTemporaryFile raw(QDir(folder).filePath(QStringLiteral(".velumen-XXXXXX.raw")));
    if (!raw.open())
        throw Image32Exception(Image32Exception::WriteFailed, fileName);

    const int bytesPerSample = depth / 8;
    std::vector<uchar> piece(size_t(ConvertPiece) * 2);
    for (qint32 start = 0; start < sampleCount; start += ConvertPiece) {
        const qint32 count = std::min(ConvertPiece, sampleCount - start);
        for (qint32 k = 0; k < count; ++k) {
            const quint32 value = samples[start + k];
            if (bytesPerSample == 1) {
                piece[size_t(k)] = uchar(value);
            } else {
                piece[size_t(2 * k)] = uchar(value);
                piece[size_t(2 * k + 1)] = uchar(value >> 8);
            }
        }
        if (!AtomicFileWriter::writeAll(raw, reinterpret_cast<const char *>(piece.data()),
                                        qint64(count) * bytesPerSample))
            throw Image32Exception(Image32Exception::WriteFailed, fileName);
    }
    if (!raw.flush())
        throw Image32Exception(Image32Exception::WriteFailed, fileName);
    raw.close();

    const QString here = QStringLiteral(".") + QDir::separator();
    QStringList arguments{QStringLiteral("-size"),
                          QStringLiteral("%1x%2").arg(width).arg(height),
                          QStringLiteral("-depth"), QString::number(depth),
                          QStringLiteral("-endian"), QStringLiteral("LSB"),
                          channelMap + QLatin1Char(':') + here + QFileInfo(raw.fileName()).fileName()};
    arguments << splitOptions(options);
    arguments << (suffixUsable ? QString() : QStringLiteral("tiff:")) + here + outputInfo.fileName();

    ToolRunner runner(ToolRunner::locate(QStringLiteral("convert")), arguments);
    runner.setWorkingDirectory(folder);
    if (!runner.run() || reportsDamage(runner.errorOutput()) || QFileInfo(outputInfo.filePath()).size() <= 0
        || !output.commit())
        throw Image32Exception(Image32Exception::WriteFailed, fileName);
}
