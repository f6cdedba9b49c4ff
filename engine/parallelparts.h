#ifndef VELUMEN_PARALLELPARTS_H
#define VELUMEN_PARALLELPARTS_H

#include <QtGlobal>

#include <functional>

// One pass over a large image split into contiguous parts, one per core, the calling thread taking
// the first. The passes that end a destination image (the last fold, the narrowing to 8 bits) would
// otherwise leave every other core idle while the worker runs them alone.
class ParallelParts
{
public:
    // Calls work(begin, end) for parts of [0, count) whose bounds are multiples of granule (but the
    // last); below minimum, or with one core, in one call on this thread.
    static void run(qint64 count, qint64 granule, qint64 minimum,
                    const std::function<void(qint64 begin, qint64 end)> &work);
};

#endif
