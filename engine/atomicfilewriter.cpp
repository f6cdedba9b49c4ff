#include "atomicfilewriter.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

const qint64 WritePiece = 1 << 20;

bool syncHandle(int handle)
{
    if (handle < 0)
        return false;
#ifdef Q_OS_WIN
    return _commit(handle) == 0;
#else
    return ::fsync(handle) == 0;
#endif
}

bool replaceFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                       reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

// An existing file the user may not write is theirs to keep: renaming over it would replace it
// all the same, since the rename needs only the folder's permission.
bool writeProtected(const QString &file)
{
#ifdef Q_OS_WIN
    const DWORD attributes =
        GetFileAttributesW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(file).utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
    // The effective user decides, as it would for opening the file.
    return ::faccessat(AT_FDCWD, QFile::encodeName(file).constData(), W_OK, AT_EACCESS) != 0
        && errno != ENOENT;
#endif
}

// Makes the rename itself durable; a failure here does not undo a finished write.
void syncFolder(const QString &folder)
{
#ifndef Q_OS_WIN
    const int handle = ::open(QFile::encodeName(folder).constData(), O_RDONLY);
    if (handle >= 0) {
        ::fsync(handle);
        ::close(handle);
    }
#else
    Q_UNUSED(folder)
#endif
}

} // namespace

AtomicFileWriter::AtomicFileWriter(const QString &destination, const QString &suffix)
    : m_suffix(suffix)
{
    QFileInfo info(destination);
    // Writing through a link replaces the file it points to, not the link.
    if (info.isSymLink()) {
        const QString target = info.symLinkTarget();
        if (!target.isEmpty())
            info = QFileInfo(target);
    }
    m_destination = info.absoluteFilePath();
}

AtomicFileWriter::~AtomicFileWriter()
{
    if (!m_committed)
        cancel();
}

bool AtomicFileWriter::open()
{
    const QFileInfo destination(m_destination);
    if (destination.exists() && (!destination.isFile() || writeProtected(m_destination)))
        return false;
    const QDir folder = destination.absoluteDir();
    if (!folder.exists())
        return false;

    // The temporary name holds nothing a tool could read as a pattern or a frame number.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = QStringLiteral(".velumen-%1.tmp%2")
                                 .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
                                 .arg(m_suffix.isEmpty() ? QString() : QLatin1Char('.') + m_suffix);
        m_file.setFileName(folder.filePath(name));
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_temporaryName = m_file.fileName();
            if (destination.exists())
                m_file.setPermissions(QFile::permissions(m_destination));
            return true;
        }
        if (m_file.error() != QFileDevice::OpenError || !QFileInfo::exists(m_file.fileName()))
            return false;
    }
    return false;
}

bool AtomicFileWriter::writeAll(QFileDevice &file, const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 piece = qMin(size, WritePiece);
        const qint64 written = file.write(data, piece);
        // A short count is retried; the retry reports the reason (a full disk) as an error.
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

bool AtomicFileWriter::write(const char *data, qint64 size)
{
    if (m_failed || !m_file.isOpen() || !writeAll(m_file, data, size))
        m_failed = true;
    return !m_failed;
}

void AtomicFileWriter::closeForTool()
{
    if (m_file.isOpen())
        m_file.close();
}

bool AtomicFileWriter::commit()
{
    if (m_temporaryName.isEmpty() || m_failed) {
        cancel();
        return false;
    }
    if (!m_file.isOpen() && !m_file.open(QIODevice::ReadOnly)) {
        cancel();
        return false;
    }
    const bool flushed = m_file.flush() && syncHandle(m_file.handle());
    m_file.close();
    // Asked again at the last moment: the file may have been protected while the image was written.
    if (!flushed || m_file.error() != QFileDevice::NoError || writeProtected(m_destination)
        || !replaceFile(m_temporaryName, m_destination)) {
        cancel();
        return false;
    }
    m_committed = true;
    m_temporaryName.clear();
    syncFolder(QFileInfo(m_destination).absolutePath());
    return true;
}

void AtomicFileWriter::cancel()
{
    if (m_file.isOpen())
        m_file.close();
    if (!m_temporaryName.isEmpty())
        QFile::remove(m_temporaryName);
    m_temporaryName.clear();
    m_failed = true;
}
