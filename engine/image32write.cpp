// Writing an image: through Qt's image writer, the own 16-bit TIFF writer, or a tool.
#include "image32.h"

#include "atomicfilewriter.h"
#include "destinationmetadata.h"
#include "image32detail.h"
#include "parallelparts.h"
#include "toolinput.h"
#include "toolrunner.h"
#include "toolwarnings.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

using image32detail::splitOptions;

namespace {

const int ConvertPiece = 64 * 1024;
// Parts of the narrowing start on a cache line of the 8-bit copy.
const qint64 NarrowGranule = 64;
const int TiffShortMax = 65535;

// The top 8 bits of every sample. In blocks of a fixed length, like the combining passes, so that the
// compiler vectorises it at -O2: a frame has tens of millions of samples.
void narrowTo8(uchar *__restrict bytes, const quint32 *__restrict samples, qint32 n, int shift)
{
    const int block = 32;
    qint32 i = 0;
    for (; i + block <= n; i += block) {
        for (int k = 0; k < block; ++k)
            bytes[i + k] = uchar(samples[i + k] >> shift);
    }
    for (; i < n; ++i)
        bytes[i] = uchar(samples[i] >> shift);
}

// Little-endian fields of the TIFF file.
void put16(uchar *at, quint32 value)
{
    at[0] = uchar(value);
    at[1] = uchar(value >> 8);
}

void put32(uchar *at, quint32 value)
{
    at[0] = uchar(value);
    at[1] = uchar(value >> 8);
    at[2] = uchar(value >> 16);
    at[3] = uchar(value >> 24);
}

// The bytes after the samples of a 16-bit RGB TIFF whose samples end at offset directory: the
// directory of 11 entries (12 with a colour profile), then the three BitsPerSample values, then the
// profile. Width and height are SHORT fields, the offsets LONG ones. Without a profile the tail is
// 244 bytes long.
std::vector<uchar> tiffTail(qint32 width, qint32 height, quint64 directory, const QByteArray &profile)
{
    const quint32 entryCount = profile.isEmpty() ? 11 : 12;
    const quint32 bitsAt = 6 + 12 * entryCount;
    const quint32 profileAt = bitsAt + 6;
    std::vector<uchar> tail(profile.isEmpty() ? 244 : profileAt + size_t(profile.size() + 1) / 2 * 2);
    put16(tail.data(), entryCount);
    const struct { quint16 tag, type; quint32 count, value; } entries[12] = {
        {256, 3, 1, quint32(width)},
        {257, 3, 1, quint32(height)},
        {258, 3, 3, quint32(directory + bitsAt)},
        {259, 3, 1, 1},
        {262, 3, 1, 2},
        {266, 3, 1, 1},
        {273, 4, 1, 8},
        {274, 3, 1, 1},
        {277, 3, 1, 3},
        {279, 4, 1, quint32(directory - 8)},
        {284, 3, 1, 1},
        {34675, 7, quint32(profile.size()), quint32(directory + profileAt)},
    };
    for (quint32 e = 0; e < entryCount; ++e) {
        uchar *entry = tail.data() + 2 + 12 * e;
        put16(entry, entries[e].tag);
        put16(entry + 2, entries[e].type);
        put32(entry + 4, entries[e].count);
        put32(entry + 8, entries[e].value);
    }
    // The next four bytes hold 0 (no further directory); the three BitsPerSample values follow.
    put16(tail.data() + bitsAt, 16);
    put16(tail.data() + bitsAt + 2, 16);
    put16(tail.data() + bitsAt + 4, 16);
    std::copy(profile.constBegin(), profile.constEnd(), tail.begin() + profileAt);
    return tail;
}

// The whole 16-bit TIFF of a three-channel image into the opened file, uncommitted.
bool writeTiff16(const Image32 &image, AtomicFileWriter &file, const QByteArray &profile)
{
    const quint64 directory = 8 + 2 * quint64(image.sampleCount);
    uchar header[8] = {0x49, 0x49};
    put16(header + 2, 42);
    put32(header + 4, quint32(directory));
    bool ok = file.open() && file.write(reinterpret_cast<const char *>(header), sizeof header);

    // The samples are converted and written a piece at a time, never as a second whole copy.
    const int shift = 16 - image.depth;
    std::vector<uchar> piece(size_t(ConvertPiece) * 2);
    for (qint32 start = 0; ok && start < image.sampleCount; start += ConvertPiece) {
        const qint32 count = std::min(ConvertPiece, image.sampleCount - start);
        for (qint32 k = 0; k < count; ++k)
            put16(piece.data() + 2 * k, (image.samples[start + k] << shift) & 0xFFFF);
        ok = file.write(reinterpret_cast<const char *>(piece.data()), qint64(count) * 2);
    }

    const std::vector<uchar> tail = tiffTail(image.width, image.height, directory, profile);
    return ok && file.write(reinterpret_cast<const char *>(tail.data()), qint64(tail.size()));
}

// Qt writes the exact bytes of a profile it can apply into JPEG, PNG and TIFF files. Others get an
// sRGB stand-in that Exiv2 replaces with the real profile (true): Exiv2 alone would give a PNG's
// profile chunk an empty name, which readers reject, and it keeps the stand-in's name.
bool setProfile(QImage &image, const DestinationMetadata *metadata)
{
    const QByteArray profile = metadata ? metadata->iccProfile() : QByteArray();
    if (profile.isEmpty())
        return false;
    const QColorSpace space = QColorSpace::fromIccProfile(profile);
    image.setColorSpace(space.isValid() ? space : QColorSpace(QColorSpace::SRgb));
    return !space.isValid();
}

} // namespace

QImage Image32::narrowed8() const
{
    QImage::Format imageFormat;
    switch (channels) {
    case 1: imageFormat = QImage::Format_Grayscale8; break;
    case 3: imageFormat = QImage::Format_RGB888; break;
    default: imageFormat = QImage::Format_RGBA8888; break;
    }
    if (sampleCount <= 0 || (channels != 1 && channels != 3 && channels != 4))
        return QImage();
    // Ordinary pages, not huge ones: made as the frames' memory is freed, the copy takes those pages
    // back, where huge pages would be fresh ones (four 48 MP frames, runs taking turns: 1.6-1.7 s
    // against 2.5-2.9 s).
    uchar *bytes = static_cast<uchar *>(std::malloc(size_t(sampleCount)));
    if (!bytes)
        return QImage();
    const int shift = std::max(0, depth - 8);
    ParallelParts::run(sampleCount, NarrowGranule, NarrowGranule * 1024, [&](qint64 begin, qint64 end) {
        narrowTo8(bytes + begin, samples + begin, qint32(end - begin), shift);
    });
    // Rows follow each other without padding; the image frees the bytes when its last copy goes.
    return QImage(bytes, width, height, width * channels, imageFormat, &std::free, bytes);
}

void Image32::save(const QString &fileName, const char *format, int quality,
                   const DestinationMetadata *metadata, QImage *narrowed) const
{
    saveNarrowed(narrowed8(), fileName, format, quality, metadata, narrowed);
}

void Image32::saveNarrowed(QImage &&copy, const QString &fileName, const char *format, int quality,
                           const DestinationMetadata *metadata, QImage *narrowed)
{
    // Without the stand-in profile too, for when Exiv2 cannot put the real one in its place.
    QByteArray encoded, plain;
    bool profileByExiv2 = false;
    {
        // Writable and not yet shared, so that a colour space is set in place.
        QImage image = std::move(copy);
        const QByteArray formatName = format ? QByteArray(format).toLower()
                                             : QFileInfo(fileName).suffix().toLatin1().toLower();
        // Encoded in memory first: the file writer then checks every byte that reaches the disk.
        const auto encode = [&](QByteArray &target) {
            QBuffer buffer(&target);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, formatName);
            writer.setQuality(quality);
            if (image.isNull() || !writer.write(image) || target.isEmpty())
                throw Image32Exception(Image32Exception::WriteFailed, fileName);
        };
        profileByExiv2 = setProfile(image, metadata);
        encode(encoded);
        if (profileByExiv2) {
            image.setColorSpace(QColorSpace());
            encode(plain);
        }
        if (narrowed)
            *narrowed = image;
    }
    // After the 8-bit copy is gone: Exiv2 holds the encoded image twice while it works.
    if (metadata && !metadata->addTo(encoded, profileByExiv2) && profileByExiv2)
        encoded = plain;

    AtomicFileWriter file(fileName);
    if (!file.open() || !file.write(encoded.constData(), encoded.size()) || !file.commit())
        throw Image32Exception(Image32Exception::WriteFailed, fileName);
}

void Image32::saveTiff16(const QString &fileName, const DestinationMetadata *metadata) const
{
    if (channels != 3) {
        writeWithTool(fileName, QStringLiteral("-depth 16"));
        return;
    }
    const QByteArray profile = metadata ? metadata->iccProfile() : QByteArray();
    // Width and height must fit SHORT fields, every offset a LONG one.
    const quint64 directory = 8 + 2 * quint64(sampleCount);
    if (width <= 0 || height <= 0 || width > TiffShortMax || height > TiffShortMax || sampleCount <= 0
        || directory + 244 + quint64(profile.size()) > Q_UINT64_C(0xFFFFFFFF) || (depth != 8 && depth != 16))
        throw Image32Exception(Image32Exception::WriteFailed, fileName);

    {
        AtomicFileWriter file(fileName);
        if (!writeTiff16(*this, file, profile))
            throw Image32Exception(Image32Exception::WriteFailed, fileName);
        bool written = !metadata || !metadata->hasRecords();
        if (!written) {
            // The EXIF and XMP go into the temporary file, never into the committed one.
            file.closeForTool();
            written = metadata->addToFile(file.temporaryFileName());
        }
        if (written) {
            if (!file.commit())
                throw Image32Exception(Image32Exception::WriteFailed, fileName);
            return;
        }
    }
    // Exiv2 may have left the temporary file half rewritten: the image again, with its profile only.
    AtomicFileWriter file(fileName);
    if (!writeTiff16(*this, file, profile) || !file.commit())
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

    ToolRunner runner = ToolRunner::forTool(QStringLiteral("convert"), arguments);
    runner.setWorkingDirectory(folder);
    if (!runner.run() || reportsDamage(runner.errorOutput()) || QFileInfo(outputInfo.filePath()).size() <= 0
        || !output.commit())
        throw Image32Exception(Image32Exception::WriteFailed, fileName);
}
