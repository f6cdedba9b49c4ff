#include "magicklimits.h"

#include "toolrunner.h"

#include <QList>

#include <limits>

namespace {

const qint64 IdentifyOutputLimit = 64 * 1024;

MagickLimits learnt()
{
    QByteArray output;
    ToolRunner runner = ToolRunner::forTool(QStringLiteral("identify"),
                                            {QStringLiteral("-list"), QStringLiteral("resource")});
    runner.setOutputSink([&output](const char *data, qint64 size) {
        if (output.size() + size > IdentifyOutputLimit)
            return false;
        output.append(data, int(size));
        return true;
    });
    return runner.run() ? MagickLimits::parse(output) : MagickLimits();
}

} // namespace

// The tool prints "Width: 16KP", "Area: 128MP", "Height: unlimited"; its prefixes are decimal.
qint64 MagickLimits::value(const QByteArray &listing, const char *name)
{
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray &line : listing.split('\n')) {
        const QByteArray text = line.trimmed();
        if (!text.startsWith(key))
            continue;
        QByteArray number = text.mid(key.size()).trimmed();
        if (number == "unlimited")
            return std::numeric_limits<qint64>::max();
        if (!number.endsWith('P'))
            return 0;
        number.chop(1);
        double scale = 1.0;
        static const QByteArray prefixes("KMGTPE");
        const int power = number.isEmpty() ? -1 : prefixes.indexOf(number.back());
        if (power >= 0) {
            number.chop(1);
            for (int i = 0; i <= power; ++i)
                scale *= 1000.0;
        }
        bool ok = false;
        const double limit = number.toDouble(&ok) * scale;
        return ok && limit > 0 && limit < 9e18 ? qint64(limit) : 0;
    }
    return 0;
}

MagickLimits MagickLimits::parse(const QByteArray &listing)
{
    MagickLimits limits;
    limits.width = value(listing, "Width");
    limits.height = value(listing, "Height");
    limits.area = value(listing, "Area");
    return limits;
}

bool MagickLimits::allows(qint64 width, qint64 height)
{
    static const MagickLimits limits = learnt();
    // The tools refuse a side over its limit; an area at its limit or over goes to a disk cache.
    return width > 0 && height > 0 && width <= limits.width && height <= limits.height
           && width * height < limits.area;
}
