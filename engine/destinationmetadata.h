#ifndef VELUMEN_DESTINATIONMETADATA_H
#define VELUMEN_DESTINATIONMETADATA_H

#include "sourcemetadata.h"

#include <QByteArray>
#include <QString>

namespace Exiv2 {
class ExifData;
class Image;
class XmpData;
}

// The metadata one destination image is written with: the first source's colour profile, and its
// EXIF and XMP changed to describe the stack (the destination's size, no thumbnail or preview,
// Velumen as the software, the capture time of the image's own first source, a description of what
// was stacked). Empty when the first source has none, so such an image is written as plain pixels.
class DestinationMetadata
{
public:
    // What a destination image was stacked from, for its description.
    struct Stack
    {
        int sourceCount = 0;
        QString method;         // "Lighten only"
        QString condition;      // "All images"
        SourceMetadata::Capture first;   // of the image's first and last source
        SourceMetadata::Capture last;
    };

    DestinationMetadata();
    DestinationMetadata(const SourceMetadata &base, const Stack &stack, int width, int height);

    bool isEmpty() const { return m_base.isEmpty(); }
    QByteArray iccProfile() const { return m_base.iccProfile(); }
    bool hasRecords() const { return m_base.records() != nullptr; }
    // The English text of the XMP description.
    QString description() const;

    // Adds the EXIF and XMP, and the profile when withProfile is set (when the encoder could not
    // write it), to an encoded JPEG, PNG or TIFF. False, the bytes untouched, when Exiv2 cannot.
    bool addTo(QByteArray &encoded, bool withProfile) const;
    // The same for a file, changed in place; the file is damaged when this fails.
    bool addToFile(const QString &fileName) const;

    static QString software();

private:
    // Reads the image's own metadata, adds ours and writes it back; throws Exiv2's errors.
    bool write(Exiv2::Image &image, bool withProfile) const;
    Exiv2::ExifData editedExif() const;
    Exiv2::XmpData editedXmp() const;

    SourceMetadata m_base;
    Stack m_stack;
    int m_width = 0;
    int m_height = 0;
};

#endif
