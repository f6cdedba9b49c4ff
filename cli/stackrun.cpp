#include "stackrun.h"

#include "console.h"
#include "executethread.h"
#include "interruptwatch.h"
#include "jobpreflight.h"
#include "planreport.h"
#include "progressline.h"
#include "sourcemetadata.h"

#include <QFileInfo>
#include <QTimer>

namespace {

// Long loads still move the elapsed time and the estimate on.
const int RedrawInterval = 1000;

} // namespace

StackRun::StackRun(const StackJob &job, const QString &outputFolder, bool quiet, QObject *parent)
    : QObject(parent)
    , m_job(job)
    , m_outputFolder(outputFolder)
    , m_quiet(quiet)
    , m_thread(new ExecuteThread(this))
    , m_ticker(new QTimer(this))
{
    connect(m_thread, &ExecuteThread::operationStarted, this, &StackRun::operationStarted);
    connect(m_thread, &ExecuteThread::completed, this, &StackRun::completed);
    connect(m_thread, &ExecuteThread::aborted, this, &StackRun::aborted);
    connect(m_thread, &QThread::finished, this, &StackRun::threadFinished);
}

StackRun::~StackRun() = default;

bool StackRun::preflight()
{
    for (const QString &source : qAsConst(m_job.sourceImages)) {
        const QFileInfo info(source);
        if (!info.isFile() || !info.isReadable()) {
            Console::error(QStringLiteral("cannot read source image %1").arg(source));
            return false;
        }
    }
    const QString folder = JobPreflight::unwritableFolder(m_job);
    if (!folder.isEmpty()) {
        Console::error(QStringLiteral("destination folder %1 is missing or not writable").arg(folder));
        return false;
    }
    const QString source = JobPreflight::destinationAmongSources(m_job);
    if (!source.isEmpty()) {
        Console::error(
            QStringLiteral("destination %1 is one of the source images; nothing was written").arg(source));
        return false;
    }
    const QString video = JobPreflight::irreplaceableVideo(m_job);
    if (!video.isEmpty()) {
        Console::error(QStringLiteral("video file %1 is write-protected; nothing was written").arg(video));
        return false;
    }
    return true;
}

void StackRun::start()
{
    // The destinations carry the first source's profile only; said once, before the progress line.
    const QString differing = SourceMetadata::firstDifferentProfile(m_job.sourceImages);
    if (!differing.isEmpty())
        Console::error(QStringLiteral("warning: %1 has another colour profile than %2; every destination "
                                      "image has the profile of %2")
                           .arg(differing, m_job.sourceImages.first()));
    m_interruptWatch = new InterruptWatch(this);
    connect(m_interruptWatch, &InterruptWatch::interrupted, this, &StackRun::interrupt);
    if (!m_quiet && Console::errorIsTerminal()) {
        int totalLoads = 0;
        for (int loads : PlanReport::loads(m_job))
            totalLoads += loads;
        m_progress = std::make_unique<ProgressLine>(totalLoads);
        connect(m_ticker, &QTimer::timeout, this, [this] { m_progress->redraw(); });
        m_ticker->start(RedrawInterval);
    }
    m_thread->setJob(m_job);
    m_thread->start();
}

void StackRun::operationStarted(int currentImage, int totalImages, int currentOperation, int totalOperations)
{
    m_currentImage = currentImage;
    m_started = true;
    if (m_progress)
        m_progress->operationStarted(currentImage, totalImages, currentOperation, totalOperations);
}

void StackRun::completed()
{
    m_completed = true;
    m_written = m_job.destinationImages.size();
}

void StackRun::aborted(bool open, const QString &filename)
{
    // A load fails inside an operation of the image last reported. A write fails for that image or
    // for a later one that needed no load: the first from there on with this path.
    m_written = m_currentImage;
    if (open) {
        m_failure = QStringLiteral("cannot read source image %1").arg(filename);
    } else if (!m_job.videoFile.isEmpty() && filename == m_job.videoFile) {
        // The film fails as it starts, or after the image reported last has been written.
        m_written = m_started ? m_currentImage + 1 : 0;
        m_failure = QStringLiteral("cannot write the video file %1").arg(filename);
    } else {
        const int index = m_job.destinationImages.indexOf(filename, m_currentImage);
        m_written = qMax(m_currentImage, index);
        m_failure = QStringLiteral("cannot write destination image %1").arg(filename);
    }
}

void StackRun::interrupt()
{
    // Ends the tool run in progress too; the run writes nothing more.
    m_thread->stop();
}

void StackRun::threadFinished()
{
    m_ticker->stop();
    if (m_progress)
        m_progress->clear();
    int status = Written;
    // A Ctrl+C on the terminal also reaches the tool, whose failed load may come first.
    if (InterruptWatch::received()) {
        status = Interrupted;
        if (!m_completed)
            m_written = m_currentImage;
        Console::error(QStringLiteral("interrupted"));
    } else if (!m_completed) {
        status = Failed;
        Console::error(m_failure.isEmpty() ? QStringLiteral("the run ended early") : m_failure);
    }
    if (!m_quiet)
        Console::out(QStringLiteral("%1 written to %2")
                         .arg(PlanReport::counted(m_written, QStringLiteral("image")), m_outputFolder));
    emit finished(status);
}
