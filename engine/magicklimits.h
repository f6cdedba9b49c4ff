#ifndef VELUMEN_MAGICKLIMITS_H
#define VELUMEN_MAGICKLIMITS_H

#include <QByteArray>
#include <QtGlobal>

// What the image tools on this machine allow a JPEG read (their policy and environment), as
// "identify -list resource" and "identify -list policy" state it, asked once per tool and environment.
class MagickLimits
{
public:
    // True when the tools would read a JPEG of this size into their pixel cache in memory without
    // refusing it. False for every size when the limits cannot be learnt or a policy may restrict
    // JPEG reading in ways not judged here.
    static bool allows(qint64 width, qint64 height);
    // From the tools' listings; a limit not listed is taken as zero, so nothing passes.
    static MagickLimits parse(const QByteArray &resources, const QByteArray &policies);

    qint64 width = 0, height = 0, area = 0, memory = 0, disk = 0;
    bool unrestricted = false;

private:
    static qint64 value(const QByteArray &listing, const char *name);
    static bool restricts(const QByteArray &policies);
};

#endif
