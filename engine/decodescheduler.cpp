#include "decodescheduler.h"

#include <algorithm>
#include <chrono>

namespace {

std::atomic_int decodesFinished{0};
// How often a waiting worker looks at the stop flag, which nobody signals.
const std::chrono::milliseconds StopPoll(20);

} // namespace

DecodeScheduler::DecodeScheduler(const QStringList &files, const QVector<JpegDecoder::Header> &headers,
                                 const FramePlan &plan, int framesAhead, int threads,
                                 const std::atomic_bool *stop)
    : m_files(files),
      m_headers(headers),
      m_decodes(plan.decodes()),
      m_decodeOf(plan.decodeOf()),
      m_limit(plan.mostKept() + qMax(1, framesAhead)),
      m_stop(stop),
      m_states(size_t(m_decodes.size()), Waiting),
      m_frames(size_t(m_decodes.size()))
{
    const int count = qBound(0, threads, m_decodes.size());
    for (int t = 0; t < count; ++t)
        m_threads.emplace_back([this] { work(); });
}

DecodeScheduler::~DecodeScheduler()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_drop.store(true);
    }
    m_changed.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

bool DecodeScheduler::stopping() const
{
    return m_drop.load() || (m_stop && m_stop->load());
}

void DecodeScheduler::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (!stopping() && m_next < m_decodes.size() && m_held >= m_limit)
            m_changed.wait_for(lock, StopPoll);
        if (stopping() || m_next >= m_decodes.size())
            return;
        const int d = m_next++;
        ++m_held;
        m_mostHeld = qMax(m_mostHeld, m_held);
        m_states[size_t(d)] = Running;
        const int source = m_decodes.at(d).source;
        Frame &frame = m_frames[size_t(d)];
        if (!m_spare.empty()) {
            frame = std::move(m_spare.back());
            m_spare.pop_back();
        }
        frame.header = m_headers.at(source);
        const QString file = m_files.at(source);
        lock.unlock();
        const bool ok = decode(file, frame, m_stop, &m_drop);
        lock.lock();
        m_states[size_t(d)] = ok ? Done : Failed;
        if (!ok) {
            keepSpare(frame);
            --m_held;
        }
        m_changed.notify_all();
    }
}

const DecodeScheduler::Frame *DecodeScheduler::frame(int operation)
{
    const int d = m_decodeOf.value(operation, -1);
    if (d < 0)
        return nullptr;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!stopping() && (m_states[size_t(d)] == Waiting || m_states[size_t(d)] == Running))
        m_changed.wait_for(lock, StopPoll);
    return m_states[size_t(d)] == Done ? &m_frames[size_t(d)] : nullptr;
}

bool DecodeScheduler::ready(int operation) const
{
    const int d = m_decodeOf.value(operation, -1);
    std::lock_guard<std::mutex> lock(m_mutex);
    return d < 0 || stopping() || (m_states[size_t(d)] != Waiting && m_states[size_t(d)] != Running);
}

void DecodeScheduler::release(int operation)
{
    const int d = m_decodeOf.value(operation, -1);
    if (d < 0 || m_decodes.at(d).lastUse != operation)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_states[size_t(d)] != Done)
        return;
    keepSpare(m_frames[size_t(d)]);
    m_states[size_t(d)] = Released;
    --m_held;
    m_changed.notify_all();
}

DecodeScheduler::Frame DecodeScheduler::take(int operation)
{
    const int d = m_decodeOf.value(operation, -1);
    Frame taken;
    if (d < 0 || m_decodes.at(d).lastUse != operation)
        return taken;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_states[size_t(d)] != Done)
        return taken;
    taken = std::move(m_frames[size_t(d)]);
    m_frames[size_t(d)].capacity = 0;
    m_states[size_t(d)] = Released;
    --m_held;
    m_changed.notify_all();
    return taken;
}

bool DecodeScheduler::finished() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_next >= m_decodes.size()
        && std::find(m_states.begin(), m_states.end(), Running) == m_states.end();
}

int DecodeScheduler::held() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_held;
}

int DecodeScheduler::mostHeld() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mostHeld;
}

// Called with the lock held. Memory that no later decode can use is freed.
void DecodeScheduler::keepSpare(Frame &frame)
{
    if (frame.samples && m_next < m_decodes.size())
        m_spare.push_back({JpegDecoder::Header(), std::move(frame.samples), frame.capacity});
    frame.samples.reset();
    frame.capacity = 0;
}

bool DecodeScheduler::decode(const QString &fileName, Frame &frame, const std::atomic_bool *stop,
                             const std::atomic_bool *drop)
{
    bool ok = false;
    try {
        const size_t bytes = size_t(frame.header.width) * size_t(frame.header.height)
            * size_t(frame.header.components);
        if (!frame.samples || frame.capacity < bytes) {
            frame.samples.reset();
            frame.capacity = 0;
            frame.samples.reset(new uchar[bytes]);
            frame.capacity = bytes;
        }
        ok = JpegDecoder::decode(fileName, frame.header, frame.samples.get(), stop, drop);
    } catch (const std::bad_alloc &) {
        // No room for the frame: the tools load it, within their own means.
    }
    ++decodesFinished;
    return ok;
}

int DecodeScheduler::decodeCount()
{
    return decodesFinished.load();
}
