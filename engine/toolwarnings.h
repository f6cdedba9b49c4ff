#ifndef VELUMEN_TOOLWARNINGS_H
#define VELUMEN_TOOLWARNINGS_H

#include <QByteArray>

// ImageMagick turns damage it could read past (a truncated JPEG gives a full image, the lower part
// grey) into warnings and exit status 0. True when the tool's error output reports such damage or
// an error; warnings about metadata, and the file names the reports quote, do not count.
bool reportsDamage(const QByteArray &errorOutput);

#endif
