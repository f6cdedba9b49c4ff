#include "extremerun.h"

#include "parallelparts.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Rows below which the narrowing stays on one core.
const qint64 NarrowRowsMinimum = 256;

void freeRun(void *samples)
{
    delete[] static_cast<uchar *>(samples);
}

// Spans in blocks of a fixed length, which the compiler turns into vector code even where it
// vectorises only loops of a known trip count.
const size_t Block = 64;

template <typename Op>
void foldBytes(uchar *__restrict run, const uchar *__restrict frame, size_t count, Op op)
{
    size_t i = 0;
    for (; i + Block <= count; i += Block) {
        for (size_t k = 0; k < Block; ++k)
            run[i + k] = op(run[i + k], frame[i + k]);
    }
    for (; i < count; ++i)
        run[i] = op(run[i], frame[i]);
}

} // namespace

bool ExtremeRun::suits(const Table &table, SampleFold::Operation operation)
{
    return (operation == SampleFold::Lighten || operation == SampleFold::Darken)
        && std::is_sorted(table.begin(), table.end());
}

bool ExtremeRun::accepts(const JpegDecoder::Header &header, const Table &table,
                         SampleFold::Operation operation) const
{
    return m_count == 0
        || (header.width == m_width && header.height == m_height && header.components == m_components
            && operation == m_operation && table == m_table);
}

bool ExtremeRun::take(const uchar *samples, const JpegDecoder::Header &header, const Table &table,
                      SampleFold::Operation operation)
{
    const size_t bytes = size_t(header.width) * size_t(header.height) * size_t(header.components);
    if (m_count == 0) {
        if (m_capacity < bytes) {
            m_samples.reset();
            m_capacity = 0;
            m_samples.reset(new (std::nothrow) uchar[bytes]);
            if (!m_samples)
                return false;
            m_capacity = bytes;
        }
        std::memcpy(m_samples.get(), samples, bytes);
        start(header, table, operation);
    } else if (operation == SampleFold::Lighten) {
        foldBytes(m_samples.get(), samples, bytes, [](uchar a, uchar b) { return a > b ? a : b; });
    } else {
        foldBytes(m_samples.get(), samples, bytes, [](uchar a, uchar b) { return a < b ? a : b; });
    }
    ++m_count;
    return true;
}

bool ExtremeRun::adopt(std::unique_ptr<uchar[]> &samples, size_t capacity, const JpegDecoder::Header &header,
                       const Table &table, SampleFold::Operation operation)
{
    if (m_count != 0 || !samples)
        return false;
    m_samples = std::move(samples);
    m_capacity = capacity;
    start(header, table, operation);
    ++m_count;
    return true;
}

void ExtremeRun::start(const JpegDecoder::Header &header, const Table &table, SampleFold::Operation operation)
{
    m_width = header.width;
    m_height = header.height;
    m_components = header.components;
    m_table = table;
    m_operation = operation;
}

SampleFold::Frame ExtremeRun::frame() const
{
    return {m_samples.get(), m_width, m_height, m_components, m_table.data(), m_operation};
}

void ExtremeRun::clear(bool free)
{
    m_count = 0;
    if (free) {
        m_samples.reset();
        m_capacity = 0;
    }
}

QImage ExtremeRun::narrowed(qint32 width, qint32 height, int depth)
{
    if (m_count == 0 || width != m_width || height != m_height || (m_components != 1 && m_components != 3))
        return QImage();
    uchar values[256];
    const int shift = std::max(0, depth - 8);
    for (int v = 0; v < 256; ++v)
        values[v] = uchar(m_table[size_t(v)] >> shift);
    const qint64 row = qint64(width) * 3;
    // A colour run becomes the copy in place; a gray one spreads into a copy of its own.
    uchar *bytes = m_components == 3 ? m_samples.get()
                                     : static_cast<uchar *>(std::malloc(size_t(row) * size_t(height)));
    if (!bytes)
        return QImage();
    const uchar *run = m_samples.get();
    const int components = m_components;
    ParallelParts::run(height, 1, NarrowRowsMinimum, [&](qint64 begin, qint64 end) {
        if (components == 3) {
            for (qint64 i = begin * row; i < end * row; ++i)
                bytes[i] = values[run[i]];
            return;
        }
        for (qint64 i = begin * width; i < end * width; ++i)
            bytes[3 * i] = bytes[3 * i + 1] = bytes[3 * i + 2] = values[run[i]];
    });
    m_count = 0;
    if (m_components == 1) {
        clear(true);
        return QImage(bytes, width, height, int(row), QImage::Format_RGB888, &std::free, bytes);
    }
    m_capacity = 0;
    return QImage(m_samples.release(), width, height, int(row), QImage::Format_RGB888, &freeRun, bytes);
}
