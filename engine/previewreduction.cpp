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
template <typename T, typename Operation>
void foldRow(T *__restrict into, const quint32 *__restrict row, qint64 n, Operation op)
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

// One block row of the image reduced into one line of the picture: the rows of the block first
// folded into one row, then each run of columns into one pixel.
// The row buffer is the caller's, reused: a fresh one for every block row would cost page faults.
template <typename T, typename Operation, typename Finish>
void reduceBlockRow(const Image32 &image, qint64 firstRow, qint64 endRow, const std::vector<qint64> &columns,
                    Operation op, Finish finish, std::vector<T> &folded, QRgb *line)
{
    const qint64 rowLength = qint64(image.width) * image.channels;
    folded.assign(image.samples + firstRow * rowLength, image.samples + (firstRow + 1) * rowLength);
    for (qint64 y = firstRow + 1; y < endRow; ++y)
        foldRow(folded.data(), image.samples + y * rowLength, rowLength, op);
    const int channels = image.channels;
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

} // namespace

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

QImage PreviewReduction::reduce(const Image32 &image, int stackMethod, double weight)
{
    if (image.width <= 0 || image.height <= 0 || image.channels < 1 || image.channels > 4)
        return QImage();
    const QSize size = reducedSize(image.width, image.height);
    QImage picture(size, QImage::Format_RGB32);
    std::vector<qint64> columns;
    for (int x = 0; x <= size.width(); ++x)
        columns.push_back(qint64(x) * image.width / size.width());
    // The top 8 bits of a sample, as the writers keep them.
    const int shift = image.depth > 8 ? image.depth - 8 : 0;
    const double divisor = weight > 0.0 ? weight : 1.0;
    std::vector<quint64> sums;
    std::vector<quint32> extremes;
    for (int y = 0; y < size.height(); ++y) {
        const qint64 first = qint64(y) * image.height / size.height();
        const qint64 end = qint64(y + 1) * image.height / size.height();
        QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        if (stackMethod == Mean) {
            const auto add = [](quint64 a, quint64 b) { return a + b; };
            const auto average = [&](quint64 sum, qint64 count) {
                const quint64 mean = quint64(double(sum) / double(count) / divisor);
                return int(std::min<quint64>(255, mean >> shift));
            };
            reduceBlockRow(image, first, end, columns, add, average, sums, line);
        } else {
            const auto top = [shift](quint32 value, qint64) { return int(std::min(255u, value >> shift)); };
            const auto smallest = [](quint32 a, quint32 b) { return std::min(a, b); };
            const auto largest = [](quint32 a, quint32 b) { return std::max(a, b); };
            if (stackMethod == Darken)
                reduceBlockRow(image, first, end, columns, smallest, top, extremes, line);
            else
                reduceBlockRow(image, first, end, columns, largest, top, extremes, line);
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
    return timedReduce(accumulator, weight);
}

QImage PreviewReduction::afterImage(const Image32 &accumulator, const ImageUpdate &update, bool last)
{
    m_previousWeight = update.weightSum;
    // Images written faster than the budget allows (large frames, one load each) skip a picture now
    // and then; the run's last image never does.
    if (!last && m_sinceLast.isValid() && m_sinceLast.nsecsElapsed() < m_lastCostNs * CostShare)
        return QImage();
    return timedReduce(accumulator, update.weightSum);
}

QImage PreviewReduction::timedReduce(const Image32 &accumulator, double weight)
{
    QElapsedTimer cost;
    cost.start();
    QImage picture = reduce(accumulator, m_stackMethod, weight);
    // Up to 640 x 640 a reduction is a plain copy, too cheap to count; timed, a thread that waited
    // for a core would make it look costly.
    m_lastCostNs = accumulator.width > MaxSize || accumulator.height > MaxSize ? cost.nsecsElapsed() : 0;
    m_sinceLast.start();
    return picture;
}
