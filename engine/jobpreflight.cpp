#include "jobpreflight.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

QString JobPreflight::unwritableFolder(const StackJob &job)
{
    QSet<QString> checked;
    QStringList paths = job.destinationImages;
    if (!job.videoFile.isEmpty())
        paths.append(job.videoFile);
    for (const QString &path : qAsConst(paths)) {
        const QString folder = QFileInfo(path).absolutePath();
        if (checked.contains(folder))
            continue;
        checked.insert(folder);
        const QFileInfo info(folder);
        if (!info.isDir() || !info.isWritable())
            return folder;
    }
    return QString();
}

QString JobPreflight::destinationAmongSources(const StackJob &job)
{
    QSet<QString> sources;
    for (const QString &source : job.sourceImages)
        sources.insert(resolvedPath(source));
    for (const QString &path : job.destinationImages) {
        if (sources.contains(resolvedPath(path)))
            return path;
    }
    if (!job.videoFile.isEmpty() && sources.contains(resolvedPath(job.videoFile)))
        return job.videoFile;
    return QString();
}

QString JobPreflight::irreplaceableVideo(const StackJob &job)
{
    const QFileInfo info(job.videoFile);
    if (!job.videoFile.isEmpty() && info.exists() && (!info.isFile() || !info.isWritable()))
        return job.videoFile;
    return QString();
}

QString JobPreflight::resolvedPath(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    QString resolved = canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
#ifdef Q_OS_WIN
    resolved = resolved.toLower();
#endif
    return resolved;
}
