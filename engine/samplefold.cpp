#include "samplefold.h"

#include "image32.h"
#include "parallelparts.h"

#include <algorithm>

namespace {

// Pixels times frames below which a fold stays on the worker alone.
const qint64 FoldPartMinimum = qint64(1) << 20;

// One pass over a span; the operation is chosen once per span so that the loop stays simple enough
// for the compiler to vectorise.
template <typename Op>
void foldSpan(quint32 *__restrict target, const uchar *__restrict bytes, qint64 count, Op op)
{
    for (qint64 k = 0; k < count; ++k)
        target[k] = op(target[k], quint32(bytes[2 * k]) | (quint32(bytes[2 * k + 1]) << 8));
}

void foldSpan(quint32 *target, const uchar *bytes, qint64 count, SampleFold::Operation operation)
{
    switch (operation) {
    case SampleFold::Store:
        foldSpan(target, bytes, count, [](quint32, quint32 b) { return b; });
        break;
    case SampleFold::Lighten:
        foldSpan(target, bytes, count, [](quint32 a, quint32 b) { return a > b ? a : b; });
        break;
    case SampleFold::Darken:
        foldSpan(target, bytes, count, [](quint32 a, quint32 b) { return a < b ? a : b; });
        break;
    case SampleFold::Add:
        foldSpan(target, bytes, count, [](quint32 a, quint32 b) { return a + b; });
        break;
    case SampleFold::Subtract:
        foldSpan(target, bytes, count, [](quint32 a, quint32 b) { return a - b; });
        break;
    }
}

// One row of a frame through the table, for a chosen operation: a colour row sample by sample, a gray
// row with each value for all three channels.
template <int Components, typename Op>
void foldFrameRow(quint32 *__restrict target, const uchar *__restrict frame, qint64 pixels,
                  const quint16 *__restrict table, Op op)
{
    if (Components == 3) {
        for (qint64 i = 0; i < 3 * pixels; ++i)
            target[i] = op(target[i], quint32(table[frame[i]]));
        return;
    }
    for (qint64 x = 0; x < pixels; ++x) {
        const quint32 value = table[frame[x]];
        for (int c = 0; c < 3; ++c)
            target[3 * x + c] = op(target[3 * x + c], value);
    }
}

template <int Components>
void foldFrameRow(quint32 *target, const uchar *frame, qint64 pixels, const quint16 *table,
                  SampleFold::Operation operation)
{
    switch (operation) {
    case SampleFold::Store:
        foldFrameRow<Components>(target, frame, pixels, table, [](quint32, quint32 b) { return b; });
        break;
    case SampleFold::Lighten:
        foldFrameRow<Components>(target, frame, pixels, table,
                                 [](quint32 a, quint32 b) { return a > b ? a : b; });
        break;
    case SampleFold::Darken:
        foldFrameRow<Components>(target, frame, pixels, table,
                                 [](quint32 a, quint32 b) { return a < b ? a : b; });
        break;
    case SampleFold::Add:
        foldFrameRow<Components>(target, frame, pixels, table, [](quint32 a, quint32 b) { return a + b; });
        break;
    case SampleFold::Subtract:
        foldFrameRow<Components>(target, frame, pixels, table, [](quint32 a, quint32 b) { return a - b; });
        break;
    }
}

} // namespace

void SampleFold::foldFrames(Image32 &target, const Frame *frames, int count, bool spread)
{
    if (target.channels != 3)
        return;
    // Row by row, every frame in turn: the image's row stays in the cache while the frames pass over it,
    // where frame by frame the whole image would stream through memory once for each.
    const qint64 minimumRows = !spread ? target.height + 1
        : FoldPartMinimum / qMax<qint64>(1, qint64(target.width) * qMax(1, count));
    ParallelParts::run(target.height, 1, minimumRows, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            quint32 *row = target.samples + y * target.width * 3;
            for (int f = 0; f < count; ++f) {
                const Frame &frame = frames[f];
                if (y >= frame.height)
                    continue;
                const qint64 pixels = std::min(target.width, frame.width);
                const uchar *source = frame.samples + y * frame.width * frame.components;
                if (frame.components == 1)
                    foldFrameRow<1>(row, source, pixels, frame.table, frame.operation);
                else if (frame.components == 3)
                    foldFrameRow<3>(row, source, pixels, frame.table, frame.operation);
            }
        }
    });
}

SampleFold::SampleFold(Image32 &target, qint32 streamWidth, qint32 streamHeight, Operation operation)
    : m_target(target.samples),
      m_targetRow(qint64(target.width) * target.channels),
      m_streamRow(qint64(streamWidth) * target.channels),
      m_overlapRow(qint64(std::min(target.width, streamWidth)) * target.channels),
      m_overlapRows(std::min(target.height, streamHeight)),
      m_sameShape(streamWidth == target.width && streamHeight == target.height),
      m_operation(operation),
      m_total(m_streamRow * streamHeight)
{
}

void SampleFold::take(const char *data, qint64 size)
{
    const uchar *bytes = reinterpret_cast<const uchar *>(data);
    if (m_haveLowByte && size > 0 && m_filled < m_total) {
        const uchar pair[2] = {m_lowByte, bytes[0]};
        foldSamples(pair, 1);
        m_haveLowByte = false;
        ++bytes;
        --size;
    }
    const qint64 count = std::min(size / 2, m_total - m_filled);
    foldSamples(bytes, count);
    if (size - 2 * count == 1 && m_filled < m_total) {
        m_lowByte = bytes[size - 1];
        m_haveLowByte = true;
    }
}

// Sample m_filled of the stream lies in stream row m_filled / m_streamRow; only the part of a row
// inside the overlap lands in the image, at the same row and column.
void SampleFold::foldSamples(const uchar *bytes, qint64 count)
{
    if (m_sameShape) {
        foldSpan(m_target + m_filled, bytes, count, m_operation);
        m_filled += count;
        return;
    }
    while (count > 0) {
        const qint64 row = m_filled / m_streamRow;
        const qint64 column = m_filled % m_streamRow;
        const qint64 run = std::min(count, m_streamRow - column);
        if (row < m_overlapRows && column < m_overlapRow)
            foldSpan(m_target + row * m_targetRow + column, bytes, std::min(run, m_overlapRow - column),
                     m_operation);
        m_filled += run;
        bytes += 2 * run;
        count -= run;
    }
}
