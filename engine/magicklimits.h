#ifndef VELUMEN_MAGICKLIMITS_H
#define VELUMEN_MAGICKLIMITS_H

#include <QByteArray>
#include <QtGlobal>

// The pixel limits the image tools enforce on this machine (their policy and environment), as
// "identify -list resource" states them, asked once per process.
class MagickLimits
{
public:
    // True when the tools would keep an image of this size in memory, without refusing it or
    // moving its pixels to disk. False for every size when the limits cannot be learnt.
    static bool allows(qint64 width, qint64 height);
    // Parses the tool's listing; a limit not listed is taken as zero, so nothing passes.
    static MagickLimits parse(const QByteArray &listing);

    qint64 width = 0, height = 0, area = 0;

private:
    static qint64 value(const QByteArray &listing, const char *name);
};

#endif
