#ifndef VELUMEN_METADATARECORDS_H
#define VELUMEN_METADATARECORDS_H

#include "sourcemetadata.h"

#include <exiv2/exiv2.hpp>

// The EXIF and XMP of a source, kept in Exiv2's own form so that they can be written out unchanged.
struct SourceMetadata::Records
{
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
};

namespace metadatadetail {

// Counts the errors Exiv2 reports in this thread while it lives, and keeps Exiv2 from printing
// anything: a damaged header must not reach the user's terminal, only make its metadata unused.
class Exiv2Errors
{
public:
    Exiv2Errors();
    int count() const;

private:
    int m_start;
};

// An Exiv2 text value of the EXIF, trimmed; empty when the tag is absent or unreadable.
QString exifText(const Exiv2::ExifData &exif, const char *key);

} // namespace metadatadetail

#endif
