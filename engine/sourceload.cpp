#include "sourceload.h"

#include "image32.h"
#include "image32detail.h"
#include "toolinput.h"
#include "toolprocess.h"
#include "toolrunner.h"
#include "toolwarnings.h"

#include <QFileInfo>

namespace {

// The read tool always streams three channels of 16 bits.
const int ReadDepth = 16;
const qint64 MaxSampleCount = Q_INT64_C(0x7FFFFFFF);

} // namespace

SourceLoad::SourceLoad(const QString &fileName, const QString &options, const std::atomic_bool *stop)
    : m_fileName(fileName), m_options(options), m_stop(stop)
{
    m_thread = std::thread([this] { prepare(); });
}

SourceLoad::~SourceLoad()
{
    drop();
    if (m_thread.joinable())
        m_thread.join();
    // The runner's destructor ends a read tool that was started and never read.
}

void SourceLoad::drop()
{
    m_drop.store(true);
}

// In the load's own thread. The fields it sets are read by the worker only after joining it.
void SourceLoad::prepare()
{
    const QStringList fields = identifyImage(m_fileName, m_stop, &m_drop);
    if (fields.size() != 4)
        return;
    m_width = fields.at(0).toInt();
    m_height = fields.at(1).toInt();
    if (m_width <= 0 || m_height <= 0 || qint64(m_width) * m_height * 3 > MaxSampleCount)
        return;
    m_identified = true;
    // A QProcess serves only the thread that made it; elsewhere the worker starts the read itself.
    if (ToolProcess::startsForAnyThread())
        startRead();
}

bool SourceLoad::startRead()
{
    // Checked again right before the read: the file may have gone since it was identified.
    if (!QFileInfo(m_fileName).isFile())
        return false;
    m_input.reset(new ToolInput(m_fileName));
    if (m_input->path().isEmpty())
        return false;
    m_runner.reset(
        new ToolRunner(ToolRunner::forTool(QStringLiteral("convert"),
                                           image32detail::readArguments(m_input->path(), ReadDepth, m_options,
                                                                        QStringLiteral("rgb")))));
    m_runner->setInterrupt(m_stop, &m_drop);
    return m_runner->start();
}

void SourceLoad::foldInto(Image32 &image, SampleFold::Operation operation)
{
    m_thread.join();
    if (m_identified && !m_runner)
        startRead();
    if (!m_runner || !m_runner->started() || image.channels != 3)
        throw Image32Exception(Image32Exception::ReadFailed, m_fileName);
    SampleFold fold(image, m_width, m_height, operation);
    m_runner->setOutputSink([&fold](const char *data, qint64 size) {
        fold.take(data, size);
        return true;
    });
    const bool complete = m_runner->finish() && fold.complete();
    if (!complete || reportsDamage(m_runner->errorOutput()))
        throw Image32Exception(Image32Exception::ReadFailed, m_fileName);
}
