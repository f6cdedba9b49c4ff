#include "executethread.h"

#include "image32.h"
#include "jobpreflight.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaType>
#include <QSet>

#include <limits>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace {

enum StackMethod { Lighten = 0, Darken = 1, Mean = 2 };

typedef QPair<int, double> WeightedSource;
typedef QSet<WeightedSource> SourceSet;

enum Combine { CombineLighten, CombineDarken, CombineAdd, CombineSubtract };

// Thrown inside run when a cancel or a stop ends it without a signal.
struct Ended
{
};

// The read tool scales each sample u (as a fraction of full scale) to w*u, or to w*u + (1 - w)
// under "Darken only", so a faded source fades toward black, or toward white for a minimum.
QString weightArguments(double weight, int stackMethod)
{
    const QString weightText = QString::number(weight, 'g', 6);
    if (stackMethod == Darken)
        return QString("-function Polynomial %1,%2").arg(weightText, QString::number(1.0 - weight, 'g', 6));
    return QString("-function Polynomial %1,0.0").arg(weightText);
}

} // namespace

ExecuteThread::ExecuteThread(QObject *parent)
    : QThread(parent)
{
    qRegisterMetaType<StackPlan>("StackPlan");
}

// Safety net: destroying a running QThread aborts the program.
ExecuteThread::~ExecuteThread()
{
    if (isRunning()) {
        stop();
        wait();
    }
}

void ExecuteThread::setSourceImages(const QStringList &sourceImages)
{
    this->sourceImages = sourceImages;
    // Handing over a new job re-arms the thread after a stop.
    stopFlag.store(false);
}

void ExecuteThread::setDestinationImages(const QStringList &destinationImages)
{
    this->destinationImages = destinationImages;
}

void ExecuteThread::setStackPlan(const StackPlan &stackPlan)
{
    this->stackPlan = stackPlan;
}

void ExecuteThread::setStackMethod(int stackMethod)
{
    this->stackMethod = stackMethod;
}

void ExecuteThread::setFormat(int format)
{
    this->format = format;
}

void ExecuteThread::setCompression(int compression)
{
    this->compression = compression;
}

void ExecuteThread::setJob(const StackJob &job)
{
    setSourceImages(job.sourceImages);
    setDestinationImages(job.destinationImages);
    setStackPlan(job.stackPlan);
    setStackMethod(job.stackMethod);
    setFormat(job.format);
    setCompression(job.compression);
}

void ExecuteThread::cancel()
{
    cancelFlag.store(true, std::memory_order_relaxed);
}

void ExecuteThread::stop()
{
    stopFlag.store(true);
    cancelFlag.store(true, std::memory_order_relaxed);
}

void ExecuteThread::run()
{
    cancelFlag.store(false, std::memory_order_relaxed);

    // What the run is doing, so that any failure can name the file concerned.
    bool loading = true;
    QString currentFile = sourceImages.value(0);

    try {
        if (stopFlag.load())
            return;
        if (sourceImages.isEmpty())
            throw Image32Exception(Image32Exception::ReadFailed, currentFile);

        // The first source gives the size of every image of the job; refuse what cannot make one.
        const QStringList fields = identifyImage(currentFile, &stopFlag);
        if (stopFlag.load())
            return;
        bool widthOk = false;
        bool heightOk = false;
        const int width = fields.size() == 4 ? fields.at(0).toInt(&widthOk, 10) : 0;
        const int height = fields.size() == 4 ? fields.at(1).toInt(&heightOk, 10) : 0;
        if (!widthOk || !heightOk || width <= 0 || height <= 0
            || qint64(width) * height * 3 > qint64(std::numeric_limits<qint32>::max()))
            throw Image32Exception(Image32Exception::ReadFailed, currentFile);

        QSet<QString> resolvedSources;
        for (const QString &source : qAsConst(sourceImages))
            resolvedSources.insert(JobPreflight::resolvedPath(source));

        Image32 accumulator(width, height, 48);
        if (stackMethod == Darken)
            accumulator.invert();

        const int imageCount = destinationImages.size();
        SourceSet previous;

        for (int i = 0; i < imageCount; ++i) {
            const SourceSet current = stackPlan.value(i);
            const QString path = destinationImages.at(i);
            const SourceSet removed = SourceSet(previous).subtract(current);
            const SourceSet added = SourceSet(current).subtract(previous);

            int counter = 0;
            int total = 0;

            // One operation: check for a cancel, report, load the weighted source, combine it.
            // Returns false when the run has to end without a signal.
            auto operation = [&](const WeightedSource &source, Combine combine) {
                if (cancelFlag.load(std::memory_order_relaxed) || stopFlag.load())
                    return false;
                emit operationStarted(i, imageCount, counter, total);
                ++counter;
                loading = true;
                currentFile = sourceImages.value(source.first);
                if (source.first < 0 || source.first >= sourceImages.size())
                    throw Image32Exception(Image32Exception::ReadFailed, currentFile);
                const Image32 image(currentFile, weightArguments(source.second, stackMethod), 48, &stopFlag);
                if (stopFlag.load())
                    return false;
                switch (combine) {
                case CombineLighten:
                    accumulator.lighten(image);
                    break;
                case CombineDarken:
                    accumulator.darken(image);
                    break;
                case CombineAdd:
                    accumulator.add(image);
                    break;
                case CombineSubtract:
                    accumulator.subtract(image);
                    break;
                }
                return true;
            };
            auto combineAll = [&](const SourceSet &sources, Combine combine) {
                for (const WeightedSource &source : sources)
                    if (!operation(source, combine))
                        throw Ended();
            };

            double weightSum = 0.0;
            if (stackMethod == Lighten || stackMethod == Darken) {
                const Combine combine = stackMethod == Lighten ? CombineLighten : CombineDarken;
                // A maximum or minimum cannot be undone: losing any source forces a rebuild.
                if (removed.isEmpty()) {
                    total = added.size();
                    combineAll(added, combine);
                } else {
                    accumulator.fill(stackMethod == Lighten ? 0u : 65535u);
                    total = current.size();
                    combineAll(current, combine);
                }
            } else if (stackMethod == Mean) {
                for (const WeightedSource &source : current)
                    weightSum += source.second;
                if (added.size() + removed.size() > current.size()) {
                    accumulator.fill(0);
                    total = current.size();
                    combineAll(current, CombineAdd);
                } else {
                    total = removed.size() + added.size();
                    combineAll(removed, CombineSubtract);
                    combineAll(added, CombineAdd);
                }
            }

            // A stop ends the run at once; a cancel still lets this image be written.
            if (stopFlag.load())
                return;

            loading = false;
            currentFile = path;
            // Never overwrite a source of the job.
            if (resolvedSources.contains(JobPreflight::resolvedPath(path)))
                throw Image32Exception(Image32Exception::WriteFailed, path);

            if (stackMethod == Mean) {
                Image32 mean(width, height, 48);
                mean.add(accumulator);
                // An empty set leaves the mean black rather than dividing by zero.
                if (weightSum > 0.0)
                    mean.divide(weightSum);
                save(mean, path);
            } else {
                save(accumulator, path);
            }

            previous = current;
        }

        emit completed();
        return;
    } catch (const Ended &) {
        return;
    } catch (const Image32Exception &) {
        // The signal names the file from the thread's own lists, not from the exception.
#if defined(__GLIBCXX__)
    } catch (const abi::__forced_unwind &) {
        // Thread cancellation unwinds through here and must go on.
        throw;
#endif
    } catch (...) {
        // Memory exhaustion (std::bad_alloc) or any other failure ends the run the same way.
    }
    if (stopFlag.load())
        return;
    emit aborted(loading, currentFile);
}

void ExecuteThread::save(const Image32 &image, const QString &path) const
{
    switch (format) {
    case 0:
        image.save(path, "JPG", compression);
        break;
    case 1:
        image.save(path, "PNG", -1);
        break;
    case 2:
        image.save(path, "TIFF", -1);
        break;
    case 3:
        image.saveTiff16(path);
        break;
    default:
        break;
    }
}
