#include "systemmemory.h"

#include <QFile>

#include <limits>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace {

const qint64 NoKnownLimit = std::numeric_limits<qint64>::max();

#ifdef Q_OS_LINUX
// A field of /proc/meminfo (kB) or /proc/self/status in bytes, or -1.
qint64 procField(const char *file, const QByteArray &name)
{
    QFile source(QString::fromLatin1(file));
    if (!source.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : source.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}
#endif

} // namespace

qint64 SystemMemory::available()
{
    qint64 result = NoKnownLimit;
#if defined(Q_OS_LINUX)
    const qint64 free = procField("/proc/meminfo", "MemAvailable");
    if (free >= 0)
        result = free;
#endif
#if defined(Q_OS_UNIX)
    rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        qint64 used = 0;
#ifdef Q_OS_LINUX
        used = qMax<qint64>(0, procField("/proc/self/status", "VmSize"));
#endif
        result = qMin(result, qint64(limit.rlim_cur) - used);
    }
#elif defined(Q_OS_WIN)
    MEMORYSTATUSEX status;
    status.dwLength = sizeof(status);
    if (GlobalMemoryStatusEx(&status))
        result = qint64(qMin(status.ullAvailPhys, status.ullAvailVirtual));
#endif
    return result;
}
