#include "executethread.h"

#include "image32.h"
#include "imageupdate.h"
#include "jobmetadata.h"
#include "jobpreflight.h"
#include "previewreduction.h"
#include "samplefold.h"
#include "sourcefeed.h"
#include "systemmemory.h"
#include "toollocator.h"
#include "toolrunner.h"
#include "videoencoder.h"

#include <QImage>
#include <QMetaMethod>
#include <QMetaType>
#include <QSet>

#include <utility>


#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace {

enum StackMethod { Lighten = 0, Darken = 1, Mean = 2 };

const qint64 MaxSampleCount = Q_INT64_C(0x7FFFFFFF);
// Memory a load's tool holds while it decodes, per pixel (ImageMagick's 16-bit pixel cache and more).
const qint64 ToolBytesPerPixel = 10;

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
    jobMetadata.reset();
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

void ExecuteThread::setCondition(const QString &condition)
{
    this->condition = condition;
}

void ExecuteThread::setVideo(const QString &file, int framesPerSecond, const QSize &bound)
{
    videoFile = file;
    videoFrameRate = framesPerSecond;
    videoSize = bound;
}

void ExecuteThread::setJob(const StackJob &job)
{
    setSourceImages(job.sourceImages);
    setDestinationImages(job.destinationImages);
    setStackPlan(job.stackPlan);
    setStackMethod(job.stackMethod);
    setFormat(job.format);
    setCompression(job.compression);
    setCondition(job.condition);
    setVideo(job.videoFile, job.videoFrameRate, job.videoSize);
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
    activityOpen = true;
    activityFile = sourceImages.value(0);
    try {
        const QVector<ImageUpdate> updates =
            ImageUpdate::planned(stackPlan, destinationImages.size(), stackMethod);
        resolvedSources.clear();
        for (const QString &source : qAsConst(sourceImages))
            resolvedSources.insert(JobPreflight::resolvedPath(source));
        std::unique_ptr<Image32> accumulator;
        std::unique_ptr<SourceFeed> feed;
        if (!startJob(updates, accumulator, feed))
            return;
        preview.reset(isSignalConnected(QMetaMethod::fromSignal(&ExecuteThread::previewUpdated))
                          ? new PreviewReduction(stackMethod) : nullptr);
        for (int i = 0; i < updates.size(); ++i) {
            // A cancel still lets the image under way be written; a stop ends the run at once.
            if (!updateImage(i, updates.at(i), *accumulator, *feed) || stopFlag.load()) {
                // After a cancel the film of the images so far is kept; after a stop it is not.
                endVideo();
                return;
            }
            QImage narrowed = finishImage(i, updates, *accumulator, *feed);
            const bool fromCopy = !narrowed.isNull();
            const QImage written =
                saveImage(i, updates.at(i), *accumulator, std::move(narrowed), fromCopy && preview);
            const bool last = i + 1 == updates.size();
            if (preview)
                sendPreview(i, fromCopy ? preview->afterImage(written, updates.at(i), last)
                                        : preview->afterImage(*accumulator, updates.at(i), last));
        }
        endVideo();
        emit completed();
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
    // A failed run leaves no film: the encoder ends ffmpeg and removes its temporary file.
    video.reset();
    if (!stopFlag.load())
        emit aborted(activityOpen, activityFile);
}

// The accumulator, the film's encoder and the feed of the sources. A tools folder of the user's own
// decides every source; else plain JPEGs are read here, and the first source, sized by its header, is
// decoded beside the others: the job goes on once that decode has succeeded or the tools have judged
// the file, so that damage anywhere in it is still refused before any operation. False on a stop.
bool ExecuteThread::startJob(const QVector<ImageUpdate> &updates, std::unique_ptr<Image32> &accumulator,
                             std::unique_ptr<SourceFeed> &feed)
{
    const QString first = sourceImages.value(0);
    const bool inProcess = !ToolLocator::userTools(ToolRunner::toolsFolder());
    bool decodeFirst = false;
    if (stopFlag.load())
        return false;
    const QStringList fields = sourceImages.isEmpty()
        ? QStringList() : SourceFeed::identifyFirst(first, inProcess, &stopFlag, &decodeFirst);
    if (stopFlag.load())
        return false;
    accumulator = createAccumulator(fields);
    if (!decodeFirst)
        video = startVideo(*accumulator);
    feed = createFeed(updates, *accumulator, inProcess);
    if (decodeFirst && !feed->firstDecoded()) {
        if (stopFlag.load())
            return false;
        const QStringList judged = identifyImage(first, &stopFlag);
        if (stopFlag.load())
            return false;
        if (judged != fields) {
            // The tools size the job as they see the file, or refuse it.
            feed.reset();
            accumulator.reset();
            accumulator = createAccumulator(judged);
            feed = createFeed(updates, *accumulator, inProcess);
        }
    }
    if (decodeFirst)
        video = startVideo(*accumulator);
    return true;
}

std::unique_ptr<SourceFeed> ExecuteThread::createFeed(const QVector<ImageUpdate> &updates,
                                                      const Image32 &accumulator, bool inProcess)
{
    SourceFeed::Bounds bounds;
    bounds.inProcess = inProcess;
    bounds.toolLoadsAhead = loadsAhead(accumulator);
    // Beside the job's own images: the writer's 8-bit copy and, for a mean, the divided copy.
    bounds.room = SystemMemory::available() - qint64(accumulator.sampleCount) * (stackMethod == Mean ? 5 : 1);
    bounds.threads = qMax(1, QThread::idealThreadCount());
    return std::make_unique<SourceFeed>(sourceImages, loadRequests(updates), stackMethod, bounds, &stopFlag);
}

// The first source gives the size of every image of the job; refuse what cannot make one, and a
// size whose images would not fit in the memory the machine has, before anything is allocated.
std::unique_ptr<Image32> ExecuteThread::createAccumulator(const QStringList &fields) const
{
    bool widthOk = false;
    bool heightOk = false;
    const int width = fields.size() == 4 ? fields.at(0).toInt(&widthOk, 10) : 0;
    const int height = fields.size() == 4 ? fields.at(1).toInt(&heightOk, 10) : 0;
    const qint64 samples = qint64(width) * height * 3;
    // The accumulator, the writer's 8-bit copy and, for a mean, the divided copy; for a film, the
    // 8-bit copies queued for the encoder.
    const qint64 needed = samples * (stackMethod == Mean ? 9 : 5) + (videoFile.isEmpty() ? 0 : samples * 3);
    if (!widthOk || !heightOk || width <= 0 || height <= 0 || samples > MaxSampleCount
        || needed > SystemMemory::available())
        throw Image32Exception(Image32Exception::ReadFailed, sourceImages.value(0));
    // Made blank: "Darken only"'s starting value is filled in by the feed before anything folds, so an
    // image written straight from a run never touches it.
    return std::unique_ptr<Image32>(new Image32(width, height, 48));
}

// The load of every operation of the job, in order.
QVector<SourceFeed::Request> ExecuteThread::loadRequests(const QVector<ImageUpdate> &updates) const
{
    QVector<SourceFeed::Request> requests;
    for (const ImageUpdate &update : updates) {
        for (const ImageUpdate::Operation &operation : update.operations)
            requests.append({operation.source, operation.weight});
    }
    return requests;
}

// Enough loads ahead to keep every core busy (a load's tools keep about one core busy), no more
// than the memory left beside the job's own images holds tools for.
int ExecuteThread::loadsAhead(const Image32 &accumulator) const
{
    const qint64 copies = qint64(accumulator.sampleCount) * (stackMethod == Mean ? 5 : 1);
    const qint64 perLoad = qint64(accumulator.width) * accumulator.height * ToolBytesPerPixel;
    const qint64 room = (SystemMemory::available() - copies) / qMax<qint64>(1, perLoad) - 1;
    return int(qBound<qint64>(0, room, qMax(1, QThread::idealThreadCount() - 1)));
}

// The operations of one image, each observing a cancel or stop first. False when the run ends.
bool ExecuteThread::updateImage(int image, const ImageUpdate &update, Image32 &accumulator, SourceFeed &feed)
{
    // A refill of an accumulator that still holds its starting value would only pass over every sample.
    feed.startImage(accumulator, update.refill);
    const int total = update.operations.size();
    for (int k = 0; k < total; ++k) {
        if (cancelFlag.load(std::memory_order_relaxed) || stopFlag.load())
            return false;
        emit operationStarted(image, destinationImages.size(), k, total);
        const ImageUpdate::Operation &operation = update.operations.at(k);
        activityOpen = true;
        activityFile = sourceImages.value(operation.source);
        feed.foldNext(accumulator, operation.fold);
        if (!preview || !preview->dueAfter(update, k))
            continue;
        SampleFold::Frame run{};
        if (feed.runAlone(accumulator, &run)) {
            // The accumulator does not hold the run yet: the picture comes from the run.
            sendPreview(image, preview->afterOperation(run, accumulator.depth, update, k));
        } else {
            // Frames still pending would be missing from the picture.
            feed.flush(accumulator);
            sendPreview(image, preview->afterOperation(accumulator, update, k));
        }
    }
    return true;
}

// After an image's operations: they are folded, or, where the accumulator serves nothing after this
// image, the 8-bit copy is made straight from the feed's run and the accumulator is never touched (for
// "All images", four 48 MP frames: 576 MB of memory neither taken nor passed over twice). The running
// pictures then come from the run and the copy.
QImage ExecuteThread::finishImage(int image, const QVector<ImageUpdate> &updates, Image32 &accumulator,
                                  SourceFeed &feed)
{
    const bool refilledNext = image + 1 >= updates.size() || updates.at(image + 1).refill;
    if (refilledNext && stackMethod != Mean && format != 3) {
        QImage narrowed = feed.takeNarrowed(accumulator);
        if (!narrowed.isNull())
            return narrowed;
    }
    feed.flush(accumulator);
    return QImage();
}

// narrowed, when not null, is the image's 8-bit copy made already; with keepCopy, it is returned.
QImage ExecuteThread::saveImage(int image, const ImageUpdate &update, const Image32 &accumulator,
                                QImage &&narrowed, bool keepCopy)
{
    const QString path = destinationImages.at(image);
    activityOpen = false;
    activityFile = path;
    // Never overwrite a source of the job.
    if (resolvedSources.contains(JobPreflight::resolvedPath(path)))
        throw Image32Exception(Image32Exception::WriteFailed, path);
    if (!jobMetadata)
        jobMetadata = std::make_unique<JobMetadata>(sourceImages, stackMethod, condition);
    const DestinationMetadata metadata =
        jobMetadata->forImage(stackPlan.value(image), accumulator.width, accumulator.height);
    QImage frame;
    if (stackMethod != Mean) {
        save(accumulator, std::move(narrowed), path, metadata, video || keepCopy ? &frame : nullptr);
    } else {
        Image32 mean(accumulator.width, accumulator.height, 48);
        mean.add(accumulator);
        // An empty set leaves the mean black rather than dividing by zero.
        if (update.weightSum > 0.0)
            mean.divide(update.weightSum);
        save(mean, QImage(), path, metadata, video ? &frame : nullptr);
    }
    if (video) {
        activityFile = videoFile;
        if (!video->addFrame(frame))
            throw Image32Exception(Image32Exception::WriteFailed, videoFile);
    }
    return keepCopy ? frame : QImage();
}

// The film's encoder, started before the first load so that a film that cannot be made costs no work.
std::unique_ptr<VideoEncoder> ExecuteThread::startVideo(const Image32 &accumulator)
{
    if (videoFile.isEmpty())
        return nullptr;
    activityOpen = false;
    activityFile = videoFile;
    if (resolvedSources.contains(JobPreflight::resolvedPath(videoFile)))
        throw Image32Exception(Image32Exception::WriteFailed, videoFile);
    std::unique_ptr<VideoEncoder> encoder(new VideoEncoder(videoFile, videoFrameRate, videoSize, &stopFlag));
    if (!encoder->start(QSize(accumulator.width, accumulator.height)))
        throw Image32Exception(Image32Exception::WriteFailed, videoFile);
    return encoder;
}

// Completes the film of the images written; a stop discards it instead.
void ExecuteThread::endVideo()
{
    const std::unique_ptr<VideoEncoder> encoder = std::move(video);
    if (!encoder || stopFlag.load())
        return;
    activityOpen = false;
    activityFile = videoFile;
    if (!encoder->finish() && !stopFlag.load())
        throw Image32Exception(Image32Exception::WriteFailed, videoFile);
}

// narrowed, when not null, is the image's 8-bit copy made already.
void ExecuteThread::save(const Image32 &image, QImage &&narrowed, const QString &path,
                         const DestinationMetadata &metadata, QImage *frame) const
{
    static const char *const eightBitFormats[] = {"JPG", "PNG", "TIFF"};
    if (format >= 0 && format <= 2) {
        const int quality = format == 0 ? compression : -1;
        if (narrowed.isNull())
            image.save(path, eightBitFormats[format], quality, &metadata, frame);
        else
            Image32::saveNarrowed(std::move(narrowed), path, eightBitFormats[format], quality, &metadata,
                                  frame);
    } else if (format == 3) {
        image.saveTiff16(path, &metadata);
    }
    // The 16-bit writer keeps no 8-bit copy: the film's frame is narrowed on its own.
    if (frame && frame->isNull())
        *frame = image.narrowed8();
}

void ExecuteThread::sendPreview(int image, const QImage &picture)
{
    if (!picture.isNull())
        emit previewUpdated(image, destinationImages.size(), picture);
}
