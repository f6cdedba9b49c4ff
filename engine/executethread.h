#ifndef VELUMEN_EXECUTETHREAD_H
#define VELUMEN_EXECUTETHREAD_H

#include "sourcefeed.h"
#include "stackjob.h"
#include "stackplan.h"

#include <QString>
#include <QStringList>
#include <QSet>
#include <QSize>
#include <QThread>
#include <QVector>

#include <atomic>
#include <memory>

class DestinationMetadata;
class Image32;
class JobMetadata;
class PreviewReduction;
class QImage;
struct ImageUpdate;
class VideoEncoder;

// Carries out one stacking job in a thread of its own.
class ExecuteThread : public QThread
{
    Q_OBJECT

public:
    explicit ExecuteThread(QObject *parent = nullptr);
    ~ExecuteThread() override;

    void setSourceImages(const QStringList &sourceImages);
    void setDestinationImages(const QStringList &destinationImages);
    void setStackPlan(const StackPlan &stackPlan);
    void setStackMethod(int stackMethod);
    void setFormat(int format);
    void setCompression(int compression);
    // What the destinations' metadata names as the condition (JobMetadata::condition).
    void setCondition(const QString &condition);
    // A film of the destination images into file (none when empty), made during the run.
    void setVideo(const QString &file, int framesPerSecond, const QSize &bound);
    // The values above from one job value, in the same order.
    void setJob(const StackJob &job);

    // Observed before the next operation; the load in progress completes.
    void cancel();
    // For shutdown: cancels and also ends the tool run in progress; the run ends without a signal
    // and writes nothing more. The next setSourceImages re-arms the thread.
    void stop();

signals:
    void operationStarted(int currentImage, int totalImages, int currentOperation, int totalOperations);
    void completed();
    void aborted(bool open, const QString &filename);
    // The destination image being made, reduced to fit 640 x 640: after operations now and then,
    // and once the image is written (the last image always). Reduced only while something listens.
    void previewUpdated(int currentImage, int totalImages, const QImage &preview);

protected:
    void run() override;

private:
    bool startJob(const QVector<ImageUpdate> &updates, std::unique_ptr<Image32> &accumulator,
                  std::unique_ptr<SourceFeed> &feed);
    std::unique_ptr<SourceFeed> createFeed(const QVector<ImageUpdate> &updates, const Image32 &accumulator,
                                           bool inProcess);
    std::unique_ptr<Image32> createAccumulator(const QStringList &fields) const;
    QVector<SourceFeed::Request> loadRequests(const QVector<ImageUpdate> &updates) const;
    int loadsAhead(const Image32 &accumulator) const;
    bool updateImage(int image, const ImageUpdate &update, Image32 &accumulator, SourceFeed &feed);
    QImage finishImage(int image, const QVector<ImageUpdate> &updates, Image32 &accumulator,
                       SourceFeed &feed);
    QImage saveImage(int image, const ImageUpdate &update, const Image32 &accumulator, QImage &&narrowed,
                     bool keepCopy);
    // Writes one destination image in the chosen file type; frame, when given, receives its 8-bit copy.
    void save(const Image32 &image, QImage &&narrowed, const QString &path,
              const DestinationMetadata &metadata, QImage *frame) const;
    std::unique_ptr<VideoEncoder> startVideo(const Image32 &accumulator);
    void endVideo();
    void sendPreview(int image, const QImage &picture);

    // What the run is doing, so that any failure names the file concerned: a source being loaded
    // (open) or a destination being written.
    bool activityOpen = true;
    QString activityFile;
    // The job's sources as resolved paths, which no destination may name.
    QSet<QString> resolvedSources;
    // The running picture, while anything listens for it.
    std::unique_ptr<PreviewReduction> preview;

    std::atomic_bool cancelFlag{false};
    std::atomic_bool stopFlag{false};
    QStringList sourceImages;
    QStringList destinationImages;
    StackPlan stackPlan;
    int stackMethod = 0;
    int format = 0;
    int compression = 92;
    QString condition;
    // Made at the first image written, for the sources and method of the run.
    std::unique_ptr<JobMetadata> jobMetadata;
    QString videoFile;
    int videoFrameRate = 25;
    QSize videoSize;
    // The film of the run under way, if any.
    std::unique_ptr<VideoEncoder> video;
};

#endif
