#include "destinationmetadata.h"

#include "metadatarecords.h"

#include <QFile>
#include <QStringList>

#ifndef VELUMEN_VERSION
#define VELUMEN_VERSION "0"
#endif

using metadatadetail::Exiv2Errors;

namespace {

// Tags of a TIFF source's own layout and blocks: its strips, its XMP (written from the XMP records
// instead), its Photoshop resources (with their own thumbnail) and sub-images. In a destination they
// would describe the source's file; a TIFF destination's writer sets its own.
const char *const LayoutTags[] = {
    "Exif.Image.NewSubfileType", "Exif.Image.SubfileType", "Exif.Image.ImageWidth",
    "Exif.Image.ImageLength", "Exif.Image.BitsPerSample", "Exif.Image.Compression",
    "Exif.Image.PhotometricInterpretation", "Exif.Image.FillOrder", "Exif.Image.StripOffsets",
    "Exif.Image.SamplesPerPixel", "Exif.Image.RowsPerStrip", "Exif.Image.StripByteCounts",
    "Exif.Image.PlanarConfiguration", "Exif.Image.Predictor", "Exif.Image.TileWidth",
    "Exif.Image.TileLength", "Exif.Image.TileOffsets", "Exif.Image.TileByteCounts",
    "Exif.Image.SubIFDs", "Exif.Image.ExtraSamples", "Exif.Image.SampleFormat",
    "Exif.Image.JPEGTables", "Exif.Image.YCbCrSubSampling", "Exif.Image.XMLPacket",
    "Exif.Image.ImageResources", "Exif.Image.PageNumber", "Exif.Image.JPEGInterchangeFormat",
    "Exif.Image.JPEGInterchangeFormatLength",
};

void eraseKey(Exiv2::ExifData &exif, const char *key)
{
    const auto found = exif.findKey(Exiv2::ExifKey(key));
    if (found != exif.end())
        exif.erase(found);
}

void setAscii(Exiv2::ExifData &exif, const char *key, const QString &text)
{
    eraseKey(exif, key);
    if (!text.isEmpty())
        exif[key] = text.toStdString();
}

// Thumbnails and previews show the first frame, not the stack.
bool isPreview(const Exiv2::Exifdatum &datum)
{
    const std::string group = datum.groupName();
    const std::string tag = datum.tagName();
    return group == "Thumbnail" || group.compare(0, 8, "SubImage") == 0
        || group.compare(0, 8, "SubThumb") == 0
        || tag.find("Preview") != std::string::npos || tag.find("Thumbnail") != std::string::npos;
}

// "2026:01:31 22:04:05" and "+01:00" as an XMP date, "2026-01-31T22:04:05+01:00".
QString xmpDate(const QString &exifTime, const QString &offset)
{
    if (exifTime.size() < 19)
        return QString();
    QString date = exifTime.left(19);
    date[4] = QLatin1Char('-');
    date[7] = QLatin1Char('-');
    date[10] = QLatin1Char('T');
    return date + offset;
}

void setXmpText(Exiv2::XmpData &xmp, const char *key, const QString &text)
{
    const auto found = xmp.findKey(Exiv2::XmpKey(key));
    if (found != xmp.end())
        xmp.erase(found);
    if (!text.isEmpty())
        xmp[key] = text.toStdString();
}

// Replaces the entries of target that records has with the records' ones, keeping the rest (the
// tags an encoder wrote into the file).
void merge(Exiv2::ExifData &target, const Exiv2::ExifData &records)
{
    for (const Exiv2::Exifdatum &datum : records) {
        const auto found = target.findKey(Exiv2::ExifKey(datum.key()));
        if (found != target.end())
            target.erase(found);
        target.add(datum);
    }
}

} // namespace

DestinationMetadata::DestinationMetadata() = default;

DestinationMetadata::DestinationMetadata(const SourceMetadata &base, const Stack &stack, int width,
                                         int height)
    : m_base(base)
    , m_stack(stack)
    , m_width(width)
    , m_height(height)
{
}

QString DestinationMetadata::software()
{
    return QStringLiteral("Velumen " VELUMEN_VERSION);
}

QString DestinationMetadata::description() const
{
    QString text = QStringLiteral("Stacked by %1 from %2 source image%3, %4, %5.")
                       .arg(software())
                       .arg(m_stack.sourceCount)
                       .arg(m_stack.sourceCount == 1 ? QString() : QStringLiteral("s"))
                       .arg(m_stack.method, m_stack.condition);
    const QString first = m_stack.first.time;
    const QString last = m_stack.last.time;
    if (!first.isEmpty() && !last.isEmpty() && first != last)
        text += QStringLiteral(" Captured from %1 to %2.").arg(first, last);
    else if (!first.isEmpty())
        text += QStringLiteral(" Captured %1.").arg(first);
    return text;
}

bool DestinationMetadata::addTo(QByteArray &encoded, bool withProfile) const
{
    if (!hasRecords() && !withProfile)
        return true;
    try {
        const Exiv2Errors errors;
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte *>(encoded.constData()), long(encoded.size()));
        if (!image.get() || !write(*image, withProfile) || errors.count() > 0)
            return false;
        Exiv2::BasicIo &io = image->io();
        if (io.open() != 0)
            return false;
        const long size = io.size();
        io.seek(0, Exiv2::BasicIo::beg);
        const Exiv2::DataBuf bytes = io.read(size);
        io.close();
        if (size <= 0 || bytes.size_ != size)
            return false;
        encoded = QByteArray(reinterpret_cast<const char *>(bytes.pData_), int(bytes.size_));
        return true;
    } catch (const Exiv2::AnyError &) {
    } catch (const std::exception &) {
    }
    return false;
}

bool DestinationMetadata::addToFile(const QString &fileName) const
{
    if (!hasRecords())
        return true;
    try {
        const Exiv2Errors errors;
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(fileName).toStdString());
        return image.get() && write(*image, false) && errors.count() == 0;
    } catch (const Exiv2::AnyError &) {
    } catch (const std::exception &) {
    }
    return false;
}

bool DestinationMetadata::write(Exiv2::Image &image, bool withProfile) const
{
    image.readMetadata();
    if (hasRecords()) {
        Exiv2::ExifData exif = image.exifData();
        merge(exif, editedExif());
        image.setExifData(exif);
        image.setXmpData(editedXmp());
    }
    if (withProfile) {
        const QByteArray profile = iccProfile();
        Exiv2::DataBuf buffer(reinterpret_cast<const Exiv2::byte *>(profile.constData()),
                              long(profile.size()));
        image.setIccProfile(buffer, false);
    }
    image.writeMetadata();
    return true;
}

Exiv2::ExifData DestinationMetadata::editedExif() const
{
    Exiv2::ExifData exif = m_base.records()->exif;
    for (auto datum = exif.begin(); datum != exif.end();) {
        if (isPreview(*datum))
            datum = exif.erase(datum);
        else
            ++datum;
    }
    for (const char *key : LayoutTags)
        eraseKey(exif, key);
    if (!exif.empty()) {
        exif["Exif.Photo.PixelXDimension"] = uint32_t(m_width);
        exif["Exif.Photo.PixelYDimension"] = uint32_t(m_height);
    }
    exif["Exif.Image.Software"] = software().toStdString();
    setAscii(exif, "Exif.Photo.DateTimeOriginal", m_stack.first.time);
    setAscii(exif, "Exif.Photo.SubSecTimeOriginal", m_stack.first.subSeconds);
    setAscii(exif, "Exif.Photo.OffsetTimeOriginal", m_stack.first.offset);
    return exif;
}

Exiv2::XmpData DestinationMetadata::editedXmp() const
{
    Exiv2::XmpData xmp = m_base.records()->xmp;
    for (auto datum = xmp.begin(); datum != xmp.end();) {
        if (datum->key().find("Thumbnails") != std::string::npos)
            datum = xmp.erase(datum);
        else
            ++datum;
    }
    const char *const sizeKeys[][2] = {{"Xmp.exif.PixelXDimension", "Xmp.exif.PixelYDimension"},
                                       {"Xmp.tiff.ImageWidth", "Xmp.tiff.ImageLength"}};
    for (const auto &keys : sizeKeys) {
        if (xmp.findKey(Exiv2::XmpKey(keys[0])) != xmp.end()) {
            setXmpText(xmp, keys[0], QString::number(m_width));
            setXmpText(xmp, keys[1], QString::number(m_height));
        }
    }
    const QString captured = xmpDate(m_stack.first.time, m_stack.first.offset);
    for (const char *key : {"Xmp.exif.DateTimeOriginal", "Xmp.photoshop.DateCreated"}) {
        if (xmp.findKey(Exiv2::XmpKey(key)) != xmp.end())
            setXmpText(xmp, key, captured);
    }
    if (xmp.findKey(Exiv2::XmpKey("Xmp.xmp.CreatorTool")) != xmp.end())
        setXmpText(xmp, "Xmp.xmp.CreatorTool", software());
    const auto old = xmp.findKey(Exiv2::XmpKey("Xmp.dc.description"));
    if (old != xmp.end())
        xmp.erase(old);
    const Exiv2::LangAltValue value("lang=x-default " + description().toStdString());
    xmp.add(Exiv2::XmpKey("Xmp.dc.description"), &value);
    return xmp;
}
