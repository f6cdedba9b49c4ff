#ifndef VELUMEN_SAMPLEFOLD_H
#define VELUMEN_SAMPLEFOLD_H

#include <QtGlobal>

class Image32;

// Folds a raw stream of 16-bit samples (low byte first, the image's channel count, top row first)
// into an image piece by piece as it arrives, so that no whole source image is ever held. A stream
// of another width or height meets the image at the top-left corner: only the overlap is folded.
class SampleFold
{
public:
    enum Operation { Store, Lighten, Darken, Add, Subtract };

    SampleFold(Image32 &target, qint32 streamWidth, qint32 streamHeight, Operation operation);

    // Takes the next piece of the stream; bytes beyond the stream's samples are ignored.
    void take(const char *data, qint64 size);
    // True once every sample of the stream has arrived.
    bool complete() const { return m_filled == m_total; }

    // A decoded 8-bit frame (one or three components, rows unpadded) and how it folds: each value
    // through the table of the 16-bit sample it stands for, a gray value into every channel.
    struct Frame
    {
        const uchar *samples;
        qint32 width;
        qint32 height;
        int components;
        const quint16 *table;
        Operation operation;
    };
    // Folds frames into a three-channel image in their order; a frame of another size meets the
    // image at the top-left corner. Spread, on every core.
    static void foldFrames(Image32 &target, const Frame *frames, int count, bool spread = false);

private:
    void foldSamples(const uchar *bytes, qint64 count);

    quint32 *m_target;
    qint64 m_targetRow;
    qint64 m_streamRow;
    qint64 m_overlapRow;
    qint64 m_overlapRows;
    bool m_sameShape;
    Operation m_operation;
    qint64 m_filled = 0;
    qint64 m_total;
    bool m_haveLowByte = false;
    uchar m_lowByte = 0;
};

#endif
