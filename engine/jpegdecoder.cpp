// Plain JPEGs read in this process. The tools' JPEG reader is libjpeg with its default settings and
// a few hooks of its own; for a file that meets none of those hooks the same library with the same
// settings gives the very samples the tools give, each 8-bit value v becoming the quantum 257 v.
#include "jpegdecoder.h"

#include "jpegmarkers.h"
#include "jpegsession.h"
#include "magicklimits.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

namespace {

const qint64 FirstRead = 64 * 1024;
const qint64 LargestMetadata = 16 * 1024 * 1024;

// The file's bytes through its first scan's header, or empty when it is not plain.
QByteArray headerBytes(QFile &file)
{
    const qint64 fileSize = file.size();
    QByteArray bytes;
    qint64 wanted = FirstRead;
    for (;;) {
        const QByteArray more = file.read(qMin(wanted, fileSize) - bytes.size());
        bytes.append(more);
        const qint64 length = JpegMarkers::scan(reinterpret_cast<const uchar *>(bytes.constData()),
                                                size_t(bytes.size()), fileSize);
        if (length > 0)
            return bytes.left(int(length));
        if (length == JpegMarkers::NotPlain || more.isEmpty() || bytes.size() >= fileSize)
            return QByteArray();
        wanted *= 2;
    }
}

JpegDecoder::Header headerOf(const JpegSession &session)
{
    JpegDecoder::Header header;
    header.width = session.width;
    header.height = session.height;
    header.components = session.components;
    header.plain = session.precision == 8 && !session.arithmetic
                   && ((session.components == 1 && session.colorSpace == JpegSession::Gray)
                       || (session.components == 3
                           && (session.colorSpace == JpegSession::YCbCr
                               || session.colorSpace == JpegSession::Rgb)))
                   && MagickLimits::allows(session.width, session.height);
    if (header.plain) {
        header.identifyFields = QStringList{QString::number(session.width), QString::number(session.height),
                                            QStringLiteral("8"),
                                            session.components == 1 ? QStringLiteral("gray")
                                                                    : QStringLiteral("srgb")};
    }
    return header;
}

} // namespace

JpegDecoder::Header JpegDecoder::readHeader(const QString &fileName)
{
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return Header();
    const QByteArray bytes = headerBytes(file);
    if (bytes.isEmpty())
        return Header();
    JpegSession session;
    session.data = reinterpret_cast<const uchar *>(bytes.constData());
    session.size = size_t(bytes.size());
    if (!session.run())
        return Header();
    Header header = headerOf(session);
    if (!header.plain)
        return Header();
    return header;
}

bool JpegDecoder::decode(const QString &fileName, const Header &header, uchar *samples,
                         const std::atomic_bool *stop, const std::atomic_bool *drop)
{
    if (!header.plain || !samples)
        return false;
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    // The whole file is held while it decodes; one far larger than its samples (a file swapped in
    // meanwhile, or mostly metadata) is left to the tools.
    const qint64 sampleBytes = qint64(header.width) * header.height * header.components;
    if (file.size() > 4 * sampleBytes + LargestMetadata)
        return false;
    // Judged again on the bytes decoded: the file may have changed since its header was read.
    const QByteArray bytes = file.readAll();
    const uchar *data = reinterpret_cast<const uchar *>(bytes.constData());
    if (JpegMarkers::scan(data, size_t(bytes.size()), bytes.size()) <= 0)
        return false;
    // Sized from these very bytes before a sample is written: the caller's buffer fits the header.
    JpegSession sizing;
    sizing.data = data;
    sizing.size = size_t(bytes.size());
    if (!sizing.run())
        return false;
    const Header now = headerOf(sizing);
    if (!now.plain || now.width != header.width || now.height != header.height
        || now.components != header.components)
        return false;
    JpegSession session = sizing;
    session.samples = samples;
    session.stop = stop;
    session.drop = drop;
    return session.run();
}
