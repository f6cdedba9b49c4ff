#ifndef VELUMEN_IMAGE32_H
#define VELUMEN_IMAGE32_H

#include <QImage>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>

class DestinationMetadata;

// The one exception of image input and output, thrown by value.
class Image32Exception
{
public:
    enum Type { UnsupportedDepth = 0, ReadFailed = 1, WriteFailed = 2 };

    Image32Exception(int type, const QString &filename);

    int type;
    QString filename;
};

// An image held as unsigned 32-bit samples (width x height x channels, interleaved, top row first).
// Samples are wider than the nominal depth so that an accumulator can sum many 16-bit images.
class Image32
{
public:
    // A blank image: every sample 0, alpha samples at maxValue.
    Image32(int width, int height, int pixelDepth);
    // Loads a file through the image tools; options are extra arguments for the read tool.
    // When interrupt is given and becomes true, the tool run is ended and the load fails.
    Image32(const QString &fileName, const QString &options, int pixelDepth,
            const std::atomic_bool *interrupt = nullptr);
    virtual ~Image32();

    Image32(const Image32 &) = delete;
    Image32 &operator=(const Image32 &) = delete;

    void lighten(const Image32 &other);
    void darken(const Image32 &other);
    void add(const Image32 &other);
    void subtract(const Image32 &other);
    void divide(const double &divisor);
    void fill(unsigned value);
    void invert();

    // With metadata, its colour profile, EXIF and XMP go into the file; a file that cannot take the
    // EXIF and XMP is written without them. narrowed, when given, receives the 8-bit copy that was encoded.
    void save(const QString &fileName, const char *format, int quality,
              const DestinationMetadata *metadata = nullptr, QImage *narrowed = nullptr) const;
    // The same for an 8-bit copy made elsewhere, as narrowed8() would give it.
    static void saveNarrowed(QImage &&copy, const QString &fileName, const char *format, int quality,
                             const DestinationMetadata *metadata = nullptr, QImage *narrowed = nullptr);
    void saveTiff16(const QString &fileName, const DestinationMetadata *metadata = nullptr) const;
    void writeWithTool(const QString &fileName, const QString &options) const;
    // The top 8 bits of every sample as an image of its own memory, rows without padding (grayscale,
    // RGB888 or RGBA8888 by the channel count); a null image when it cannot be made.
    QImage narrowed8() const;

    qint32 sampleCount = 0;
    quint32 *samples = nullptr;
    qint32 width = 0;
    qint32 height = 0;
    qint32 depth = 0;
    quint32 maxValue = 0;
    double maxValueF = 0.0;
    qint32 channels = 0;
    QString channelMap;

private:
    void allocate(const QString &fileName, bool zero);
    void readSamples(const QString &fileName, const QString &options, const std::atomic_bool *interrupt);
};

// The identify fields (width, height, bits per sample, channel description), split at "::".
// Never throws; the caller checks the number of fields.
// The run ends as a failure, with no fields, as soon as either flag is true. A tool that reports
// damage gives no fields either.
QStringList identifyImage(const QString &fileName, const std::atomic_bool *interrupt = nullptr,
                          const std::atomic_bool *second = nullptr);

#endif
