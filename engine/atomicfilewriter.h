#ifndef VELUMEN_ATOMICFILEWRITER_H
#define VELUMEN_ATOMICFILEWRITER_H

#include <QFile>
#include <QString>

// Writes a file all-or-nothing: the bytes go to a new temporary file beside the destination and
// replace the destination only once every byte is known to be on disk. Until then, and after any
// failure, an earlier file of that name is left exactly as it was, and so is a write-protected one.
class AtomicFileWriter
{
public:
    // suffix, when given, ends the temporary name (a tool writing into it picks its format by it).
    explicit AtomicFileWriter(const QString &destination, const QString &suffix = QString());
    ~AtomicFileWriter();

    AtomicFileWriter(const AtomicFileWriter &) = delete;
    AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

    // Creates the temporary file. Fails for a missing or unwritable folder, or a destination that
    // exists but is not a regular file (a folder, a device) or that the user may not write.
    bool open();
    // Appends bytes; false on any shortfall, after which commit() fails.
    bool write(const char *data, qint64 size);
    // Closes the temporary file so that another program can fill it; commit() still applies.
    void closeForTool();
    // Flushes to disk and renames over the destination; on failure removes the temporary file.
    bool commit();
    // Removes the temporary file; the destination is not touched.
    void cancel();

    QString temporaryFileName() const { return m_temporaryName; }
    QString destination() const { return m_destination; }

    // Writes all bytes in pieces, checking each count; false when any piece falls short.
    static bool writeAll(QFileDevice &file, const char *data, qint64 size);

private:
    QString m_destination;
    QString m_suffix;
    QString m_temporaryName;
    QFile m_file;
    bool m_failed = false;
    bool m_committed = false;
};

#endif
