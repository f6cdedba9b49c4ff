#include "toolinput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

ToolInput::ToolInput(const QString &fileName)
{
    const QString absolute = QFileInfo(fileName).absoluteFilePath();
    if (isPlain(absolute)) {
        m_path = QDir::toNativeSeparators(absolute);
        return;
    }
    m_folder.reset(new QTemporaryDir(QDir(QDir::tempPath()).filePath(QStringLiteral("velumen-XXXXXX"))));
    if (!m_folder->isValid() || !isPlain(m_folder->path()))
        return;
    const QString suffix = QFileInfo(absolute).suffix();
    static const QRegularExpression plainSuffix(QStringLiteral("^[A-Za-z0-9]{1,8}$"));
    const QString link = QDir(m_folder->path()).filePath(
        plainSuffix.match(suffix).hasMatch() ? QStringLiteral("source.") + suffix : QStringLiteral("source"));
#ifdef Q_OS_WIN
    // Windows links need rights a user may not have; a copy serves.
    if (QFile::copy(absolute, link))
#else
    if (QFile::link(absolute, link))
#endif
        m_path = QDir::toNativeSeparators(link);
}

bool ToolInput::isPlain(const QString &absolute)
{
    static const QString special = QStringLiteral("*?[]{}%@:~\\<>|");
    int start = 0;
#ifdef Q_OS_WIN
    if (absolute.size() >= 2 && absolute.at(1) == QLatin1Char(':'))
        start = 2;
#endif
    for (int i = start; i < absolute.size(); ++i) {
        const QChar c = absolute.at(i);
        if (c.unicode() < 0x20 || special.contains(c))
            return false;
    }
    return true;
}
