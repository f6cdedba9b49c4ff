#ifndef VELUMEN_VIDEOENCODER_H
#define VELUMEN_VIDEOENCODER_H

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class AtomicFileWriter;
class QThread;

// Makes an H.264 film in an MP4 file of the destination images while they are written: each frame
// goes to ffmpeg's standard input as raw 8-bit RGB, from a thread of the encoder's own, so that the
// encoding overlaps the stacking. The film is written under a temporary name beside the destination
// and takes its name only in finish(); discard(), the destructor and any failure leave no file and
// no process behind.
class VideoEncoder
{
public:
    // The largest film fitted within a bound of 3840 x 2160 (4K UHD) plays on phones and browsers.
    static QSize defaultBound() { return QSize(3840, 2160); }

    // interrupt, when given and set, ends waits for the encoder (a stop of the run).
    VideoEncoder(const QString &fileName, int framesPerSecond, const QSize &bound,
                 const std::atomic_bool *interrupt = nullptr);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder &) = delete;
    VideoEncoder &operator=(const VideoEncoder &) = delete;

    // ffmpeg from the tools folder, else from the search path; empty when there is none.
    static QString program();
    // The film's size for images of imageSize: reduced, never enlarged, to fit within bound keeping
    // the aspect, each side rounded down to an even number as H.264 in 4:2:0 needs. An empty bound
    // keeps the images' own size.
    static QSize fittedSize(const QSize &imageSize, const QSize &bound);
    // The window's name for the film: the name pattern without its runs of '*' and with the
    // extension mp4, in the folder ("output****.jpg" gives folder/output.mp4).
    static QString filmPath(const QString &folder, const QString &patternWithoutNumbers);
    // The ffmpeg arguments for frames of imageSize, written into outputFile.
    QStringList arguments(const QSize &imageSize, const QString &outputFile) const;

    // Creates the temporary file and starts ffmpeg for frames of imageSize. False when either fails.
    bool start(const QSize &imageSize);
    // Queues one frame (RGB888, the size given to start); waits while two are queued already.
    // False once the encoder has failed or the wait was interrupted.
    bool addFrame(const QImage &frame);
    // Ends the input, waits for ffmpeg and gives the film its name. False on any failure, after
    // which nothing is left. Without any frame there is no film, and no failure.
    bool finish();
    // Ends ffmpeg at once and removes the temporary file.
    void discard();

    QString fileName() const { return m_fileName; }

private:
    struct Shared;
    void feed(const QStringList &arguments);
    bool interrupted() const { return m_interrupt && m_interrupt->load(); }

    QString m_fileName;
    int m_framesPerSecond;
    QSize m_bound;
    QSize m_imageSize;
    int m_frames = 0;
    const std::atomic_bool *m_interrupt;
    QString m_program;
    std::unique_ptr<AtomicFileWriter> m_output;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QThread> m_feeder;
};

#endif
