#include "magicklimits.h"

#include "toolrunner.h"

#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <cmath>
#include <limits>

namespace {

const qint64 IdentifyOutputLimit = 64 * 1024;

MagickLimits learnt(const QStringList &command)
{
    QByteArray output;
    ToolRunner runner(command.value(0), command.mid(1) + QStringList{QStringLiteral("-list"),
                                                                      QStringLiteral("resource")});
    runner.setOutputSink([&output](const char *data, qint64 size) {
        if (output.size() + size > IdentifyOutputLimit)
            return false;
        output.append(data, int(size));
        return true;
    });
    return runner.run() ? MagickLimits::parse(output) : MagickLimits();
}

} // namespace

// The tool prints "Width: 16KP", "Area: 2.26KP", "Height: unlimited": decimal prefixes, and with a
// prefix of power i (K 1, M 2, ...) at least i + 2 significant digits, so the printed value may be
// above the limit by half a unit of its last digit. The lowest limit the text can stand for is taken.
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
        static const QByteArray prefixes("KMGTPE");
        const int power = number.isEmpty() ? -1 : prefixes.indexOf(number.back());
        if (power >= 0)
            number.chop(1);
        bool ok = false;
        const double mantissa = number.toDouble(&ok);
        if (!ok || !(mantissa > 0) || mantissa >= 1e6)
            return 0;
        const int digits = power + 3;
        const double halfUnit = 0.5 * std::pow(10.0, std::floor(std::log10(mantissa)) - (digits - 1));
        const double limit = (mantissa - halfUnit) * std::pow(1000.0, power + 1);
        return limit >= 1 && limit < 9e18 ? qint64(std::floor(limit)) : 0;
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
    // Asked once for each tool and environment that sets the limits (a test may change either).
    static QMutex mutex;
    static QHash<QString, MagickLimits> known;
    QStringList command = ToolRunner::locateCommand(QStringLiteral("identify"));
    if (command.isEmpty())
        return false;
    QString key = QFileInfo(command.first()).absoluteFilePath() + '\n' + command.mid(1).join('\n');
    for (const char *name : {"MAGICK_WIDTH_LIMIT", "MAGICK_HEIGHT_LIMIT", "MAGICK_AREA_LIMIT",
                             "MAGICK_CONFIGURE_PATH", "MAGICK_HOME"})
        key += '\n' + QString::fromLocal8Bit(qgetenv(name));
    QMutexLocker lock(&mutex);
    if (!known.contains(key))
        known.insert(key, learnt(command));
    const MagickLimits limits = known.value(key);
    // The tools refuse a side over its limit; an area at its limit or over goes to a disk cache.
    return width > 0 && height > 0 && width <= limits.width && height <= limits.height
           && width * height < limits.area;
}
