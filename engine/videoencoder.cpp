#include "videoencoder.h"

#include "atomicfilewriter.h"
#include "toolrunner.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

// Frames queued beside the one being written: enough that a save seldom waits for the encoder,
// few enough that a slow encoder holds back only a couple of 8-bit copies.
const size_t QueuedFrames = 2;
// What QProcess may hold of a frame before the writer waits for ffmpeg to read it.
const qint64 PendingBytes = 4 << 20;
const int StartWait = 30000;
const int Poll = 50;

int evenAtMost(double value)
{
    const int rounded = qRound(value);
    return qMax(2, rounded - rounded % 2);
}

} // namespace

struct VideoEncoder::Shared
{
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QImage> frames;
    bool closing = false; // no more frames: end the film
    bool started = false;
    bool ended = false;
    bool succeeded = false;
    std::atomic_bool discarding{false};
};

VideoEncoder::VideoEncoder(const QString &fileName, int framesPerSecond, const QSize &bound,
                           const std::atomic_bool *interrupt)
    : m_fileName(fileName)
    , m_framesPerSecond(framesPerSecond)
    , m_bound(bound)
    , m_interrupt(interrupt)
    , m_shared(std::make_shared<Shared>())
{
}

VideoEncoder::~VideoEncoder()
{
    discard();
}

QString VideoEncoder::program()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("ffmpeg.exe");
    const QChar separator = QLatin1Char(';');
#else
    const QString name = QStringLiteral("ffmpeg");
    const QChar separator = QLatin1Char(':');
#endif
    auto isProgram = [](const QFileInfo &info) { return info.isFile() && info.isExecutable(); };
    const QFileInfo local(QDir(ToolRunner::toolsFolder()).absoluteFilePath(name));
    if (isProgram(local))
        return QDir::toNativeSeparators(local.absoluteFilePath());
    // As for the image tools, a relative entry of the path would find whatever the current folder holds.
    for (const QString &entry : qEnvironmentVariable("PATH").split(separator, Qt::SkipEmptyParts)) {
        const QFileInfo found(QDir(entry).filePath(name));
        if (!QDir::isRelativePath(entry) && isProgram(found))
            return QDir::toNativeSeparators(found.filePath());
    }
    return QString();
}

QSize VideoEncoder::fittedSize(const QSize &imageSize, const QSize &bound)
{
    if (imageSize.isEmpty())
        return QSize();
    double scale = 1.0;
    if (!bound.isEmpty())
        scale = qMin(1.0,
                     qMin(double(bound.width()) / imageSize.width(),
                          double(bound.height()) / imageSize.height()));
    return QSize(evenAtMost(imageSize.width() * scale), evenAtMost(imageSize.height() * scale));
}

QString VideoEncoder::filmPath(const QString &folder, const QString &patternWithoutNumbers)
{
    const int dot = patternWithoutNumbers.lastIndexOf(QLatin1Char('.'));
    QString base = dot >= 0 ? patternWithoutNumbers.left(dot) : patternWithoutNumbers;
    // A pattern of numbers only would otherwise give the hidden name ".mp4".
    if (base.isEmpty())
        base = QStringLiteral("video");
    return QStringLiteral("%1/%2").arg(folder, base + QStringLiteral(".mp4"));
}

QStringList VideoEncoder::arguments(const QSize &imageSize, const QString &outputFile) const
{
    const QSize film = fittedSize(imageSize, m_bound);
    // Converted with the BT.709 matrix into limited-range 4:2:0 and tagged so: players guess the
    // colours of untagged HD video wrong. The index goes to the front so that playback can start
    // while the file loads.
    const QString filter =
        QStringLiteral("scale=%1:%2:flags=lanczos+accurate_rnd+full_chroma_int:out_color_matrix=bt709"
                       ":out_range=tv,setsar=1,format=yuv420p")
            .arg(film.width())
            .arg(film.height());
    return {QStringLiteral("-hide_banner"), QStringLiteral("-nostats"), QStringLiteral("-loglevel"),
            QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("rawvideo"),
            QStringLiteral("-pixel_format"), QStringLiteral("rgb24"), QStringLiteral("-video_size"),
            QStringLiteral("%1x%2").arg(imageSize.width()).arg(imageSize.height()),
            QStringLiteral("-framerate"), QString::number(m_framesPerSecond), QStringLiteral("-i"),
            QStringLiteral("pipe:0"), QStringLiteral("-vf"), filter, QStringLiteral("-c:v"),
            QStringLiteral("libx264"), QStringLiteral("-crf"), QStringLiteral("18"),
            QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-colorspace"),
            QStringLiteral("bt709"), QStringLiteral("-color_primaries"), QStringLiteral("bt709"),
            QStringLiteral("-color_trc"), QStringLiteral("bt709"), QStringLiteral("-color_range"),
            QStringLiteral("tv"), QStringLiteral("-movflags"), QStringLiteral("+faststart"),
            QStringLiteral("-f"), QStringLiteral("mp4"), QStringLiteral("-y"),
            // "file:" keeps any character of the name from being read as a protocol.
            QStringLiteral("file:") + outputFile};
}

bool VideoEncoder::start(const QSize &imageSize)
{
    m_program = program();
    m_imageSize = imageSize;
    if (m_program.isEmpty() || imageSize.isEmpty() || m_framesPerSecond < 1)
        return false;
    m_output.reset(new AtomicFileWriter(m_fileName, QStringLiteral("mp4")));
    if (!m_output->open())
        return false;
    m_output->closeForTool();
    const QStringList args = arguments(imageSize, m_output->temporaryFileName());
    // A QThread rather than a plain thread: QProcess needs the event dispatcher QThread gives it.
    m_feeder.reset(QThread::create([this, args] { feed(args); }));
    m_feeder->start();
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    while (!m_shared->started && !m_shared->ended) {
        if (interrupted())
            return false;
        m_shared->changed.wait_for(lock, std::chrono::milliseconds(Poll));
    }
    return m_shared->started && !m_shared->ended;
}

bool VideoEncoder::addFrame(const QImage &frame)
{
    if (!m_feeder || frame.size() != m_imageSize || frame.format() != QImage::Format_RGB888)
        return false;
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    while (m_shared->frames.size() >= QueuedFrames && !m_shared->ended) {
        if (interrupted())
            return false;
        m_shared->changed.wait_for(lock, std::chrono::milliseconds(Poll));
    }
    if (m_shared->ended)
        return false;
    m_shared->frames.push_back(frame);
    m_shared->changed.notify_all();
    ++m_frames;
    return true;
}

bool VideoEncoder::finish()
{
    if (!m_feeder)
        return false;
    // A run cancelled before its first image has no film to make.
    if (m_frames == 0) {
        discard();
        return true;
    }
    {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        m_shared->closing = true;
        m_shared->changed.notify_all();
        while (!m_shared->ended) {
            if (interrupted()) {
                lock.unlock();
                discard();
                return false;
            }
            m_shared->changed.wait_for(lock, std::chrono::milliseconds(Poll));
        }
    }
    m_feeder->wait();
    m_feeder.reset();
    const bool ok =
        m_shared->succeeded && QFileInfo(m_output->temporaryFileName()).size() > 0 && m_output->commit();
    m_output.reset();
    return ok;
}

void VideoEncoder::discard()
{
    if (m_feeder) {
        m_shared->discarding.store(true);
        {
            std::lock_guard<std::mutex> lock(m_shared->mutex);
            m_shared->changed.notify_all();
        }
        m_feeder->wait();
        m_feeder.reset();
    }
    if (m_output)
        m_output->cancel();
    m_output.reset();
}

namespace {

// Hands one frame to ffmpeg row by row, waiting whenever QProcess holds more than PendingBytes.
bool writeFrame(QProcess &process, const QImage &frame, const std::atomic_bool &discarding)
{
    const qint64 rowBytes = qint64(frame.width()) * 3;
    for (int y = 0; y < frame.height(); ++y) {
        if (process.write(reinterpret_cast<const char *>(frame.constScanLine(y)), rowBytes) != rowBytes)
            return false;
        while (process.bytesToWrite() > PendingBytes) {
            if (discarding.load())
                return false;
            if (!process.waitForBytesWritten(Poll) && process.state() != QProcess::Running)
                return false;
        }
    }
    return true;
}

} // namespace

void VideoEncoder::feed(const QStringList &arguments)
{
    Shared &shared = *m_shared;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    // ffmpeg's own message (a full disk, a codec missing) reaches the terminal, if any.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(m_program, arguments);
    const bool running = process.waitForStarted(StartWait);
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.started = running;
        shared.ended = !running;
        shared.changed.notify_all();
    }
    bool ok = running;
    while (ok) {
        QImage frame;
        {
            std::unique_lock<std::mutex> lock(shared.mutex);
            shared.changed.wait(lock, [&] {
                return !shared.frames.empty() || shared.closing || shared.discarding.load();
            });
            if (shared.discarding.load() || shared.frames.empty())
                break;
            frame = shared.frames.front();
            shared.frames.pop_front();
            shared.changed.notify_all();
        }
        ok = writeFrame(process, frame, shared.discarding);
    }
    if (ok && !shared.discarding.load()) {
        process.closeWriteChannel();
        while (!process.waitForFinished(Poll) && process.state() != QProcess::NotRunning) {
            if (shared.discarding.load())
                break;
        }
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(-1);
    }
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.succeeded = ok && !shared.discarding.load() && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    shared.frames.clear();
    shared.ended = true;
    shared.changed.notify_all();
}
