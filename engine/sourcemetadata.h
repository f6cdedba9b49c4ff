#ifndef VELUMEN_SOURCEMETADATA_H
#define VELUMEN_SOURCEMETADATA_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// What a source image carries besides its pixels: the ICC colour profile, the EXIF and the XMP, as
// Exiv2 reads them from the file's header. Reading never writes to the file and never throws: a
// file whose metadata cannot be read, or is damaged, gives empty metadata.
class SourceMetadata
{
public:
    struct Records;
    // EXIF DateTimeOriginal ("2026:01:31 22:04:05"), its sub-seconds and time offset; empty when absent.
    struct Capture
    {
        QString time;
        QString subSeconds;
        QString offset;
    };

    SourceMetadata();
    ~SourceMetadata();
    SourceMetadata(const SourceMetadata &);
    SourceMetadata &operator=(const SourceMetadata &);

    static SourceMetadata read(const QString &fileName);
    // The first of the files whose profile differs from the first file's (one without a profile
    // among ones with, too); empty when all agree. Reads every file's header.
    static QString firstDifferentProfile(const QStringList &fileNames);

    bool isEmpty() const;
    QByteArray iccProfile() const { return m_iccProfile; }
    Capture capture() const;
    // The EXIF and XMP records; null when the source has neither.
    const Records *records() const { return m_records.get(); }

private:
    QByteArray m_iccProfile;
    std::shared_ptr<const Records> m_records;
};

#endif
