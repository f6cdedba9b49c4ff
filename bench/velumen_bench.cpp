// Measures the stacking engine on realistic frames. Not a test: it asserts nothing, it prints figures.
//
//   velumen_bench load [N] [files...]
//       Loads N frames (default 5) through the image tools at pixel depth 48 and combines them
//       (lighten, then add for a mean). Without files, N frames of about 20 megapixels are generated
//       as JPEG in a temporary folder first. Prints seconds per load and per combine, and peak memory.
//
//   velumen_bench job [N] [files...]
//       Runs whole jobs through the execute thread over N frames (default 6, generated as above):
//       "All images" and "All previous images" under "Lighten only", and "All previous images" under
//       "Mean", written as JPEG. Prints seconds per operation and per destination image and the
//       peak memory of each job, then times ImageMagick's own "-evaluate-sequence max" on the frames.

#include "executethread.h"
#include "image32.h"
#include "stackplan.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Peak resident memory of this process in MiB (Linux), or -1.
double peakMemoryMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// Starts the peak count afresh at the current size (Linux), so that frame generation does not count.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Peak resident memory of the largest finished child process (the image tool) in MiB, or -1.
double toolPeakMemoryMiB()
{
#ifdef Q_OS_UNIX
    struct rusage usage;
    if (getrusage(RUSAGE_CHILDREN, &usage) == 0)
        return double(usage.ru_maxrss) / 1024.0;
#endif
    return -1;
}

// Writes N JPEG frames of 5472 x 3648 (20 MP) with some structure and noise, so decoding is real work.
QStringList generateFrames(const QString &folder, int count)
{
    QStringList files;
    const int width = 5472, height = 3648;
    QImage image(width, height, QImage::Format_RGB888);
    quint32 seed = 12345;
    for (int f = 0; f < count; ++f) {
        for (int y = 0; y < height; ++y) {
            uchar *row = image.scanLine(y);
            for (int x = 0; x < width; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int noise = int(seed >> 28);
                row[3 * x] = uchar((x / 8 + f * 20 + noise) & 0xFF);
                row[3 * x + 1] = uchar((y / 8 + noise) & 0xFF);
                row[3 * x + 2] = uchar(((x + y) / 16 + f * 7) & 0xFF);
            }
        }
        const QString file = QDir(folder).filePath(QStringLiteral("frame%1.jpg").arg(f, 3, 10, QLatin1Char('0')));
        if (!image.save(file, "JPG", 92)) {
            out() << "cannot write " << file << Qt::endl;
            return QStringList();
        }
        files << file;
    }
    return files;
}

// The frames named on the command line, or N generated ones in folder.
QStringList benchFrames(const QStringList &arguments, int count, const QTemporaryDir &folder)
{
    QStringList files;
    for (const QString &argument : arguments) {
        bool isNumber = false;
        const int n = argument.toInt(&isNumber);
        if (isNumber && files.isEmpty() && n > 0)
            count = n;
        else
            files << argument;
    }
    if (!files.isEmpty())
        return files;
    if (!folder.isValid()) {
        out() << "no temporary folder" << Qt::endl;
        return files;
    }
    out() << "generating " << count << " frames of 5472 x 3648 in " << folder.path() << Qt::endl;
    QElapsedTimer timer;
    timer.start();
    files = generateFrames(folder.path(), count);
    out() << "generated in " << timer.elapsed() / 1000.0 << " s" << Qt::endl;
    return files;
}

int runLoad(const QStringList &arguments)
{
    QTemporaryDir folder;
    const QStringList files = benchFrames(arguments, 5, folder);
    if (files.isEmpty())
        return 1;
    resetPeakMemory();
    const double baseline = peakMemoryMiB();

    try {
        QElapsedTimer timer;
        double loadSeconds = 0, lightenSeconds = 0, addSeconds = 0;
        double onePeak = 0, sampleMiB = 0;
        std::unique_ptr<Image32> lightest, sum;
        for (int i = 0; i < files.size(); ++i) {
            timer.start();
            Image32 frame(files.at(i), QStringLiteral("-function Polynomial 1.0,0.0"), 48);
            loadSeconds += timer.nsecsElapsed() / 1e9;
            if (i == 0) {
                // Peak of one load before any other image exists: the samples plus the stream buffer.
                onePeak = peakMemoryMiB();
                sampleMiB = frame.sampleCount * 4.0 / (1024 * 1024);
                out() << "frame size " << frame.width << " x " << frame.height << ", samples "
                      << sampleMiB << " MiB per image" << Qt::endl;
                lightest.reset(new Image32(frame.width, frame.height, 48));
                sum.reset(new Image32(frame.width, frame.height, 48));
            }
            timer.start();
            lightest->lighten(frame);
            lightenSeconds += timer.nsecsElapsed() / 1e9;
            timer.start();
            sum->add(frame);
            addSeconds += timer.nsecsElapsed() / 1e9;
        }
        timer.start();
        sum->divide(double(files.size()));
        const double divideSeconds = timer.nsecsElapsed() / 1e9;

        const int n = files.size();
        out() << "frames                 " << n << Qt::endl;
        out() << "seconds per load       " << loadSeconds / n << Qt::endl;
        out() << "seconds per lighten    " << lightenSeconds / n << Qt::endl;
        out() << "seconds per add        " << addSeconds / n << Qt::endl;
        out() << "seconds per divide     " << divideSeconds << Qt::endl;
        out() << "peak memory before     " << baseline << " MiB" << Qt::endl;
        out() << "peak memory, one load  " << onePeak << " MiB (samples " << sampleMiB
              << " MiB, rest " << onePeak - baseline - sampleMiB << " MiB)" << Qt::endl;
        out() << "peak memory, whole run " << peakMemoryMiB() << " MiB (three images held: "
              << 3 * sampleMiB << " MiB)" << Qt::endl;
        out() << "tool peak memory       " << toolPeakMemoryMiB() << " MiB" << Qt::endl;
    } catch (const Image32Exception &e) {
        out() << "failed: type " << e.type << " file " << e.filename << Qt::endl;
        return 1;
    }
    return 0;
}


// One job through the execute thread, timed, with its peak memory.
bool runOneJob(const QString &title, const QStringList &files, const QString &outputFolder, int condition,
               int stackMethod)
{
    StackSettings settings;
    settings.sourceCount = files.size();
    settings.condition = condition;
    const StackPlan plan = buildStackPlan(settings);
    QStringList destinations;
    for (int i = 0; i < plan.size(); ++i)
        destinations << QDir(outputFolder).filePath(QStringLiteral("out%1.jpg").arg(i, 4, 10, QLatin1Char('0')));

    ExecuteThread thread;
    int operations = 0;
    bool completed = false;
    QString failure;
    // Direct connections: the figures are read only after the thread has finished.
    QObject::connect(&thread, &ExecuteThread::operationStarted, [&] { ++operations; });
    QObject::connect(&thread, &ExecuteThread::completed, [&] { completed = true; });
    QObject::connect(&thread, &ExecuteThread::aborted, [&](bool open, const QString &file) {
        failure = (open ? QStringLiteral("cannot load ") : QStringLiteral("cannot write ")) + file;
    });
    thread.setSourceImages(files);
    thread.setDestinationImages(destinations);
    thread.setStackPlan(plan);
    thread.setStackMethod(stackMethod);
    thread.setFormat(0);
    thread.setCompression(92);

    resetPeakMemory();
    const double baseline = peakMemoryMiB();
    QElapsedTimer timer;
    timer.start();
    thread.start();
    thread.wait();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double peak = peakMemoryMiB();

    out() << title << Qt::endl;
    if (!completed) {
        out() << "  failed: " << failure << Qt::endl;
        return false;
    }
    out() << "  destination images     " << destinations.size() << ", operations " << operations << Qt::endl;
    out() << "  seconds in all         " << seconds << Qt::endl;
    out() << "  seconds per operation  " << seconds / qMax(1, operations) << " (writing included)" << Qt::endl;
    out() << "  seconds per image      " << seconds / qMax(1, destinations.size()) << Qt::endl;
    out() << "  peak memory            " << peak << " MiB (" << peak - baseline << " MiB above the "
          << baseline << " MiB before the job)" << Qt::endl;
    return true;
}

int runJob(const QStringList &arguments)
{
    QTemporaryDir frameFolder;
    const QStringList files = benchFrames(arguments, 6, frameFolder);
    if (files.isEmpty())
        return 1;
    QTemporaryDir outputFolder;
    if (!outputFolder.isValid()) {
        out() << "no temporary folder" << Qt::endl;
        return 1;
    }
    const QStringList identify = identifyImage(files.first());
    if (identify.size() >= 2) {
        const double imageMiB = identify.at(0).toDouble() * identify.at(1).toDouble() * 3 * 4 / (1024 * 1024);
        out() << "frames " << files.size() << " of " << identify.at(0) << " x " << identify.at(1)
              << ", one full-size image " << imageMiB << " MiB, two " << 2 * imageMiB << " MiB" << Qt::endl;
    }

    bool ok = runOneJob(QStringLiteral("All images, Lighten only"), files, outputFolder.path(), 0, 0);
    ok = runOneJob(QStringLiteral("All previous images, Lighten only"), files, outputFolder.path(), 1, 0) && ok;
    ok = runOneJob(QStringLiteral("All previous images, Mean"), files, outputFolder.path(), 1, 2) && ok;

    out() << "largest tool process during the jobs " << toolPeakMemoryMiB() << " MiB" << Qt::endl;

    // ImageMagick alone, on the same frames.
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(convert, QStringList(files) << QStringLiteral("-evaluate-sequence") << QStringLiteral("max")
                                              << QDir(outputFolder.path()).filePath(QStringLiteral("max.jpg")));
    const bool finished = process.waitForFinished(-1);
    out() << "convert frames -evaluate-sequence max out.jpg" << Qt::endl;
    out() << "  seconds in all         " << timer.nsecsElapsed() / 1e9
          << (finished && process.exitCode() == 0 ? "" : " (failed)") << Qt::endl;
    const QByteArray errors = process.readAllStandardError().trimmed();
    if (!errors.isEmpty())
        out() << "  tool error output      " << errors.left(300) << Qt::endl;
    out() << "  largest tool process   " << toolPeakMemoryMiB() << " MiB (this one, if above the figure before)"
          << Qt::endl;
    return ok ? 0 : 1;
}

struct Mode
{
    const char *name;
    std::function<int(const QStringList &)> run;
    const char *usage;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QList<Mode> modes{
        {"load", runLoad, "load [N] [files...]   load and combine N frames (generated 20 MP JPEGs or the files)"},
        {"job", runJob, "job [N] [files...]    whole jobs through the execute thread, then convert -evaluate-sequence"},
    };
    const QStringList arguments = app.arguments();
    for (const Mode &mode : modes) {
        if (arguments.value(1) == QLatin1String(mode.name))
            return mode.run(arguments.mid(2));
    }
    out() << "usage:" << Qt::endl;
    for (const Mode &mode : modes)
        out() << "  velumen_bench " << mode.usage << Qt::endl;
    return 2;
}
