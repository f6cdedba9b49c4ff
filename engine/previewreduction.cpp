#include "previewreduction.h"

#include "image32.h"

#include <algorithm>
#include <vector>

namespace {

enum StackMethod { Lighten = 0, Darken = 1, Mean = 2 };

// At most four pictures a second, and at most a sixtieth of the worker's time spent on them: with
// the first and the last picture, which are always sent, a job of many frames pays under 3 %.
const qint64 MinimumIntervalNs = 250 * 1000 * 1000;
const qint64 CostShare = 60;

// Folds one row of samples into the row of the block, element by element. In blocks of a fixed
// length, like the combining passes, so that the compiler vectorises it.
template <typename T, typename S, typename Operation>
void foldRow(T *__restrict into, const S *__restrict row, qint64 n, Operation op)
{
    const int block = 16;
    qint64 i = 0;
    for (; i + block <= n; i += block) {
        for (int k = 0; k < block; ++k)
            into[i + k] = op(into[i + k], T(row[i + k]));
    }
    for (; i < n; ++i)
        into[i] = op(into[i], T(row[i]));
}

// One block row of the samples reduced into one line of the picture: the rows of the block first
// folded into one row, then each run of columns into one pixel.
// The row buffer is the caller's, reused: a fresh one for every block row would cost page faults.
template <typename S, typename T, typename Operation, typename Finish>
void reduceBlockRow(const S *samples, qint64 rowLength, int channels, qint64 firstRow, qint64 endRow,
                    const std::vector<qint64> &columns, Operation op, Finish finish, std::vector<T> &folded,
                    QRgb *line)
{
    folded.assign(samples + firstRow * rowLength, samples + (firstRow + 1) * rowLength);
    for (qint64 y = firstRow + 1; y < endRow; ++y)
        foldRow(folded.data(), samples + y * rowLength, rowLength, op);
    const qint64 rows = endRow - firstRow;
    for (size_t x = 0; x + 1 < columns.size(); ++x) {
        T value[4];
        const auto first = folded.begin() + columns[x] * channels;
        std::copy(first, first + channels, value);
        for (qint64 c = columns[x] + 1; c < columns[x + 1]; ++c)
            for (int k = 0; k < channels; ++k)
                value[k] = op(value[k], folded[size_t(c * channels + k)]);
        const qint64 count = rows * (columns[x + 1] - columns[x]);
        const int red = finish(value[0], count);
        line[x] =
            channels >= 3 ? qRgb(red, finish(value[1], count), finish(value[2], count)) : qRgb(red, red, red);
    }
}

// The picture's block bounds along one side.
std::vector<qint64> blockBounds(qint64 length, int pictureLength)
{
    std::vector<qint64> bounds;
    for (int x = 0; x <= pictureLength; ++x)
        bounds.push_back(qint64(x) * length / pictureLength);
    return bounds;
}

} // namespace

// What a picture is reduced from: the accumulator's samples, or 8-bit samples each standing for an
// accumulator value whose top 8 bits are given (a run's frame, the 8-bit copy).
struct PreviewReduction::Source
{
    const quint32 *samples = nullptr;
    const uchar *bytes = nullptr;
    const uchar *values = nullptr;
    qint32 width = 0;
    qint32 height = 0;
    int channels = 0;
    int depth = 0;
};

PreviewReduction::PreviewReduction(int stackMethod)
    : m_stackMethod(stackMethod)
{
}

QSize PreviewReduction::reducedSize(int width, int height)
{
    const QSize size(width, height);
    if (width <= MaxSize && height <= MaxSize)
        return size;
    // Rounds down in integers, as the source previews are fitted.
    return size.scaled(MaxSize, MaxSize, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

PreviewReduction::Source PreviewReduction::sourceOf(const Image32 &image)
{
    Source source;
    source.samples = image.samples;
    source.width = image.width;
    source.height = image.height;
    source.channels = image.channels;
    source.depth = image.depth;
    return source;
}

PreviewReduction::Source PreviewReduction::sourceOf(const uchar *bytes, const uchar *values, qint32 width,
                                                    qint32 height, int channels)
{
    Source source;
    source.bytes = bytes;
    source.values = values;
    source.width = width;
    source.height = height;
    source.channels = channels;
    return source;
}

QImage PreviewReduction::reduce(const Image32 &image, int stackMethod, double weight)
{
    return reduce(sourceOf(image), stackMethod, weight);
}

QImage PreviewReduction::reduce(const Source &source, int stackMethod, double weight)
{
    if (source.width <= 0 || source.height <= 0 || source.channels < 1 || source.channels > 4
        || (source.bytes && stackMethod == Mean))
        return QImage();
    const QSize size = reducedSize(source.width, source.height);
    QImage picture(size, QImage::Format_RGB32);
    const std::vector<qint64> columns = blockBounds(source.width, size.width());
    const std::vector<qint64> rows = blockBounds(source.height, size.height());
    const qint64 rowLength = qint64(source.width) * source.channels;
    // The top 8 bits of a sample, as the writers keep them.
    const int shift = source.depth > 8 ? source.depth - 8 : 0;
    const double divisor = weight > 0.0 ? weight : 1.0;
    std::vector<quint64> sums;
    std::vector<quint32> extremes;
    const auto top = [shift](quint32 value, qint64) { return int(std::min(255u, value >> shift)); };
    const auto valueOf = [&source](quint32 byte, qint64) { return int(source.values[byte]); };
    const auto smallest = [](quint32 a, quint32 b) { return std::min(a, b); };
    const auto largest = [](quint32 a, quint32 b) { return std::max(a, b); };
    for (int y = 0; y < size.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        const auto blockRow = [&](auto samples, auto op, auto finish, auto &folded) {
            reduceBlockRow(samples, rowLength, source.channels, rows[size_t(y)], rows[size_t(y) + 1], columns,
                           op, finish, folded, line);
        };
        if (stackMethod == Mean) {
            const auto add = [](quint64 a, quint64 b) { return a + b; };
            const auto average = [&](quint64 sum, qint64 count) {
                const quint64 mean = quint64(double(sum) / double(count) / divisor);
                return int(std::min<quint64>(255, mean >> shift));
            };
            blockRow(source.samples, add, average, sums);
        } else if (source.bytes) {
            // The values keep the order of the bytes, so the extreme byte gives the extreme value.
            if (stackMethod == Darken)
                blockRow(source.bytes, smallest, valueOf, extremes);
            else
                blockRow(source.bytes, largest, valueOf, extremes);
        } else if (stackMethod == Darken) {
            blockRow(source.samples, smallest, top, extremes);
        } else {
            blockRow(source.samples, largest, top, extremes);
        }
    }
    return picture;
}

bool PreviewReduction::dueAfter(const ImageUpdate &update, int k) const
{
    // The image's own picture follows the last operation at once, once it is written.
    if (k + 1 >= update.operations.size())
        return false;
    return !m_sinceLast.isValid()
        || m_sinceLast.nsecsElapsed() >= std::max(MinimumIntervalNs, m_lastCostNs * CostShare);
}

QImage PreviewReduction::afterOperation(const Image32 &accumulator, const ImageUpdate &update, int k)
{
    if (!dueAfter(update, k))
        return QImage();
    // The weights in the accumulator now: a rebuild starts from none, an update from the last image's.
    double weight = update.refill ? 0.0 : m_previousWeight;
    for (int j = 0; j <= k && j < update.operations.size(); ++j) {
        const ImageUpdate::Operation &operation = update.operations.at(j);
        weight += operation.fold == SampleFold::Subtract ? -operation.weight : operation.weight;
    }
    return timedReduce(sourceOf(accumulator), weight);
}

QImage PreviewReduction::afterOperation(const SampleFold::Frame &run, int depth, const ImageUpdate &update,
                                        int k)
{
    if (!dueAfter(update, k))
        return QImage();
    uchar values[256];
    const int shift = depth > 8 ? depth - 8 : 0;
    for (int v = 0; v < 256; ++v)
        values[v] = uchar(std::min(255, run.table[v] >> shift));
    return timedReduce(sourceOf(run.samples, values, run.width, run.height, run.components), 1.0);
}

QImage PreviewReduction::afterImage(const Image32 &accumulator, const ImageUpdate &update, bool last)
{
    return afterImage(sourceOf(accumulator), update, last);
}

QImage PreviewReduction::afterImage(const QImage &narrowed, const ImageUpdate &update, bool last)
{
    if (narrowed.format() != QImage::Format_RGB888 || narrowed.bytesPerLine() != narrowed.width() * 3)
        return QImage();
    uchar values[256];
    for (int v = 0; v < 256; ++v)
        values[v] = uchar(v);
    return afterImage(sourceOf(narrowed.constBits(), values, narrowed.width(), narrowed.height(), 3), update,
                      last);
}

QImage PreviewReduction::afterImage(const Source &source, const ImageUpdate &update, bool last)
{
    m_previousWeight = update.weightSum;
    // Images written faster than the budget allows (large frames, one load each) skip a picture now
    // and then; the run's last image never does.
    if (!last && m_sinceLast.isValid() && m_sinceLast.nsecsElapsed() < m_lastCostNs * CostShare)
        return QImage();
    return timedReduce(source, update.weightSum);
}

QImage PreviewReduction::timedReduce(const Source &source, double weight)
{
    QElapsedTimer cost;
    cost.start();
    QImage picture = reduce(source, m_stackMethod, weight);
    // Up to 640 x 640 a reduction is a plain copy, too cheap to count; timed, a thread that waited
    // for a core would make it look costly.
    m_lastCostNs = source.width > MaxSize || source.height > MaxSize ? cost.nsecsElapsed() : 0;
    m_sinceLast.start();
    return picture;
}
