#include "parallelparts.h"

#include <QThread>

#include <system_error>
#include <thread>
#include <vector>

void ParallelParts::run(qint64 count, qint64 granule, qint64 minimum,
                        const std::function<void(qint64, qint64)> &work)
{
    const qint64 grain = qMax<qint64>(1, granule);
    const qint64 cores = qMin<qint64>(qMax(1, QThread::idealThreadCount()), qMax<qint64>(1, count / grain));
    if (count < minimum || cores <= 1) {
        work(0, count);
        return;
    }
    const qint64 part = (count / cores + grain - 1) / grain * grain;
    std::vector<std::thread> helpers;
    qint64 begin = part;
    try {
        for (; begin < count; begin += part)
            helpers.emplace_back(work, begin, qMin(count, begin + part));
    } catch (const std::system_error &) {
        // No thread to be had: this one takes the rest as well.
        work(begin, count);
    }
    work(0, qMin(count, part));
    for (std::thread &helper : helpers)
        helper.join();
}
