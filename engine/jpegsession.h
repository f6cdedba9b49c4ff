#ifndef VELUMEN_JPEGSESSION_H
#define VELUMEN_JPEGSESSION_H

#include <QtGlobal>

#include <atomic>
#include <cstddef>

// One pass of libjpeg over a JPEG held in memory, with the decompression settings the tools' reader
// uses (libjpeg's defaults). libjpeg reports errors by a long jump; it lands in a function whose
// frames, and every frame it crosses, hold only plain data, so nothing is leaked or left undestroyed.
struct JpegSession
{
    enum ColorSpace { Other, Gray, YCbCr, Rgb };

    // In
    const uchar *data = nullptr;
    size_t size = 0;
    uchar *samples = nullptr;  // null: the header only
    const std::atomic_bool *stop = nullptr;
    const std::atomic_bool *drop = nullptr;

    // Out, from the header
    qint32 width = 0, height = 0;
    int components = 0;
    int precision = 0;
    ColorSpace colorSpace = Other;
    bool arithmetic = false;

    // False on any error or warning, on a stop or drop, or when the output is not what was asked for.
    bool run();
};

#endif
