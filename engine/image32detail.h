#ifndef VELUMEN_IMAGE32DETAIL_H
#define VELUMEN_IMAGE32DETAIL_H

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstddef>

// Helpers shared by the files that implement Image32: the buffer, reading and writing.
namespace image32detail {

// Nominal depth and channel count of a pixel depth of 8, 16, 24, 32, 48 or 64 bits; throws
// Image32Exception(UnsupportedDepth) for any other.
void applyPixelDepth(int pixelDepth, qint32 &depth, qint32 &channels);
// The options text is a list of tool arguments separated by white space.
QStringList splitOptions(const QString &options);
// The read tool's arguments for a file (as the tool gets it) at 8 or 16 bits per sample.
QStringList readArguments(const QString &toolPath, int depth, const QString &options,
                          const QString &channelMap);

// A buffer for a whole frame, to be released with std::free; null when there is no room.
void *allocateFrame(size_t bytes, bool zero);

} // namespace image32detail

#endif
