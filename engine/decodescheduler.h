#ifndef VELUMEN_DECODESCHEDULER_H
#define VELUMEN_DECODESCHEDULER_H

#include "frameplan.h"
#include "jpegdecoder.h"

#include <QStringList>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Decodes the frames of a plan on threads of its own, in the order they are first needed, ahead of
// the worker that folds them, and keeps each frame until the plan's last use of it. The frames held
// (decoded, kept or under way) never number more than the plan's kept frames plus those ahead; the
// frame the worker waits for can always start, since every frame held before it is one the plan
// keeps.
class DecodeScheduler
{
public:
    struct Frame
    {
        JpegDecoder::Header header;
        // Left uninitialised: pages a decode that fails early never reaches are never taken.
        std::unique_ptr<uchar[]> samples;
        size_t capacity = 0;
    };

    // Files and headers by source index, as the plan names them. Starts at once.
    DecodeScheduler(const QStringList &files, const QVector<JpegDecoder::Header> &headers,
                    const FramePlan &plan, int framesAhead, int threads, const std::atomic_bool *stop);
    // Decodes under way are ended; every thread is joined.
    ~DecodeScheduler();
    DecodeScheduler(const DecodeScheduler &) = delete;
    DecodeScheduler &operator=(const DecodeScheduler &) = delete;

    // Waits for the frame of an operation. Null when its decode failed or the run stops: the
    // operation then loads through the tools.
    const Frame *frame(int operation);
    // True when frame() would not wait.
    bool ready(int operation) const;
    // After the operation has folded its frame: a frame past its last use is freed.
    void release(int operation);

    // In place of release(), at the frame's last use: the frame itself, handed over rather than freed.
    // Empty before its last use.
    Frame take(int operation);

    // True once every decode has ended.
    bool finished() const;
    // Frames held now and at most so far (for the benchmark and the tests).
    int held() const;
    int mostHeld() const;
    // Decodes a frame of the header's size in full; counted. False as JpegDecoder::decode says.
    // The frame's memory is reused when it holds the header's size.
    static bool decode(const QString &fileName, Frame &frame, const std::atomic_bool *stop,
                       const std::atomic_bool *drop = nullptr);
    // Decodes finished in this process, successful or not.
    static int decodeCount();

private:
    enum State { Waiting, Running, Done, Failed, Released };

    void work();
    bool stopping() const;
    void keepSpare(Frame &frame);

    QStringList m_files;
    QVector<JpegDecoder::Header> m_headers;
    QVector<FramePlan::Decode> m_decodes;
    QVector<int> m_decodeOf;
    int m_limit;
    const std::atomic_bool *m_stop;
    std::atomic_bool m_drop{false};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<State> m_states;
    std::vector<Frame> m_frames;
    // The memory of frames past their last use, for the next decodes: fresh pages cost more to take
    // than a decode takes to fill them. Frames held and kept here together stay within the bound.
    std::vector<Frame> m_spare;
    int m_next = 0;
    int m_held = 0;
    int m_mostHeld = 0;
    std::vector<std::thread> m_threads;
};

#endif
