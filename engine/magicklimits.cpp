#include "magicklimits.h"

#include "toolrunner.h"

#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace {

const qint64 ListingLimit = 256 * 1024;
// The tools' 16-bit pixel cache per pixel: four quanta, and an index for a gray (colour-mapped) image.
const qint64 CacheBytesPerPixel = 10;

QByteArray listing(const QStringList &command, const char *what)
{
    QByteArray output;
    ToolRunner runner(command.value(0), command.mid(1) + QStringList{QStringLiteral("-list"),
                                                                      QString::fromLatin1(what)});
    runner.setOutputSink([&output](const char *data, qint64 size) {
        if (output.size() + size > ListingLimit)
            return false;
        output.append(data, int(size));
        return true;
    });
    return runner.run() ? output : QByteArray();
}

} // namespace

// The tool prints "Width: 16KP", "Area: 2.26KP", "Memory: 256MiB", "Height: unlimited". Pixel counts
// carry decimal prefixes and, with a prefix of power i (K 1, M 2, ...), at least i + 2 significant
// digits; byte counts binary prefixes and 6 digits. A printed value may thus be above the limit by
// half a unit of its last digit: the lowest limit the text can stand for is taken.
qint64 MagickLimits::value(const QByteArray &listing, const char *name)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9.]+)([KMGTPE]?)(i?)(P|B)$"));
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray &line : listing.split('\n')) {
        const QByteArray text = line.trimmed();
        if (!text.startsWith(key))
            continue;
        const QString number = QString::fromLatin1(text.mid(key.size()).trimmed());
        if (number == QLatin1String("unlimited"))
            return std::numeric_limits<qint64>::max();
        const QRegularExpressionMatch match = pattern.match(number);
        const bool pixels = match.captured(4) == QLatin1String("P");
        if (!match.hasMatch() || pixels == !match.captured(3).isEmpty())
            return 0;
        bool ok = false;
        const double mantissa = match.captured(1).toDouble(&ok);
        if (!ok || !(mantissa > 0) || mantissa >= 1e6)
            return 0;
        const int power = int(QStringLiteral("KMGTPE").indexOf(match.captured(2))) + 1;
        const int digits = pixels ? power + 2 : 6;
        const double halfUnit = 0.5 * std::pow(10.0, std::floor(std::log10(mantissa)) - (digits - 1));
        const double limit = (mantissa - halfUnit) * std::pow(pixels ? 1000.0 : 1024.0, power);
        return limit >= 1 && limit < 9e18 ? qint64(std::floor(limit)) : 0;
    }
    return 0;
}

// Policies that may refuse a JPEG or its reading: a coder or module rule that could name JPEG, a
// path rule beyond Debian's own "@*" (list files, never used here), a memory request cap (libjpeg's
// own memory is then capped), and a time limit.
bool MagickLimits::restricts(const QByteArray &policies)
{
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9]+$"));
    QByteArray domain;
    for (const QByteArray &line : policies.split('\n')) {
        const QByteArray text = line.trimmed();
        if (text.startsWith("Policy:")) {
            domain = text.mid(7).trimmed().toLower();
        } else if (text.startsWith("pattern:")) {
            const QString pattern = QString::fromLatin1(text.mid(8).trimmed());
            if ((domain == "coder" || domain == "module")
                && (!plainName.match(pattern).hasMatch() || pattern.startsWith(QLatin1String("JP"),
                                                                               Qt::CaseInsensitive)))
                return true;
            if (domain == "path" && pattern != QLatin1String("@*"))
                return true;
        } else if (text.startsWith("name:") && domain == "system"
                   && text.toLower().contains("max-memory-request")) {
            return true;
        }
    }
    return false;
}

MagickLimits MagickLimits::parse(const QByteArray &resources, const QByteArray &policies)
{
    MagickLimits limits;
    limits.width = value(resources, "Width");
    limits.height = value(resources, "Height");
    limits.area = value(resources, "Area");
    limits.memory = value(resources, "Memory");
    limits.disk = value(resources, "Disk");
    limits.unrestricted = !policies.isEmpty() && !restricts(policies)
                          && value(resources, "Time") == std::numeric_limits<qint64>::max();
    return limits;
}

bool MagickLimits::allows(qint64 width, qint64 height)
{
    // Learnt for each tool and environment that sets the limits (a test may change either).
    static QMutex mutex;
    static QHash<QString, MagickLimits> known;
    const QStringList command = ToolRunner::locateCommand(QStringLiteral("identify"));
    if (command.isEmpty())
        return false;
    QString key = QFileInfo(command.first()).absoluteFilePath() + '\n' + command.mid(1).join('\n');
    for (const char *name : {"MAGICK_WIDTH_LIMIT", "MAGICK_HEIGHT_LIMIT", "MAGICK_AREA_LIMIT",
                             "MAGICK_MEMORY_LIMIT", "MAGICK_DISK_LIMIT", "MAGICK_TIME_LIMIT",
                             "MAGICK_CONFIGURE_PATH", "MAGICK_HOME"})
        key += '\n' + QString::fromLocal8Bit(qgetenv(name));
    QMutexLocker lock(&mutex);
    if (!known.contains(key))
        known.insert(key, parse(listing(command, "resource"), listing(command, "policy")));
    const MagickLimits limits = known.value(key);
    // The tools refuse a side over its limit; an area at its limit or over goes to a disk cache,
    // and a cache that fits neither memory nor the disk limit fails.
    const qint64 cache = width * height * CacheBytesPerPixel;
    return limits.unrestricted && width > 0 && height > 0 && width <= limits.width
           && height <= limits.height && width * height < limits.area
           && (cache <= limits.memory || cache <= limits.disk);
}
