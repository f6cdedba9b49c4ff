#ifndef VELUMEN_JPEGDECODER_H
#define VELUMEN_JPEGDECODER_H

#include <QString>
#include <QStringList>

#include <atomic>

// Plain JPEGs read in this process, giving exactly what identify and convert give for them.
class JpegDecoder
{
public:
    struct Header {
        bool plain = false;          // decodable here with a result proven identical to the tools'
        qint32 width = 0, height = 0;
        int components = 0;          // 1 or 3
        QStringList identifyFields;  // exactly what identifyImage() returns for this file via the tools
    };
    // Reads only the header. plain is false for anything that must go through the tools.
    static Header readHeader(const QString &fileName);
    // Decodes into interleaved 8-bit samples, width*height*components bytes, rows without padding, into
    // a buffer the caller owns. False on any libjpeg warning or error up to the end of the decode, when
    // the file is not (or no longer) plain, or as soon as *stop or *drop is true (either may be null):
    // the caller then loads the file through the tools, so every verdict stays the tools'.
    static bool decode(const QString &fileName, const Header &header, uchar *samples,
                       const std::atomic_bool *stop = nullptr, const std::atomic_bool *drop = nullptr);
};

#endif
