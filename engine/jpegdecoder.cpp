#include "jpegdecoder.h"

JpegDecoder::Header JpegDecoder::readHeader(const QString &)
{
    return Header();
}

bool JpegDecoder::decode(const QString &, const Header &, uchar *, const std::atomic_bool *,
                         const std::atomic_bool *)
{
    return false;
}
