#include "sourcefeed.h"

#include "image32.h"
#include "polynomialweight.h"
#include "sourceload.h"
#include "systemmemory.h"

namespace {

const qint64 MaxSampleCount = Q_INT64_C(0x7FFFFFFF);
// Frames folded in one pass at most: a sliding group's, or a whole image of a short one.
const size_t MaxPending = 8;
const int Darken = 1;

bool sameShape(const JpegDecoder::Header &a, const JpegDecoder::Header &b)
{
    return a.width == b.width && a.height == b.height && a.components == b.components;
}

} // namespace

SourceFeed::SourceFeed(const QStringList &sources, const QVector<Request> &requests, int stackMethod,
                       const Bounds &bounds, const std::atomic_bool *stop)
    : m_sources(sources),
      m_requests(requests),
      m_stackMethod(stackMethod),
      m_stop(stop),
      m_missingStart(stackMethod == Darken ? 65535 : -1)
{
    QVector<JpegDecoder::Header> headers(sources.size());
    QVector<bool> known(sources.size(), false);
    QVector<LoadQueue::Request> toolLoads;
    QVector<int> frameSources;
    qint64 slot = 0;
    for (const Request &request : requests) {
        const QString file = sources.value(request.source);
        const bool listed = request.source >= 0 && request.source < sources.size();
        if (listed && bounds.inProcess && !known.at(request.source)) {
            headers[request.source] = JpegDecoder::readHeader(file);
            known[request.source] = true;
        }
        if (listed && headers.at(request.source).plain) {
            m_frameIndex.append(frameSources.size());
            frameSources.append(request.source);
            slot = qMax(slot, frameBytes(headers.at(request.source)));
        } else {
            m_frameIndex.append(-1);
            toolLoads.append({file, options(request.weight)});
        }
    }
    // A frame starts a run only when the next frame would join it: a run of one costs a copy more.
    for (int k = 0; k + 1 < requests.size(); ++k) {
        const int a = requests.at(k).source;
        const int b = requests.at(k + 1).source;
        m_joinsNext.append(m_frameIndex.at(k) >= 0 && m_frameIndex.at(k + 1) >= 0
                           && requests.at(k).weight == requests.at(k + 1).weight
                           && sameShape(headers.at(a), headers.at(b)));
    }
    // Reserved, so that the tables the pending frames point to never move.
    m_pending.reserve(MaxPending);
    m_loads.reset(new LoadQueue(toolLoads, bounds.toolLoadsAhead, stop));
    if (frameSources.isEmpty())
        return;
    // About a quarter of the room keeps frames for later uses; as much again decodes ahead, enough
    // to keep every core busy while the worker holds a frame it has yet to fold and waits for the
    // next (with one frame fewer, a 48 MP job's last decode ran alone).
    const qint64 quarter = qMax<qint64>(0, bounds.room / 4) / qMax<qint64>(1, slot);
    const FramePlan plan(frameSources, int(qMin<qint64>(quarter, frameSources.size())));
    const int ahead = int(qBound<qint64>(1, quarter, bounds.threads + 2));
    m_frames.reset(new DecodeScheduler(sources, headers, plan, ahead, bounds.threads, stop));
    // A run's frame is one more beside those.
    m_runs = quarter > 0;
    m_firstFrameSource = frameSources.first();
}

SourceFeed::~SourceFeed() = default;

QString SourceFeed::options(double weight) const
{
    return PolynomialWeight(weight, m_stackMethod).arguments();
}

qint64 SourceFeed::frameBytes(const JpegDecoder::Header &header)
{
    return qint64(header.width) * header.height * header.components;
}

void SourceFeed::foldNext(Image32 &image, SampleFold::Operation operation)
{
    const int k = m_next++;
    const Request &request = m_requests.at(k);
    const int frameIndex = m_frameIndex.value(k, -1);
    if (frameIndex < 0) {
        flush(image);
        leaveStart(image);
        const std::unique_ptr<SourceLoad> load = m_loads->take();
        if (!load)
            throw Image32Exception(Image32Exception::ReadFailed, m_sources.value(request.source));
        load->foldInto(image, operation);
        return;
    }
    // Never wait for a frame while holding others: the frames held are bounded, and those pending
    // could be the ones the next decode waits for room from. A run holds none of them.
    if (m_pending.size() >= MaxPending || !m_frames->ready(frameIndex))
        foldPending(image);
    if (const DecodeScheduler::Frame *frame = m_frames->frame(frameIndex)) {
        ExtremeRun::Table table;
        const PolynomialWeight weight(request.weight, m_stackMethod);
        for (int v = 0; v < 256; ++v)
            table[size_t(v)] = weight.at(uchar(v));
        // The run and the pending frames are never both under way, so that the order holds.
        if (m_runs && (!m_run.empty() || m_joinsNext.value(k)) && ExtremeRun::suits(table, operation)
            && joinRun(image, frameIndex, *frame, table, operation))
            return;
        foldRun(image);
        m_pending.push_back({frameIndex, table});
        m_pendingFrames.push_back({frame->samples.get(), frame->header.width, frame->header.height,
                                   frame->header.components, m_pending.back().table.data(), operation});
        return;
    }
    flush(image);
    leaveStart(image);
    m_frames->release(frameIndex);
    // A frame that would not decode cleanly is the tools' to judge, at its own operation.
    SourceLoad load(m_sources.at(request.source), options(request.weight), m_stop);
    load.foldInto(image, operation);
}

// False when the frame cannot join a run for want of memory.
bool SourceFeed::joinRun(Image32 &image, int frameIndex, const DecodeScheduler::Frame &frame,
                         const ExtremeRun::Table &table, SampleFold::Operation operation)
{
    foldPending(image);
    if (!m_run.accepts(frame.header, table, operation))
        foldRun(image);
    // A frame at its last use starts the run with its own memory.
    const JpegDecoder::Header header = frame.header;
    DecodeScheduler::Frame taken;
    if (m_run.empty())
        taken = m_frames->take(frameIndex);
    if (m_run.adopt(taken.samples, taken.capacity, header, table, operation))
        return true;
    if (!m_run.take(frame.samples.get(), header, table, operation))
        return false;
    m_frames->release(frameIndex);
    return true;
}

void SourceFeed::flush(Image32 &image)
{
    foldPending(image);
    foldRun(image);
    fillStart(image);
}

void SourceFeed::startImage(Image32 &image, bool refill)
{
    if (refill && !m_atStart)
        image.fill(m_stackMethod == Darken ? 65535u : 0u);
    m_atStart = m_atStart || refill;
}

// Before anything folds into the image.
void SourceFeed::leaveStart(Image32 &image)
{
    fillStart(image);
    m_atStart = false;
}

void SourceFeed::fillStart(Image32 &image)
{
    if (m_missingStart >= 0)
        image.fill(unsigned(m_missingStart));
    m_missingStart = -1;
}

void SourceFeed::foldPending(Image32 &image)
{
    if (m_pending.empty())
        return;
    leaveStart(image);
    // Once no decode is left, the cores they used fold.
    SampleFold::foldFrames(image, m_pendingFrames.data(), int(m_pendingFrames.size()), m_frames->finished());
    for (const Pending &pending : m_pending)
        m_frames->release(pending.frameIndex);
    m_pending.clear();
    m_pendingFrames.clear();
}

void SourceFeed::foldRun(Image32 &image)
{
    if (m_run.empty())
        return;
    leaveStart(image);
    const SampleFold::Frame frame = m_run.frame();
    SampleFold::foldFrames(image, &frame, 1, m_frames->finished());
    // After the job's last operation, the 8-bit copy of the writer takes the run's pages.
    m_run.clear(m_next >= m_requests.size());
}

QImage SourceFeed::takeNarrowed(const Image32 &image)
{
    SampleFold::Frame run{};
    return runAlone(image, &run) ? m_run.narrowed(image.width, image.height, image.depth) : QImage();
}

bool SourceFeed::runAlone(const Image32 &image, SampleFold::Frame *run) const
{
    if (!m_atStart || !m_pending.empty() || m_run.empty() || image.channels != 3)
        return false;
    *run = m_run.frame();
    return run->width == image.width && run->height == image.height;
}

QStringList SourceFeed::identifyFirst(const QString &fileName, bool inProcess, const std::atomic_bool *stop,
                                      bool *decodeLater)
{
    *decodeLater = false;
    if (inProcess) {
        const JpegDecoder::Header header = JpegDecoder::readHeader(fileName);
        // A size the job refuses anyway is refused by the same fields, with nothing decoded; a frame
        // the memory could hardly hold beside the job's images is left to the tools.
        const qint64 samples = qint64(header.width) * header.height * 3;
        if (header.plain && samples > MaxSampleCount)
            return header.identifyFields;
        if (header.plain && frameBytes(header) * 8 < SystemMemory::available()) {
            *decodeLater = true;
            return header.identifyFields;
        }
    }
    return identifyImage(fileName, stop);
}

bool SourceFeed::firstDecoded()
{
    if (m_firstFrameSource == 0)
        return m_frames->frame(0) != nullptr;
    // A plan that starts elsewhere: the first source is decoded once more, here, to be judged.
    DecodeScheduler::Frame frame;
    frame.header = JpegDecoder::readHeader(m_sources.value(0));
    return frame.header.plain && DecodeScheduler::decode(m_sources.value(0), frame, m_stop);
}
