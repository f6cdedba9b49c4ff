#ifndef VELUMEN_JPEGMARKERS_H
#define VELUMEN_JPEGMARKERS_H

#include <QtGlobal>

#include <cstddef>

// The segments of a JPEG file up to its first scan, judged by what the tools' JPEG reader does with
// them. It hooks comments and most application segments itself, parses some (IPTC, XMP) with its own
// rules and warns or changes colour space on some contents; only files whose every segment it treats
// as libjpeg alone would, and that libjpeg decodes the same way everywhere, pass.
class JpegMarkers
{
public:
    enum { NotPlain = 0, NeedMore = -1 };
    // For the first bytes of a file of fileSize bytes: the length of its header, through the first
    // scan's header, when it is a JPEG of one 8-bit baseline, extended or progressive Huffman frame and
    // holds nothing before that scan that the tools' reader handles its own way; NotPlain otherwise;
    // NeedMore when the bytes given end before that is known.
    static qint64 scan(const uchar *data, size_t available, qint64 fileSize);

private:
    static bool plainSegment(int marker, const uchar *payload, size_t length);
};

#endif
