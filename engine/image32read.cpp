// Reading an image through the tools: identify sizes it, convert streams its samples.
#include "image32.h"

#include "image32detail.h"
#include "samplefold.h"
#include "toolinput.h"
#include "toolrunner.h"
#include "toolwarnings.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdlib>

using image32detail::applyPixelDepth;
using image32detail::splitOptions;

namespace {

const qint64 IdentifyOutputLimit = 64 * 1024;

} // namespace

QStringList identifyImage(const QString &fileName, const std::atomic_bool *interrupt,
                          const std::atomic_bool *second)
{
    // A name that is not an existing file would be read by the tool as a pattern or a frame list.
    if (!QFileInfo(fileName).isFile())
        return QStringList();

    const ToolInput input(fileName);
    if (input.path().isEmpty())
        return QStringList();
    QByteArray output;
    ToolRunner runner = ToolRunner::forTool(QStringLiteral("identify"),
        {QStringLiteral("-format"), QStringLiteral("%w::%h::%z::%[channels]"), input.path()});
    runner.setInterrupt(interrupt, second);
    runner.setOutputSink([&output](const char *data, qint64 size) {
        if (output.size() + size > IdentifyOutputLimit)
            return false;
        output.append(data, int(size));
        return true;
    });
    // A damaged file is refused here, before anything is made for its claimed size.
    if (!runner.run() || reportsDamage(runner.errorOutput()))
        return QStringList();
    return QString::fromUtf8(output).trimmed().split(QStringLiteral("::"));
}

Image32::Image32(const QString &fileName, const QString &options, int pixelDepth,
                 const std::atomic_bool *interrupt)
{
    const QStringList fields = identifyImage(fileName, interrupt);
    if (fields.size() != 4)
        throw Image32Exception(Image32Exception::ReadFailed, fileName);
    width = fields.at(0).toInt();
    height = fields.at(1).toInt();
    if (pixelDepth == -1) {
        // The samples come as 8 or 16 bits; a file of fewer or more bits per sample is scaled by the tool.
        const int fileDepth = fields.at(2).toInt();
        if (fileDepth <= 0)
            throw Image32Exception(Image32Exception::ReadFailed, fileName);
        depth = fileDepth <= 8 ? 8 : 16;
        channels = fields.at(3) == QLatin1String("gray") ? 1 : 3;
    } else {
        applyPixelDepth(pixelDepth, depth, channels);
    }
    allocate(fileName, false);

    try {
        readSamples(fileName, options, interrupt);
    } catch (...) {
        std::free(samples);
        samples = nullptr;
        throw;
    }
}

QStringList image32detail::readArguments(const QString &toolPath, int depth, const QString &options,
                                         const QString &channelMap)
{
    QStringList arguments{toolPath, QStringLiteral("-depth"), QString::number(depth)};
    arguments << splitOptions(options);
    // The stream is taken low byte first whatever the tool's own habit.
    arguments << QStringLiteral("-endian") << QStringLiteral("LSB") << channelMap + QStringLiteral(":-");
    return arguments;
}

void Image32::readSamples(const QString &fileName, const QString &options, const std::atomic_bool *interrupt)
{
    // Checked again right before the read: the file may have gone since it was identified.
    if (!QFileInfo(fileName).isFile() || channelMap.isEmpty())
        throw Image32Exception(Image32Exception::ReadFailed, fileName);

    const ToolInput input(fileName);
    if (input.path().isEmpty())
        throw Image32Exception(Image32Exception::ReadFailed, fileName);
    ToolRunner runner =
        ToolRunner::forTool(QStringLiteral("convert"),
                            image32detail::readArguments(input.path(), depth, options, channelMap));
    runner.setInterrupt(interrupt);

    // The stream goes straight into the samples, piece by piece.
    bool complete = false;
    if (depth == 16) {
        SampleFold fold(*this, width, height, SampleFold::Store);
        runner.setOutputSink([&fold](const char *data, qint64 size) {
            fold.take(data, size);
            return true;
        });
        complete = runner.run() && fold.complete();
    } else {
        qint32 filled = 0;
        runner.setOutputSink([&](const char *data, qint64 size) {
            const qint64 n = std::min<qint64>(size, sampleCount - filled);
            std::copy(reinterpret_cast<const uchar *>(data), reinterpret_cast<const uchar *>(data) + n,
                      samples + filled);
            filled += qint32(n);
            return true;
        });
        complete = runner.run() && filled == sampleCount;
    }
    if (!complete || reportsDamage(runner.errorOutput()))
        throw Image32Exception(Image32Exception::ReadFailed, fileName);
}
