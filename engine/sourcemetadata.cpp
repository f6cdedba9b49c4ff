#include "sourcemetadata.h"

#include "metadatarecords.h"

#include <QFile>

#include <mutex>

namespace metadatadetail {

namespace {

thread_local int exiv2ErrorCount = 0;

void countExiv2Message(int level, const char *)
{
    if (level >= Exiv2::LogMsg::error)
        ++exiv2ErrorCount;
}

} // namespace

Exiv2Errors::Exiv2Errors()
{
    // Both are process-wide and not safe to set up from two threads at once.
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::error);
        Exiv2::LogMsg::setHandler(countExiv2Message);
        Exiv2::XmpParser::initialize();
    });
    m_start = exiv2ErrorCount;
}

int Exiv2Errors::count() const
{
    return exiv2ErrorCount - m_start;
}

QString exifText(const Exiv2::ExifData &exif, const char *key)
{
    try {
        const auto found = exif.findKey(Exiv2::ExifKey(key));
        if (found == exif.end())
            return QString();
        return QString::fromStdString(found->toString()).trimmed();
    } catch (const Exiv2::AnyError &) {
        return QString();
    }
}

} // namespace metadatadetail

using metadatadetail::Exiv2Errors;

namespace {

// A profile describes samples of one colour model; the destination always holds RGB samples, so a
// gray or CMYK source's profile would misdescribe them.
bool isRgbProfile(const QByteArray &profile)
{
    return profile.size() >= 128 && profile.mid(16, 4) == "RGB ";
}

} // namespace

SourceMetadata::SourceMetadata() = default;
SourceMetadata::~SourceMetadata() = default;
SourceMetadata::SourceMetadata(const SourceMetadata &) = default;
SourceMetadata &SourceMetadata::operator=(const SourceMetadata &) = default;

SourceMetadata SourceMetadata::read(const QString &fileName)
{
    SourceMetadata result;
    try {
        const Exiv2Errors errors;
        // Opened for reading only: nothing is ever written into a source.
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(fileName).toStdString());
        if (!image.get())
            return result;
        image->readMetadata();
        if (errors.count() > 0)
            return result;
        auto records = std::make_shared<Records>();
        records->exif = image->exifData();
        records->xmp = image->xmpData();
        // The profile is carried on its own; in a TIFF, Exiv2 also lists it among the EXIF tags.
        const auto profileTag = records->exif.findKey(Exiv2::ExifKey("Exif.Image.InterColorProfile"));
        if (profileTag != records->exif.end())
            records->exif.erase(profileTag);
        QByteArray profile;
        if (image->iccProfileDefined()) {
            const Exiv2::DataBuf *buffer = image->iccProfile();
            profile = QByteArray(reinterpret_cast<const char *>(buffer->pData_), int(buffer->size_));
        }
        if (errors.count() > 0)
            return result;
        if (isRgbProfile(profile))
            result.m_iccProfile = profile;
        if (!records->exif.empty() || !records->xmp.empty())
            result.m_records = records;
    } catch (const Exiv2::AnyError &) {
        return SourceMetadata();
    } catch (const std::exception &) {
        return SourceMetadata();
    }
    return result;
}

bool SourceMetadata::isEmpty() const
{
    return m_iccProfile.isEmpty() && !m_records;
}

SourceMetadata::Capture SourceMetadata::capture() const
{
    if (!m_records)
        return Capture();
    using metadatadetail::exifText;
    return {exifText(m_records->exif, "Exif.Photo.DateTimeOriginal"),
            exifText(m_records->exif, "Exif.Photo.SubSecTimeOriginal"),
            exifText(m_records->exif, "Exif.Photo.OffsetTimeOriginal")};
}

QString SourceMetadata::firstDifferentProfile(const QStringList &fileNames)
{
    const QByteArray first = fileNames.isEmpty() ? QByteArray() : read(fileNames.first()).iccProfile();
    for (int i = 1; i < fileNames.size(); ++i) {
        if (read(fileNames.at(i)).iccProfile() != first)
            return fileNames.at(i);
    }
    return QString();
}
