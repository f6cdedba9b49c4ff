#include "foldersources.h"

#include "sourcefiles.h"

#include <QFileInfo>
#include <QSet>

#include <limits>

namespace {

// An image number needs at most this many digits, beyond any run's own padding.
const int IndexDigits = std::numeric_limits<int>::digits10 + 1;

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

FolderSources::FolderSources(const QString &destinationPattern)
    : m_pattern(destinationPattern)
    , m_names(destinationPattern)
{
    const int star = m_pattern.indexOf(QLatin1Char('*'));
    if (star < 0)
        return;
    m_prefix = m_pattern.left(star);
    while (star + m_firstWidth < m_pattern.size() && m_pattern.at(star + m_firstWidth) == QLatin1Char('*'))
        ++m_firstWidth;
}

QStringList FolderSources::images(const QString &folder)
{
    const QStringList all = SourceFiles::imagesInFolder(folder);
    QList<int> indexes;
    for (const QString &file : all)
        indexes.append(destinationIndex(QFileInfo(file).fileName()));
    const QSet<int> numbers(indexes.begin(), indexes.end());
    int results = 0;
    while (numbers.contains(results))
        ++results;
    QStringList kept;
    for (int i = 0; i < all.size(); ++i) {
        if (indexes.at(i) >= 0 && indexes.at(i) < results)
            ++m_leftOut;
        else
            kept.append(all.at(i));
    }
    return kept;
}

int FolderSources::destinationIndex(const QString &fileName) const
{
    // Without a run of '*' every image has the one name.
    if (m_firstWidth == 0)
        return fileName == m_pattern ? 0 : -1;
    if (!fileName.startsWith(m_prefix))
        return -1;
    // The first run's digits give the number; the pattern then makes the whole name from it, so every
    // other run and literal must agree. A literal digit after the run makes several readings possible.
    const int start = m_prefix.size();
    int end = start;
    while (end < fileName.size() && end - start < m_firstWidth + IndexDigits
           && isAsciiDigit(fileName.at(end)))
        ++end;
    const QString expected = QLatin1Char('/') + fileName;
    for (int length = m_firstWidth; start + length <= end; ++length) {
        bool ok = false;
        const int index = fileName.mid(start, length).toInt(&ok, 10);
        if (ok && m_names.fileName(QString(), index) == expected)
            return index;
    }
    return -1;
}

QString FolderSources::notice() const
{
    return QStringLiteral("left out %1 whose names the destination pattern %2 makes, as from an earlier run")
        .arg(m_leftOut == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(m_leftOut),
             m_pattern);
}
