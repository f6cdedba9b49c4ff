#include "jpegmarkers.h"

namespace {

// The tools' reader refuses anything shorter before libjpeg sees it.
const size_t SmallestFile = 107;

const int SOF0 = 0xC0, SOF1 = 0xC1, SOF2 = 0xC2, DHT = 0xC4, SOI = 0xD8, SOS = 0xDA, DQT = 0xDB,
          DRI = 0xDD, APP0 = 0xE0, APP1 = 0xE1, APP2 = 0xE2, APP13 = 0xED, APP14 = 0xEE, APP15 = 0xEF,
          COM = 0xFE;

// The reader calls an APP1 segment "xmp" when it starts so, in any case, and validates it as XML:
// invalid XML is reported as a corrupt profile, which fails the read.
bool startsAsXmp(const uchar *payload, size_t length)
{
    static const char xmp[] = "http://ns.adobe.com/xap/1.0/";
    const size_t n = sizeof(xmp) - 1;
    if (length < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        uchar c = payload[i];
        if (c >= 'A' && c <= 'Z')
            c = uchar(c - 'A' + 'a');
        if (c != uchar(xmp[i]))
            return false;
    }
    return true;
}

} // namespace

bool JpegMarkers::plainSegment(int marker, const uchar *payload, size_t length)
{
    switch (marker) {
    case SOF0:
    case SOF1:
    case SOF2:
        // 8 bits per sample; the frame's own consistency is libjpeg's to judge.
        return length >= 6 && payload[0] == 8;
    case DHT:
    case DQT:
    case DRI:
    case COM:     // read whole as a comment, no effect on pixels
    case APP0:    // JFIF, libjpeg's own
    case APP2:    // ICC profile: kept, never applied on read
    case APP14:   // Adobe colour transform, libjpeg's own
        return true;
    case APP1:    // Exif is kept as a profile; XMP is validated
        return !startsAsXmp(payload, length);
    case APP13:   // IPTC / Photoshop resources: parsed with lengths of its own, may turn the image to Lab
        return false;
    default:
        // Other application segments are kept whole as profiles; arithmetic coding, lossless and
        // hierarchical frames, and anything unknown go to the tools.
        return marker > APP2 && marker <= APP15;
    }
}

qint64 JpegMarkers::scan(const uchar *data, size_t available, qint64 fileSize)
{
    if (fileSize < qint64(SmallestFile))
        return NotPlain;
    if (available < 3)
        return NeedMore;
    if (data[0] != 0xFF || data[1] != SOI || data[2] != 0xFF)
        return NotPlain;
    size_t at = 2;
    int frames = 0;
    for (;;) {
        if (at >= available)
            return NeedMore;
        if (data[at] != 0xFF)
            return NotPlain;  // stray bytes between segments: libjpeg warns
        while (at < available && data[at] == 0xFF)
            ++at;  // fill bytes
        if (at + 3 > available)
            return NeedMore;
        const int marker = data[at++];
        const size_t length = size_t(data[at]) << 8 | data[at + 1];
        // A length under 2 is read differently by the reader's hooks and by libjpeg.
        if (length < 2 || qint64(at + length) > fileSize)
            return NotPlain;
        if (at + length > available)
            return NeedMore;
        if (marker == SOS)
            return frames == 1 ? qint64(at + length) : qint64(NotPlain);
        if (!plainSegment(marker, data + at + 2, length - 2))
            return NotPlain;
        if (marker == SOF0 || marker == SOF1 || marker == SOF2)
            ++frames;
        at += length;
    }
}
