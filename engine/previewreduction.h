#ifndef VELUMEN_PREVIEWREDUCTION_H
#define VELUMEN_PREVIEWREDUCTION_H

#include "imageupdate.h"
#include "samplefold.h"

#include <QElapsedTimer>
#include <QImage>
#include <QSize>

class Image32;

// The running picture of a job: the accumulator reduced to fit 640 x 640 by blocks, so that a
// one-pixel trail of a large frame stays visible where a smooth down-scale would wash it out. Each
// block gives its largest samples under "Lighten only", its smallest under "Darken only" and its
// average under "Mean", divided by the weights folded so far. Used in the worker thread between
// operations, so the accumulator is never read while a load folds into it.
class PreviewReduction
{
public:
    static constexpr int MaxSize = 640;

    // Stack method 0 lighten, 1 darken, 2 mean.
    explicit PreviewReduction(int stackMethod);

    // After operation k of an update has folded in: the picture, or a null image until one is due
    // (no more often than four times a second, and rarer when a reduction is costly), never after an
    // image's last operation.
    QImage afterOperation(const Image32 &accumulator, const ImageUpdate &update, int k);
    // The same while the image is a run alone over its starting value (SourceFeed::runAlone), which the
    // accumulator does not hold yet; the image's depth.
    QImage afterOperation(const SampleFold::Frame &run, int depth, const ImageUpdate &update, int k);
    // Whether a picture is due after operation k, so that the caller can bring the accumulator up to
    // date first.
    bool dueAfter(const ImageUpdate &update, int k) const;
    // After a destination image has been written: its picture, unless pictures would take more than
    // a sixtieth of the time; always for the last image of the run.
    QImage afterImage(const Image32 &accumulator, const ImageUpdate &update, bool last);
    // The same for an image written from its 8-bit copy alone (SourceFeed::takeNarrowed), under
    // "Lighten only" or "Darken only".
    QImage afterImage(const QImage &narrowed, const ImageUpdate &update, bool last);

    // An image's samples reduced by the method's rule to 8 bits per channel; weight divides the
    // mean. Its size is the image's, fitted within 640 x 640 (never enlarged).
    static QImage reduce(const Image32 &image, int stackMethod, double weight = 1.0);
    static QSize reducedSize(int width, int height);

private:
    struct Source;
    static Source sourceOf(const Image32 &image);
    static Source sourceOf(const uchar *bytes, const uchar *values, qint32 width, qint32 height,
                           int channels);
    static QImage reduce(const Source &source, int stackMethod, double weight);
    QImage afterImage(const Source &source, const ImageUpdate &update, bool last);
    QImage timedReduce(const Source &source, double weight);

    int m_stackMethod;
    // Under "Mean", the weights the accumulator holds after the last image written.
    double m_previousWeight = 0.0;
    QElapsedTimer m_sinceLast;
    qint64 m_lastCostNs = 0;
};

#endif
