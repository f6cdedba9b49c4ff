#ifndef VELUMEN_SOURCEFEED_H
#define VELUMEN_SOURCEFEED_H

#include "decodescheduler.h"
#include "extremerun.h"
#include "loadqueue.h"
#include "samplefold.h"

#include <QImage>
#include <QStringList>
#include <QVector>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

class Image32;

// The sources of a job's operations, in their order, each from where it is read best. Plain JPEGs
// are decoded in this process, once where memory allows, and folded through the weight's table of
// 16-bit samples; every other source, any frame whose decode fails, and every source of a job that
// brings its own tools is loaded through the tools exactly as an operation always has been.
class SourceFeed
{
public:
    struct Request
    {
        int source;
        double weight;
    };
    struct Bounds
    {
        bool inProcess = false;  // false: every load through the tools
        int toolLoadsAhead = 0;
        qint64 room = 0;         // bytes for frames beside the job's own images
        int threads = 1;
    };

    SourceFeed(const QStringList &sources, const QVector<Request> &requests, int stackMethod,
               const Bounds &bounds, const std::atomic_bool *stop);
    ~SourceFeed();
    SourceFeed(const SourceFeed &) = delete;
    SourceFeed &operator=(const SourceFeed &) = delete;

    // Folds the next operation's source into the image, or leaves a decoded frame pending, to be
    // folded in one pass with the frames after it. Throws Image32Exception(ReadFailed, file name)
    // when the source cannot be read.
    void foldNext(Image32 &image, SampleFold::Operation operation);
    // Folds what is pending: before the image is used.
    void flush(Image32 &image);
    // Before an image's operations. The feed follows whether the image, made blank, holds its method's
    // starting value: a refill gives it that value unless it holds it, and "Darken only"'s is filled in
    // only once something folds.
    void startImage(Image32 &image, bool refill);
    // After them, when they all made one run over the starting value, the 8-bit copy of the image as
    // it would be once they were folded, made from the run alone: the image itself is left at its
    // starting value. Else a null image, and nothing changes.
    QImage takeNarrowed(const Image32 &image);
    // True when every operation since the image's start made one run over the starting value, of the
    // image's own size: the run, which the image does not hold yet, is then given.
    bool runAlone(const Image32 &image, SampleFold::Frame *run) const;

    // The identify fields of the first source. In-process, a plain JPEG's come from its header and
    // *decodeLater is set: its full decode, by firstDecoded(), earns them, so that damage anywhere in
    // it can still go to the tools' verdict, as it would by identify.
    static QStringList identifyFirst(const QString &fileName, bool inProcess, const std::atomic_bool *stop,
                                     bool *decodeLater);
    // Waits for the first source's decode, which runs with the others where the plan decodes it
    // first. False when it failed or the run stops.
    bool firstDecoded();
    // Memory a decoded frame of this size takes.
    static qint64 frameBytes(const JpegDecoder::Header &header);

private:
    QString options(double weight) const;
    bool joinRun(Image32 &image, int frameIndex, const DecodeScheduler::Frame &frame,
                 const ExtremeRun::Table &table, SampleFold::Operation operation);
    void foldPending(Image32 &image);
    void leaveStart(Image32 &image);
    void fillStart(Image32 &image);
    void foldRun(Image32 &image);

    QStringList m_sources;
    QVector<Request> m_requests;
    int m_stackMethod;
    const std::atomic_bool *m_stop;
    // Per operation: its index among the frame operations, or -1 for a tool load.
    QVector<int> m_frameIndex;
    // Per operation: whether the next is a frame of the same shape and weight.
    QVector<bool> m_joinsNext;
    int m_next = 0;
    int m_firstFrameSource = -1;
    std::unique_ptr<LoadQueue> m_loads;
    std::unique_ptr<DecodeScheduler> m_frames;
    struct Pending
    {
        int frameIndex;
        std::array<quint16, 256> table;
    };
    std::vector<Pending> m_pending;
    std::vector<SampleFold::Frame> m_pendingFrames;
    bool m_runs = false;
    bool m_atStart = true;
    // The starting value the blank image still lacks, or -1.
    qint64 m_missingStart;
    ExtremeRun m_run;
};

#endif
