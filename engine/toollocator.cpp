#include "toollocator.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QString comparable(const QString &folder, bool windows)
{
    QString path = QDir::cleanPath(QDir::fromNativeSeparators(folder));
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return windows ? path.toLower() : path;
}

bool insideAny(const QString &folder, const QStringList &roots, bool windows)
{
    const QString path = comparable(folder, windows);
    for (const QString &root : roots) {
        if (!root.isEmpty() && path.startsWith(comparable(root, windows)))
            return true;
    }
    return false;
}

#ifdef Q_OS_WIN
QString windowsFolder(UINT (WINAPI *query)(LPWSTR, UINT))
{
    wchar_t buffer[MAX_PATH + 1];
    const UINT length = query(buffer, MAX_PATH + 1);
    return length > 0 && length <= MAX_PATH ? QString::fromWCharArray(buffer, int(length)) : QString();
}
#endif

} // namespace

QStringList ToolLocator::find(const QString &toolName, const Places &places)
{
    const QString exe = places.windows ? QStringLiteral(".exe") : QString();
    const QString tool = toolName + exe, frontEnd = QStringLiteral("magick") + exe;
    const QDir tools(places.toolsFolder);
    if (places.isProgram(tools.filePath(tool)))
        return {QDir::toNativeSeparators(tools.absoluteFilePath(tool))};
    if (places.isProgram(tools.filePath(frontEnd)))
        return {QDir::toNativeSeparators(tools.absoluteFilePath(frontEnd)), toolName};

    for (QString entry : places.searchPath) {
        if (places.windows && entry.size() > 1 && entry.startsWith(QLatin1Char('"'))
            && entry.endsWith(QLatin1Char('"')))
            entry = entry.mid(1, entry.size() - 2);
        // A relative entry would find whatever the current folder holds.
        if (entry.isEmpty() || QDir::isRelativePath(entry)
            || insideAny(entry, places.systemFolders, places.windows))
            continue;
        const QDir folder(entry);
        const bool hasFrontEnd = places.isProgram(folder.filePath(frontEnd));
        // On Windows a folder is ImageMagick's when it holds the front end or both tools.
        const bool imageMagick = !places.windows || hasFrontEnd
                                 || (places.isProgram(folder.filePath(QStringLiteral("convert.exe")))
                                     && places.isProgram(folder.filePath(QStringLiteral("identify.exe"))));
        if (imageMagick && places.isProgram(folder.filePath(tool)))
            return {QDir::toNativeSeparators(folder.filePath(tool))};
        if (places.windows && hasFrontEnd)
            return {QDir::toNativeSeparators(folder.filePath(frontEnd)), toolName};
    }
    // Elsewhere the front end serves only where no folder on the path holds the tool itself.
    if (!places.windows) {
        for (const QString &entry : places.searchPath) {
            const QString program = QDir(entry).filePath(frontEnd);
            if (!entry.isEmpty() && !QDir::isRelativePath(entry) && places.isProgram(program))
                return {program, toolName};
        }
    }
    return {};
}

bool ToolLocator::userTools(const Places &places)
{
    const QString exe = places.windows ? QStringLiteral(".exe") : QString();
    const QDir tools(places.toolsFolder);
    for (const char *name : {"identify", "convert", "magick"}) {
        if (places.isProgram(tools.filePath(QLatin1String(name) + exe)))
            return true;
    }
    return false;
}

namespace {

ToolLocator::Places processPlaces(const QString &toolsFolder)
{
    ToolLocator::Places places;
    places.toolsFolder = toolsFolder;
    places.isProgram = [](const QString &path) {
        const QFileInfo info(path);
        return info.isFile() && info.isExecutable();
    };
#ifdef Q_OS_WIN
    places.windows = true;
    places.searchPath = qEnvironmentVariable("PATH").split(QLatin1Char(';'));
    places.systemFolders =
        QStringList{windowsFolder(GetWindowsDirectoryW), windowsFolder(GetSystemDirectoryW)};
#else
    places.searchPath = qEnvironmentVariable("PATH").split(QLatin1Char(':'));
#endif
    return places;
}

} // namespace

QStringList ToolLocator::find(const QString &toolName, const QString &toolsFolder)
{
    return find(toolName, processPlaces(toolsFolder));
}

bool ToolLocator::userTools(const QString &toolsFolder)
{
    return userTools(processPlaces(toolsFolder));
}
