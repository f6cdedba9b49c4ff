#include "sourcefiles.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// Compares two runs of digits by value, without limit on their length.
int compareNumbers(const QStringRef &a, const QStringRef &b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() - 1 && a.at(i) == QLatin1Char('0'))
        ++i;
    while (j < b.size() - 1 && b.at(j) == QLatin1Char('0'))
        ++j;
    const int lengthA = a.size() - i;
    const int lengthB = b.size() - j;
    if (lengthA != lengthB)
        return lengthA < lengthB ? -1 : 1;
    return a.mid(i).compare(b.mid(j));
}

int digitRunEnd(const QString &s, int from)
{
    while (from < s.size() && s.at(from).isDigit())
        ++from;
    return from;
}

} // namespace

QStringList SourceFiles::nameFilters()
{
    return {QStringLiteral("*.jpeg"), QStringLiteral("*.jpg"), QStringLiteral("*.png"),
            QStringLiteral("*.tif"), QStringLiteral("*.tiff")};
}

bool SourceFiles::isImageName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return nameFilters().contains(QStringLiteral("*.") + suffix);
}

QStringList SourceFiles::imagesInFolder(const QString &folder)
{
    const QDir dir(folder);
    QStringList files;
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Readable, QDir::NoSort);
    for (const QFileInfo &entry : entries) {
        if (isImageName(entry.fileName()))
            files.append(entry.absoluteFilePath());
    }
    std::sort(files.begin(), files.end(), &SourceFiles::naturalLess);
    return files;
}

bool SourceFiles::naturalLess(const QString &a, const QString &b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            const int endA = digitRunEnd(a, i);
            const int endB = digitRunEnd(b, j);
            const int order = compareNumbers(a.midRef(i, endA - i), b.midRef(j, endB - j));
            if (order != 0)
                return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        const int order = QString::compare(a.at(i), b.at(j), Qt::CaseInsensitive);
        if (order != 0)
            return order < 0;
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    // Names equal but for letter case or leading zeros still get one fixed order.
    return a < b;
}
