#include "stackcommandline.h"

#include "foldersources.h"
#include "planreport.h"
#include "sourcefiles.h"
#include "videoencoder.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>

namespace {

// The ranges of the window's spin boxes, so every job here is one the window can make too.
const int CountMaximum = 9999;
const int DefaultCompression = 92;
const QString DefaultPatternBase = QStringLiteral("output****.");

const QStringList ConditionNames = {"all", "previous", "groups", "loop", "disjoint"};
const QStringList MethodNames = {"lighten", "darken", "mean"};
const QStringList FadeNames = {"none", "in", "out", "in-out"};
const QStringList FormatNames = {"jpg", "png", "tiff", "tiff16"};

enum { DisjointCondition = 4, MeanMethod = 2, NoFading = 0, FadeOut = 2 };

QString formatExtension(int format)
{
    return format == 0 ? QStringLiteral("jpg") : format == 1 ? QStringLiteral("png") : QStringLiteral("tif");
}

// The file type a pattern's extension names, as the window's dialog pairs them; JPEG otherwise.
int patternFormat(const QString &pattern)
{
    const QString extension = QFileInfo(pattern).suffix().toLower();
    if (extension == QLatin1String("png"))
        return 1;
    if (extension == QLatin1String("tif") || extension == QLatin1String("tiff"))
        return 2;
    return 0;
}

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

} // namespace

StackCommandLine::Action StackCommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({
        {{"c", "condition"}, QString(), "NAME", "all"},
        {{"g", "group"}, QString(), "N", "1"},
        {{"s", "step"}, QString(), "N", "1"},
        {{"n", "groups"}, QString(), "N", "1"},
        {{"m", "method"}, QString(), "NAME", "lighten"},
        {"fade", QString(), "NAME", "none"},
        {"fade-in", QString(), "P", "50"},
        {"fade-out", QString(), "P", "50"},
        {{"o", "output"}, QString(), "DIR"},
        {{"p", "pattern"}, QString(), "PATTERN"},
        {{"f", "format"}, QString(), "NAME"},
        {"quality", QString(), "N", QString::number(DefaultCompression)},
        {"from", QString(), "FILE"},
        {"video", QString(), "FILE"},
        {"fps", QString(), "N", "25"},
        {"video-size", QString(), "SIZE", "3840x2160"},
        {"dry-run", QString()},
        {{"q", "quiet"}, QString()},
        {{"h", "help"}, QString()},
        {"version", QString()},
    });
    if (!parser.parse(arguments)) {
        fail(parser.errorText());
        return UsageError;
    }
    if (parser.isSet("help"))
        return ShowHelp;
    if (parser.isSet("version"))
        return ShowVersion;
    m_quiet = parser.isSet("quiet");
    if (!readChoices(parser) || !readNumbers(parser) || !readPattern(parser) || !readSources(parser)
        || !makeJob(parser) || !readVideo(parser))
        return UsageError;
    return parser.isSet("dry-run") ? DryRun : Run;
}

bool StackCommandLine::makeJob(const QCommandLineParser &parser)
{
    m_settings.sourceCount = m_sources.size();
    // The window has one spin box for both the group size and the number of disjoint groups.
    m_settings.conditionOption1 = m_settings.condition == DisjointCondition ? m_groups : m_group;
    if (destinationImageCount(m_settings) == 0)
        return fail(QStringLiteral("these settings give no destination image for %1")
                        .arg(PlanReport::counted(m_sources.size(), QStringLiteral("source image"))));

    const QString folder =
        parser.isSet("output") ? parser.value("output") : QFileInfo(m_sources.first()).absolutePath();
    if (folder.isEmpty())
        return fail(QStringLiteral("the destination folder is empty"));
    m_outputFolder = QDir(folder).absolutePath();
    m_job = buildStackJob(m_sources, m_settings, m_outputFolder, NamePattern(m_pattern), m_stackMethod,
                          m_format, m_compression);
    return true;
}

bool StackCommandLine::readPattern(const QCommandLineParser &parser)
{
    m_pattern = parser.value("pattern");
    if (parser.isSet("format"))
        m_format = FormatNames.indexOf(parser.value("format").toLower());
    else
        m_format = patternFormat(parser.isSet("pattern") ? m_pattern : DefaultPatternBase);
    if (m_format < 0)
        return fail(QStringLiteral("invalid value %1 for --format: use jpg, png, tiff or tiff16")
                        .arg(quoted(parser.value("format"))));
    // As in the window's dialog, the default name's extension follows the file type.
    if (!parser.isSet("pattern"))
        m_pattern = DefaultPatternBase + formatExtension(m_format);
    return true;
}

bool StackCommandLine::readVideo(const QCommandLineParser &parser)
{
    if (!parser.isSet("video"))
        return true;
    bool ok = false;
    const int fps = parser.value("fps").toInt(&ok, 10);
    if (!ok || fps < 1 || fps > 120)
        return fail(QStringLiteral("invalid value %1 for --fps: use a whole number from 1 to 120")
                        .arg(quoted(parser.value("fps"))));
    const QString size = parser.value("video-size").toLower();
    static const QRegularExpression bound(QStringLiteral("^([1-9][0-9]{0,5})x([1-9][0-9]{0,5})$"));
    const QRegularExpressionMatch match = bound.match(size);
    if (size == QLatin1String("source"))
        m_job.videoSize = QSize();
    else if (match.hasMatch() && match.captured(1).toInt() >= 2 && match.captured(2).toInt() >= 2)
        m_job.videoSize = QSize(match.captured(1).toInt(), match.captured(2).toInt());
    else
        return fail(QStringLiteral("invalid value %1 for --video-size: use WIDTHxHEIGHT (such as 1920x1080) "
                                   "or source")
                        .arg(quoted(parser.value("video-size"))));
    if (parser.value("video").isEmpty())
        return fail(QStringLiteral("the video file name is empty"));
    if (VideoEncoder::program().isEmpty())
        return fail(QStringLiteral("--video needs ffmpeg, which was not found: install the ffmpeg package"));
    m_job.videoFile = QFileInfo(parser.value("video")).absoluteFilePath();
    m_job.videoFrameRate = fps;
    return true;
}

bool StackCommandLine::readChoices(const QCommandLineParser &parser)
{
    auto read = [&](const QString &option, const QStringList &names, int *target) {
        const QString value = parser.value(option);
        *target = names.indexOf(value.toLower());
        if (*target >= 0)
            return true;
        QStringList choices = names;
        const QString last = choices.takeLast();
        return fail(QStringLiteral("invalid value %1 for --%2: use %3 or %4")
                        .arg(quoted(value), option, choices.join(QStringLiteral(", ")), last));
    };
    if (!read("condition", ConditionNames, &m_settings.condition)
        || !read("method", MethodNames, &m_stackMethod) || !read("fade", FadeNames, &m_settings.fadeMethod))
        return false;
    // The window holds "Mean" at no fading.
    if (m_stackMethod == MeanMethod && m_settings.fadeMethod != NoFading)
        return fail(
            QStringLiteral("--fade cannot be used with --method mean, which is stacked without fading"));
    return true;
}

bool StackCommandLine::readNumbers(const QCommandLineParser &parser)
{
    auto read = [&](const QString &option, int minimum, int maximum, int *target) {
        bool ok = false;
        const QString value = parser.value(option);
        *target = value.toInt(&ok, 10);
        if (ok && *target >= minimum && *target <= maximum)
            return true;
        return fail(QStringLiteral("invalid value %1 for --%2: use a whole number from %3 to %4")
                        .arg(quoted(value), option, QString::number(minimum), QString::number(maximum)));
    };
    int fadeIn = 0;
    int fadeOut = 0;
    if (!read("group", 1, CountMaximum, &m_group)
        || !read("step", 1, CountMaximum, &m_settings.conditionOption2)
        || !read("groups", 1, CountMaximum, &m_groups) || !read("fade-in", 0, 100, &fadeIn)
        || !read("fade-out", 0, 100, &fadeOut) || !read("quality", 1, 100, &m_compression))
        return false;
    // The window reads the percentage of final images for "Fade out" from its first fade box.
    m_settings.fadeOption1 = m_settings.fadeMethod == FadeOut ? fadeOut : fadeIn;
    m_settings.fadeOption2 = fadeOut;
    return true;
}

bool StackCommandLine::readSources(const QCommandLineParser &parser)
{
    QStringList paths = parser.positionalArguments();
    const QStringList lists = parser.values("from");
    for (const QString &list : lists) {
        if (!readList(list, &paths))
            return false;
    }
    // A folder's files named as this job's destination images are an earlier run's results.
    FolderSources folders(m_pattern);
    for (const QString &path : qAsConst(paths)) {
        if (QFileInfo(path).isDir())
            m_sources += folders.images(path);
        else
            m_sources += path;
    }
    if (folders.leftOut() > 0)
        m_leftOutNotice = folders.notice();
    if (m_sources.isEmpty())
        return fail(paths.isEmpty()
                        ? QStringLiteral("no source image given")
                        : QStringLiteral("no source image in %1").arg(paths.join(QStringLiteral(", "))));
    return true;
}

bool StackCommandLine::readList(const QString &listName, QStringList *paths)
{
    QFile list(listName);
    const bool standardInput = listName == QLatin1String("-");
    const bool opened =
        standardInput ? list.open(stdin, QIODevice::ReadOnly) : list.open(QIODevice::ReadOnly);
    if (!opened)
        return fail(QStringLiteral("cannot read the list of sources %1").arg(quoted(listName)));
    const QList<QByteArray> lines = list.readAll().split('\n');
    for (QByteArray line : lines) {
        // Lists written on Windows end their lines with "\r\n".
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            paths->append(QFile::decodeName(line));
    }
    return true;
}

bool StackCommandLine::fail(const QString &error)
{
    m_error = error;
    return false;
}

QString StackCommandLine::helpText()
{
    return QStringLiteral(
        "Usage: velumen-stack [OPTIONS] SOURCE...\n"
        "Stacks a series of photographs into new images, as the Velumen window does.\n"
        "\n"
        "SOURCE is an image file, or a folder whose .jpeg, .jpg, .png, .tif and .tiff files\n"
        "are taken in natural order (frame2 before frame10). Files are taken in the order given.\n"
        "A folder's files that the destination name pattern would make (an earlier run's results)\n"
        "are left out, and their count is said on standard error.\n"
        "\n"
        "  -c, --condition NAME   which sources make up each destination image:\n"
        "                         all, previous, groups, loop or disjoint (default all)\n"
        "  -g, --group N          images per group, for groups and loop (1-9999, default 1)\n"
        "  -s, --step N           step between groups, for groups and loop (1-9999, default 1)\n"
        "  -n, --groups N         number of groups, for disjoint (1-9999, default 1)\n"
        "  -m, --method NAME      lighten, darken or mean (default lighten)\n"
        "      --fade NAME        none, in, out or in-out (default none); not with mean\n"
        "      --fade-in P        percentage of initial images faded in (0-100, default 50)\n"
        "      --fade-out P       percentage of final images faded out (0-100, default 50)\n"
        "  -o, --output DIR       destination folder (default: the folder of the first source)\n"
        "  -p, --pattern PATTERN  destination file name; each run of * becomes the image number,\n"
        "                         padded with zeros (default output****.jpg)\n"
        "  -f, --format NAME      jpg, png, tiff (8 bits/channel) or tiff16 (16 bits/channel)\n"
        "                         (default: from the pattern's extension, else jpg)\n"
        "      --quality N        JPEG quality (1-100, default 92)\n"
        "      --from FILE        more sources from FILE, one path a line (- for standard input)\n"
        "      --video FILE       also make a film (H.264 in MP4) of the destination images, in order\n"
        "      --fps N            frames per second of the film (1-120, default 25)\n"
        "      --video-size SIZE  WIDTHxHEIGHT the film is reduced to fit, keeping the aspect, or\n"
        "                         source for the images' own size (default 3840x2160)\n"
        "      --dry-run          print the plan and write nothing\n"
        "  -q, --quiet            no progress and no summary, only errors\n"
        "  -h, --help             show this text\n"
        "      --version          show the version\n"
        "\n"
        "Existing files of the same names are overwritten. Exit status: 0 every image written,\n"
        "1 a source could not be read or a destination not written, 2 a usage error,\n"
        "130 interrupted (SIGINT, SIGTERM or SIGHUP).\n");
}
