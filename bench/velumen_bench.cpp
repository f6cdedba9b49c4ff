// Measures the stacking engine on realistic frames. Not a test: it asserts nothing, it prints figures.
//
//   velumen_bench load [N] [files...]
//       Loads N frames (default 5) through the image tools at pixel depth 48 and combines them
//       (lighten, then add for a mean). Without files, N frames of about 18 megapixels are generated
//       as JPEG in a temporary folder first. Prints seconds per load and per combine, and peak memory.
//
//   velumen_bench job [N] [files...]
//       Runs whole jobs through the execute thread over N frames (default 8, generated as above):
//       "All images" and "All previous images" under "Lighten only", written as JPEG. Each job is
//       taken in turns with djpeg decoding the same frames one after another (VELUMEN_BENCH_ROUNDS
//       rounds, default 3); prints the medians, their ratio, the peak memory of this process and of
//       its whole process tree (the tools included), and the load average.
//
//   velumen_bench outputs FOLDER
//       Writes the files of a fixed set of small jobs, to compare the output of two builds byte for byte.
//
//   velumen_bench targets [FOLDER]
//       The target jobs over star-like frames ImageMagick generates (kept in FOLDER when given, for
//       a later run): "All images" over 16 frames of 18 MP, "All previous images" over 12, "Groups of
//       images" 5 / 1 faded in and out over 16, "All images" over 4 frames of 48 MP. Each taken in
//       turns with djpeg decoding the same frames one after another, and, unless VELUMEN_BENCH_TOOLS
//       is 0, with the same job through a tools folder of links to the real tools (the user's own
//       tools, which decide every source). Medians of VELUMEN_BENCH_ROUNDS (3), peak memory of the
//       whole process tree, CPU seconds, and a model of the time on 4, 8 and 16 cores.
//       VELUMEN_BENCH_ONLY=TEXT runs only the jobs whose title holds TEXT (e.g. "48 MP").

#include "executethread.h"
#include "image32.h"
#include "jobmetadata.h"
#include "previewreduction.h"
#include "stackplan.h"

#include <QColor>
#include <QColorSpace>
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

#include <QMap>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <time.h>
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

// Writes N JPEG frames of 5640 x 3172 (18 MP) with some structure and noise, so decoding is real work.
QStringList generateFrames(const QString &folder, int count)
{
    QStringList files;
    const int width = 5640, height = 3172;
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
        const QString file =
            QDir(folder).filePath(QStringLiteral("frame%1.jpg").arg(f, 3, 10, QLatin1Char('0')));
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
    out() << "generating " << count << " frames of 5640 x 3172 in " << folder.path() << Qt::endl;
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


// Peak resident memory of this process and its descendants, summed, sampled while a job runs (Linux).
class TreeMemorySampler
{
public:
    void start()
    {
        m_peakMiB = 0;
        m_running = true;
        m_thread = std::thread([this] {
            while (m_running) {
                m_peakMiB = std::max(m_peakMiB.load(), treeResidentMiB());
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    double stop()
    {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
        return m_peakMiB;
    }

private:
    static double treeResidentMiB()
    {
        // ppid of every process, then the resident size of each process below this one.
        QMap<int, int> parents;
        QMap<int, double> resident;
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        for (const QString &entry : entries) {
            bool isPid = false;
            const int pid = entry.toInt(&isPid);
            if (!isPid)
                continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray line = stat.readAll();
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 22) {
                parents[pid] = fields.at(1).toInt();
                resident[pid] = fields.at(21).toDouble() * 4096.0 / (1024 * 1024);
            }
        }
        const int self = int(QCoreApplication::applicationPid());
        double sum = 0;
        for (auto it = resident.cbegin(); it != resident.cend(); ++it) {
            for (int p = it.key(); p > 1; p = parents.value(p, 0)) {
                if (p == self) {
                    sum += it.value();
                    break;
                }
            }
        }
        return sum;
    }

    std::atomic_bool m_running{false};
    std::atomic<double> m_peakMiB{0};
    std::thread m_thread;
};

// Runs the thread's job to its end: its wall time in seconds, and the peak memory of the process tree.
double timedRun(ExecuteThread &thread, double *treePeakMiB)
{
    TreeMemorySampler tree;
    tree.start();
    QElapsedTimer timer;
    timer.start();
    thread.start();
    thread.wait();
    const double seconds = timer.nsecsElapsed() / 1e9;
    *treePeakMiB = tree.stop();
    return seconds;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()).section(' ', 0, 2)
                                          : QStringLiteral("?");
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

// djpeg alone over the frames, one after another: the decode time the job is measured against.
double djpegSeconds(const QString &djpeg, const QStringList &files)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files) {
        QProcess process;
        process.start(djpeg, {QStringLiteral("-outfile"), QStringLiteral("/dev/null"), file});
        process.waitForFinished(-1);
    }
    return timer.nsecsElapsed() / 1e9;
}

struct JobFigures
{
    double seconds = 0;
    double peakMiB = 0;
    double treePeakMiB = 0;
    int operations = 0;
    QString failure;
};

// The plan of a job over count sources under a condition, without fading, and its destination paths
// in the folder, named stem0000.jpg and on.
StackPlan conditionPlan(int count, int condition, const QString &folder, const QString &stem,
                        QStringList *destinations)
{
    StackSettings settings;
    settings.sourceCount = count;
    settings.condition = condition;
    const StackPlan plan = buildStackPlan(settings);
    for (int i = 0; i < plan.size(); ++i)
        *destinations
            << QDir(folder).filePath(stem + QStringLiteral("%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
    return plan;
}

// One job through the execute thread, timed, with its peak memory and that of its process tree.
JobFigures runOneJob(const QStringList &files, const QString &outputFolder, int condition, int stackMethod)
{
    QStringList destinations;
    const StackPlan plan =
        conditionPlan(files.size(), condition, outputFolder, QStringLiteral("out"), &destinations);

    ExecuteThread thread;
    JobFigures figures;
    bool completed = false;
    // Direct connections: the figures are read only after the thread has finished.
    QObject::connect(&thread, &ExecuteThread::operationStarted, [&] { ++figures.operations; });
    QObject::connect(&thread, &ExecuteThread::completed, [&] { completed = true; });
    QObject::connect(&thread, &ExecuteThread::aborted, [&](bool open, const QString &file) {
        figures.failure = (open ? QStringLiteral("cannot load ") : QStringLiteral("cannot write ")) + file;
    });
    thread.setSourceImages(files);
    thread.setDestinationImages(destinations);
    thread.setStackPlan(plan);
    thread.setStackMethod(stackMethod);
    thread.setFormat(0);
    thread.setCompression(92);

    resetPeakMemory();
    figures.seconds = timedRun(thread, &figures.treePeakMiB);
    figures.peakMiB = peakMemoryMiB();
    if (!completed && figures.failure.isEmpty())
        figures.failure = QStringLiteral("did not complete");
    return figures;
}

// The job and djpeg over the same frames taken in turns (job, djpeg, job, djpeg, ...), medians of each.
bool compareJob(const QString &title, const QStringList &files, const QString &outputFolder, int condition,
                int stackMethod, const QString &djpeg, int rounds)
{
    QVector<double> jobSeconds, decodeSeconds, peaks, treePeaks;
    JobFigures figures;
    out() << title << " (load average before " << loadAverage() << ")" << Qt::endl;
    for (int round = 0; round < rounds; ++round) {
        figures = runOneJob(files, outputFolder, condition, stackMethod);
        if (!figures.failure.isEmpty()) {
            out() << "  failed: " << figures.failure << Qt::endl;
            return false;
        }
        jobSeconds << figures.seconds;
        peaks << figures.peakMiB;
        treePeaks << figures.treePeakMiB;
        if (!djpeg.isEmpty())
            decodeSeconds << djpegSeconds(djpeg, files);
        out() << "  round " << round + 1 << ": job " << figures.seconds << " s"
              << (djpeg.isEmpty() ? QString() : QStringLiteral(", djpeg %1 s").arg(decodeSeconds.last()))
              << Qt::endl;
    }
    const double job = median(jobSeconds);
    out() << "  operations             " << figures.operations << Qt::endl;
    out() << "  seconds (median)       " << job << Qt::endl;
    if (!djpeg.isEmpty())
        out() << "  djpeg seconds (median) " << median(decodeSeconds) << ", ratio "
              << job / median(decodeSeconds) << Qt::endl;
    out() << "  peak memory            " << median(peaks) << " MiB (process), " << median(treePeaks)
          << " MiB (process tree)" << Qt::endl;
    out() << "  load average after     " << loadAverage() << Qt::endl;
    return true;
}

// "All images" (one picture a few seconds apart) and "All previous images" (a picture for every image
// written), "Lighten only", each with the running preview connected and without, in turns (A, B, A, B),
// medians of each: what reducing the accumulator for the window costs a job.
bool comparePreview(const QStringList &files, const QString &outputFolder, int rounds)
{
    // One reduction on its own, for the share it takes of a job when the machine is too busy for the
    // jobs' own times to tell a few percent apart.
    const QStringList size = identifyImage(files.value(0));
    Image32 accumulator(size.value(0).toInt(), size.value(1).toInt(), 48);
    for (qint32 i = 0; i < accumulator.sampleCount; ++i)
        accumulator.samples[i] = quint32(i * 2654435761u) >> 16;
    QVector<double> reductions;
    for (int round = 0; round < 7; ++round) {
        QElapsedTimer timer;
        timer.start();
        PreviewReduction::reduce(accumulator, 0);
        reductions << timer.nsecsElapsed() / 1e9;
    }
    out() << "one running picture of " << size.value(0) << " x " << size.value(1) << ": "
          << median(reductions) * 1000 << " ms (median of 7)" << Qt::endl;
    for (int condition : {0, 1}) {
        QStringList destinations;
        const StackPlan plan =
            conditionPlan(files.size(), condition, outputFolder, QStringLiteral("preview"), &destinations);
        QVector<double> with, without;
        int pictures = 0;
        out() << (condition ? "All previous images" : "All images")
              << ", Lighten only, with and without the running preview (load average before " << loadAverage()
              << ")" << Qt::endl;
        for (int round = 0; round < 2 * rounds; ++round) {
            const bool preview = round % 2 == 0;
            ExecuteThread thread;
            bool completed = false;
            QObject::connect(&thread, &ExecuteThread::completed, [&] { completed = true; });
            if (preview)
                QObject::connect(&thread, &ExecuteThread::previewUpdated, [&] { ++pictures; });
            thread.setJob(StackJob{files, destinations, plan, 0, 0, 92});
            QElapsedTimer timer;
            timer.start();
            thread.start();
            thread.wait();
            (preview ? with : without) << timer.nsecsElapsed() / 1e9;
            if (!completed) {
                out() << "  failed" << Qt::endl;
                return false;
            }
        }
        out() << "  seconds (median)       " << median(with) << " with, " << median(without)
              << " without, ratio " << median(with) / median(without) << "; " << pictures / rounds
              << " pictures a job, " << 100 * pictures / rounds * median(reductions) / median(with)
              << " % of the job's time" << Qt::endl;
        out() << "  load average after     " << loadAverage() << Qt::endl;
    }
    return true;
}

int runJob(const QStringList &arguments)
{
    QTemporaryDir frameFolder;
    const QStringList files = benchFrames(arguments, 8, frameFolder);
    if (files.isEmpty())
        return 1;
    QTemporaryDir outputFolder;
    if (!outputFolder.isValid()) {
        out() << "no temporary folder" << Qt::endl;
        return 1;
    }
    const QStringList identify = identifyImage(files.first());
    if (identify.size() >= 2)
        out() << "frames " << files.size() << " of " << identify.at(0) << " x " << identify.at(1) << ", "
              << QThread::idealThreadCount() << " cores" << Qt::endl;
    const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
    if (djpeg.isEmpty())
        out() << "djpeg not found (Debian: libjpeg-turbo-progs): no ratio" << Qt::endl;
    const int rounds = qEnvironmentVariableIsSet("VELUMEN_BENCH_ROUNDS")
                           ? qMax(1, qEnvironmentVariableIntValue("VELUMEN_BENCH_ROUNDS")) : 3;

    bool ok = compareJob(QStringLiteral("All images, Lighten only"), files, outputFolder.path(), 0, 0, djpeg,
                         rounds);
    ok = compareJob(QStringLiteral("All previous images, Lighten only"), files, outputFolder.path(), 1, 0,
                    djpeg, rounds)
        && ok;
    ok = comparePreview(files, outputFolder.path(), rounds) && ok;
    out() << "largest tool process during the jobs " << toolPeakMemoryMiB() << " MiB" << Qt::endl;
    return ok ? 0 : 1;
}

// One "All previous images" job, with or without its film: seconds, and the process tree's peak memory.
QPair<double, double> filmJobSeconds(const QStringList &files, const QString &outputFolder, bool film)
{
    StackSettings settings;
    settings.sourceCount = files.size();
    settings.condition = 1;
    StackJob job = buildStackJob(files, settings, outputFolder, NamePattern(QStringLiteral("out****.jpg")), 0,
                                 0, 92);
    if (film)
        job.videoFile = QDir(outputFolder).filePath(QStringLiteral("out.mp4"));
    ExecuteThread thread;
    bool completed = false;
    QObject::connect(&thread, &ExecuteThread::completed, [&] { completed = true; });
    thread.setJob(job);
    double peak = 0;
    const double seconds = timedRun(thread, &peak);
    return completed ? qMakePair(seconds, peak) : qMakePair(-1.0, peak);
}

// What the film costs: 12 frames of 18 MP (5184 x 3456) "All previous images" without and with the
// film, in turns, medians and their ratio.
int runFilm(const QStringList &arguments)
{
    QTemporaryDir frameFolder, outputFolder;
    QStringList files = arguments;
    if (files.isEmpty()) {
        out() << "generating 12 frames of 5184 x 3456 in " << frameFolder.path() << Qt::endl;
        QImage image(5184, 3456, QImage::Format_RGB888);
        for (int f = 0; f < 12; ++f) {
            for (int y = 0; y < image.height(); ++y) {
                uchar *row = image.scanLine(y);
                for (int x = 0; x < image.width(); ++x) {
                    const int star = ((x * 7919 + y * 104729 + f * 31) % 2003) == 0 ? 255 : 0;
                    row[3 * x] = uchar(qMax(star, (x / 32 + f * 9) & 0x3F));
                    row[3 * x + 1] = uchar(qMax(star, (y / 32) & 0x3F));
                    row[3 * x + 2] = uchar(qMax(star, 40 + ((x + y) / 64 & 0x3F)));
                }
            }
            files << QDir(frameFolder.path())
                         .filePath(QStringLiteral("frame%1.jpg").arg(f, 2, 10, QLatin1Char('0')));
            if (!image.save(files.last(), "JPG", 92))
                return 1;
        }
    }
    const int rounds = qEnvironmentVariableIsSet("VELUMEN_BENCH_ROUNDS")
                           ? qMax(1, qEnvironmentVariableIntValue("VELUMEN_BENCH_ROUNDS")) : 3;
    out() << files.size() << " frames, All previous images, Lighten only, JPEG; "
          << QThread::idealThreadCount() << " cores; load average before " << loadAverage() << Qt::endl;
    QVector<double> without, with, peakWithout, peakWith;
    for (int round = 0; round < rounds; ++round) {
        for (bool film : {false, true}) {
            const QPair<double, double> figures = filmJobSeconds(files, outputFolder.path(), film);
            if (figures.first < 0) {
                out() << "  the job failed" << Qt::endl;
                return 1;
            }
            (film ? with : without) << figures.first;
            (film ? peakWith : peakWithout) << figures.second;
            out() << "  round " << round + 1 << (film ? " with the film " : " without film  ")
                  << figures.first << " s, process tree peak " << figures.second << " MiB" << Qt::endl;
        }
    }
    // Each round's own ratio too: on a shared machine the load drifts between rounds more than within one.
    QVector<double> ratios;
    for (int round = 0; round < rounds; ++round)
        ratios << with.at(round) / without.at(round);
    out() << "  median without " << median(without) << " s, with " << median(with) << " s, ratio "
          << median(with) / median(without) << ", median of the rounds' ratios " << median(ratios)
          << "; peak " << median(peakWithout) << " / " << median(peakWith) << " MiB" << Qt::endl;
    out() << "  load average after " << loadAverage() << Qt::endl;
    return 0;
}

// Small sources of several kinds and sizes, made with QImage so that they are the same on every run.
QStringList makeOutputSources(const QString &folder)
{
    struct Kind { int width, height; QImage::Format format; const char *suffix; };
    const Kind kinds[] = {
        {40, 30, QImage::Format_RGB888, "png"},    {40, 30, QImage::Format_RGBX64, "png"},
        {40, 30, QImage::Format_RGB888, "jpg"},    {52, 26, QImage::Format_RGB888, "png"},
        {40, 30, QImage::Format_Grayscale8, "png"}, {30, 40, QImage::Format_RGBX64, "tif"},
        {40, 30, QImage::Format_RGB888, "tif"},
    };
    QStringList files;
    quint32 seed = 7;
    for (const Kind &kind : kinds) {
        QImage image(kind.width, kind.height, kind.format);
        for (int y = 0; y < kind.height; ++y) {
            for (int x = 0; x < kind.width; ++x) {
                seed = seed * 1664525u + 1013904223u;
                image.setPixelColor(x, y,
                                    QColor::fromRgba64(quint16(seed >> 16), quint16(seed * 7u >> 8),
                                                       quint16((x * 2000 + y * 900 + seed % 300) & 0xFFFF)));
            }
        }
        files << QDir(folder).filePath(QStringLiteral("s%1.%2").arg(files.size()).arg(kind.suffix));
        image.save(files.last());
    }
    return files;
}

// Writes the files of a fixed set of jobs into a folder, for a byte comparison of two builds:
// every method, condition, fade and file type, "Mean" updated by subtracting and adding, and
// sources of differing sizes, kinds and depths.
int runOutputs(const QStringList &arguments)
{
    const QString folder = arguments.value(0);
    if (folder.isEmpty() || !QDir().mkpath(folder + QStringLiteral("/sources"))) {
        out() << "usage: velumen_bench outputs FOLDER" << Qt::endl;
        return 2;
    }
    const QStringList all = makeOutputSources(folder + QStringLiteral("/sources"));
    const int conditions[][3] = {{0, 1, 1}, {1, 1, 1}, {2, 3, 1}, {2, 4, 2}, {2, 5, 1}, {3, 3, 2}, {4, 3, 1}};
    const char *suffixes[] = {"jpg", "png", "tif", "tif"};
    int failures = 0, number = 0;
    for (int method = 0; method < 3; ++method) {
        for (const auto &condition : conditions) {
            for (int fade = 0; fade < 4; ++fade) {
                // The first source of every other job is the odd-sized one.
                QStringList sources = all;
                if (number % 2)
                    sources.swapItemsAt(0, 3);
                const StackSettings settings{
                    int(sources.size()), condition[0], condition[1], condition[2], fade, 40, 30};
                const StackPlan plan = buildStackPlan(settings);
                const int format = number % 4;
                const QString jobFolder = folder
                    + QStringLiteral("/job%1-m%2-c%3-%4-%5-f%6-t%7")
                          .arg(number, 3, 10, QLatin1Char('0'))
                          .arg(method)
                          .arg(condition[0])
                          .arg(condition[1])
                          .arg(condition[2])
                          .arg(fade)
                          .arg(format);
                QDir().mkpath(jobFolder);
                QStringList destinations;
                for (int i = 0; i < plan.size(); ++i)
                    destinations << QDir(jobFolder).filePath(
                        QStringLiteral("out%1.%2").arg(i).arg(suffixes[format]));
                ExecuteThread thread;
                bool completed = false;
                QObject::connect(&thread, &ExecuteThread::completed, [&] { completed = true; });
                thread.setSourceImages(sources);
                thread.setDestinationImages(destinations);
                thread.setStackPlan(plan);
                thread.setStackMethod(method);
                thread.setFormat(format);
                thread.setCompression(50 + number % 50);
                thread.start();
                thread.wait();
                if (!completed) {
                    out() << "failed: " << jobFolder << Qt::endl;
                    ++failures;
                }
                ++number;
            }
        }
    }
    out() << number << " jobs, " << failures << " failed" << Qt::endl;
    return failures ? 1 : 0;
}


// What carrying the metadata costs: one source header read against one load, and each destination type
// written with the first frame's profile, EXIF and XMP against the same image without (turns A, B, A, B).
int runMetadata(const QStringList &arguments)
{
    QTemporaryDir folder;
    QStringList files = benchFrames(arguments, 2, folder);
    if (files.isEmpty() || !folder.isValid())
        return 1;
    // Generated frames get the camera data of a real night shot and an Adobe RGB profile.
    const QString exiv2 = QStandardPaths::findExecutable(QStringLiteral("exiv2"));
    const QString icc = QDir(folder.path()).filePath(QStringLiteral("frame000.icc"));
    QFile profile(icc);
    if (exiv2.isEmpty() || !profile.open(QIODevice::WriteOnly)
        || !profile.write(QColorSpace(QColorSpace::AdobeRgb).iccProfile()))
        return 1;
    profile.close();
    if (files.first().startsWith(folder.path())) {
        QProcess::execute(exiv2, {"-M", "set Exif.Image.Model Ascii NightCam 7", "-M",
                                  "set Exif.Photo.DateTimeOriginal Ascii 2026:03:01 22:00:00",
                                  files.first()});
        QProcess::execute(exiv2, {"-iC", files.first()});
    }
    try {
        const int rounds = 5;
        QVector<double> reads, loads;
        QElapsedTimer timer;
        for (int r = 0; r < rounds; ++r) {
            timer.start();
            const SourceMetadata read = SourceMetadata::read(files.value(r % files.size()));
            reads << timer.nsecsElapsed() / 1e9;
            if (r == 0)
                out() << "first source: profile " << read.iccProfile().size() << " bytes, EXIF/XMP "
                      << (read.records() ? "yes" : "no") << Qt::endl;
            timer.start();
            Image32 frame(files.value(r % files.size()), QStringLiteral("-function Polynomial 1,0.0"), 48);
            loads << timer.nsecsElapsed() / 1e9;
        }
        out() << "header read " << median(reads) * 1000 << " ms, load " << median(loads) * 1000
              << " ms, ratio " << median(reads) / median(loads) << ", load average " << loadAverage()
              << Qt::endl;

        const Image32 image(files.first(), QStringLiteral("-function Polynomial 1,0.0"), 48);
        JobMetadata job(files, 0, QStringLiteral("All images"));
        QSet<QPair<int, double>> set;
        for (int i = 0; i < files.size(); ++i)
            set.insert(qMakePair(i, 1.0));
        const DestinationMetadata metadata = job.forImage(set, image.width, image.height);
        const QString out1 = QDir(folder.path()).filePath(QStringLiteral("out"));
        const struct { const char *name; const char *format; } types[] = {
            {"JPEG", "JPG"}, {"PNG", "PNG"}, {"TIFF", "TIFF"}, {"16-bit TIFF", nullptr}};
        for (const auto &type : types) {
            QVector<double> plain, carried;
            for (int r = 0; r < 2 * rounds; ++r) {
                const DestinationMetadata *with = r % 2 ? &metadata : nullptr;
                timer.start();
                if (type.format)
                    image.save(out1, type.format, 92, with);
                else
                    image.saveTiff16(out1, with);
                (with ? carried : plain) << timer.nsecsElapsed() / 1e9;
            }
            out() << type.name << " write " << median(plain) * 1000 << " ms, with metadata "
                  << median(carried) * 1000 << " ms, ratio " << median(carried) / median(plain)
                  << ", load average " << loadAverage() << Qt::endl;
        }
    } catch (const Image32Exception &e) {
        out() << "failed: " << e.filename << Qt::endl;
        return 1;
    }
    return 0;
}

// Star-like frames: a sky gradient with sensor noise and sparse soft stars, each shifted a little so
// that every frame is its own; made once as lossless and shifted into each JPEG.
QStringList makeStarFrames(const QString &folder, const QString &name, int count, int width, int height)
{
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    const QString size = QStringLiteral("%1x%2").arg(width).arg(height);
    const QString base = QDir(folder).filePath(name + QStringLiteral("-base.miff"));
    QStringList files;
    // Frames larger than the base are made from it: Debian's pixel limits refuse the composite there.
    const QString smaller = QDir(folder).filePath(QStringLiteral("18mp-base.miff"));
    if (!QFileInfo::exists(base) && width * height > 5184 * 3456 && QFileInfo::exists(smaller)) {
        if (QProcess::execute(convert, {smaller, QStringLiteral("-resize"), size + QLatin1Char('!'),
                                        QStringLiteral("-attenuate"), QStringLiteral("0.3"),
                                        QStringLiteral("+noise"), QStringLiteral("Gaussian"), base})
            != 0)
            return files;
    }
    if (!QFileInfo::exists(base)) {
        const QStringList arguments =
            QStringLiteral("-size %1 gradient:#02040b-#0d1a33 -seed 5 -attenuate 0.3 +noise Gaussian "
                           "( -size %1 xc:black +noise Random -channel R -separate +channel "
                           "-threshold 99.9% -blur 0x0.8 ) -compose Screen -composite")
                .arg(size).split(QLatin1Char(' '))
            << base;
        if (QProcess::execute(convert, arguments) != 0)
            return files;
    }
    for (int k = 0; k < count; ++k) {
        files << QDir(folder).filePath(QStringLiteral("%1-%2.jpg").arg(name).arg(k, 3, 10, QLatin1Char('0')));
        if (!QFileInfo::exists(files.last())
            && QProcess::execute(convert, {base, QStringLiteral("-roll"),
                                           QStringLiteral("+%1+%2").arg(9 * k).arg(2 * k),
                                           QStringLiteral("-quality"), QStringLiteral("92"), files.last()})
                   != 0)
            return QStringList();
    }
    return files;
}

double processCpuSeconds()
{
#ifdef Q_OS_UNIX
    struct rusage self, children;
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    const auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime)
           + seconds(children.ru_stime);
#else
    return 0;
#endif
}

double threadCpuSeconds()
{
#ifdef Q_OS_UNIX
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
#else
    return 0;
#endif
}

struct TargetFigures
{
    double seconds = 0, treePeakMiB = 0, cpuSeconds = 0, workerCpuSeconds = 0;
    bool completed = false;
};

TargetFigures runTargetJob(const QStringList &files, const StackSettings &settings,
                           const QString &outputFolder)
{
    const StackPlan plan = buildStackPlan(settings);
    QStringList destinations;
    for (int i = 0; i < plan.size(); ++i)
        destinations << QDir(outputFolder).filePath(QStringLiteral("out%1.jpg").arg(i));
    ExecuteThread thread;
    TargetFigures figures;
    // Direct connections: read in the worker thread, whose own CPU time is the job's serial part.
    QObject::connect(&thread, &ExecuteThread::completed, [&] {
        figures.completed = true;
        figures.workerCpuSeconds = threadCpuSeconds();
    });
    thread.setSourceImages(files);
    thread.setDestinationImages(destinations);
    thread.setStackPlan(plan);
    thread.setStackMethod(0);
    thread.setFormat(0);
    thread.setCompression(92);
    const double cpu = processCpuSeconds();
    figures.seconds = timedRun(thread, &figures.treePeakMiB);
    figures.cpuSeconds = processCpuSeconds() - cpu;
    return figures;
}

// One target job: in this process's way, through the user's own tools, and djpeg, in turns.
void compareTarget(const QString &title, const QStringList &files, const StackSettings &settings,
                   const QString &djpeg, int rounds, bool viaTools)
{
    // VELUMEN_BENCH_ONLY=text: only the jobs whose title holds the text.
    const QString only = qEnvironmentVariable("VELUMEN_BENCH_ONLY");
    if (!only.isEmpty() && !title.contains(only))
        return;
    QTemporaryDir outputs, toolsHome;
    const QString home = QDir::currentPath();
    const bool linked = viaTools && QDir(toolsHome.path()).mkdir(QStringLiteral("tools"))
        && QFile::link(QStandardPaths::findExecutable(QStringLiteral("convert")),
                       toolsHome.filePath(QStringLiteral("tools/convert")))
        && QFile::link(QStandardPaths::findExecutable(QStringLiteral("identify")),
                       toolsHome.filePath(QStringLiteral("tools/identify")));
    QVector<double> here, tools, decode, decodeCpu, herePeak, toolsPeak, hereCpu, workerCpu, toolsCpu;
    out() << title << " (load average before " << loadAverage() << ")" << Qt::endl;
    for (int round = 0; round < rounds; ++round) {
        const TargetFigures a = runTargetJob(files, settings, outputs.path());
        here << a.seconds;
        herePeak << a.treePeakMiB;
        hereCpu << a.cpuSeconds;
        workerCpu << a.workerCpuSeconds;
        const double cpu = processCpuSeconds();
        decode << djpegSeconds(djpeg, files);
        decodeCpu << processCpuSeconds() - cpu;
        QString line = QStringLiteral("  round %1: job %2 s, djpeg %3 s")
                           .arg(round + 1).arg(a.seconds).arg(decode.last());
        if (linked) {
            QDir::setCurrent(toolsHome.path());
            const TargetFigures b = runTargetJob(files, settings, outputs.path());
            QDir::setCurrent(home);
            tools << b.seconds;
            toolsPeak << b.treePeakMiB;
            toolsCpu << b.cpuSeconds;
            line += QStringLiteral(", through the tools folder %1 s").arg(b.seconds);
        }
        out() << line << (a.completed ? "" : " (job failed)") << Qt::endl;
    }
    const double d = median(decode);
    out() << "  job      " << median(here) << " s = " << median(here) / d << " x djpeg " << d << " s, peak "
          << median(herePeak) << " MiB (process tree), CPU " << median(hereCpu) << " s, worker "
          << median(workerCpu) << " s" << Qt::endl;
    // The worker's own fold and write are serial; the decodes spread over the cores. In CPU seconds,
    // against djpeg's, which a loaded machine distorts less than wall time.
    const double c = median(decodeCpu);
    out() << "  cpu      job " << median(hereCpu) / c << " x djpeg's " << c << " s; model on 4 cores "
          << qMax(median(workerCpu), median(hereCpu) / 4) / c << " x, 8 cores "
          << qMax(median(workerCpu), median(hereCpu) / 8) / c << " x, 16 cores "
          << qMax(median(workerCpu), median(hereCpu) / 16) / c << " x, 2 cores "
          << qMax(median(workerCpu), median(hereCpu) / 2) / c << " x" << Qt::endl;
    if (linked)
        out() << "  tools    " << median(tools) << " s = " << median(tools) / d << " x djpeg, peak "
              << median(toolsPeak) << " MiB, CPU " << median(toolsCpu) << " s = " << median(toolsCpu) / c
              << " x djpeg's" << Qt::endl;
    out() << "  load average after " << loadAverage() << Qt::endl;
}

int runTargets(const QStringList &arguments)
{
    QTemporaryDir scratch;
    const QString folder = arguments.isEmpty() ? scratch.path() : arguments.first();
    QDir().mkpath(folder);
    const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
    if (djpeg.isEmpty()) {
        out() << "djpeg not found (Debian: libjpeg-turbo-progs)" << Qt::endl;
        return 1;
    }
    out() << "generating frames in " << folder << Qt::endl;
    const QStringList mid = makeStarFrames(folder, QStringLiteral("18mp"), 16, 5184, 3456);
    const QStringList large = makeStarFrames(folder, QStringLiteral("48mp"), 4, 8000, 6000);
    if (mid.size() != 16 || large.size() != 4) {
        out() << "cannot make the frames" << Qt::endl;
        return 1;
    }
    const int rounds = qEnvironmentVariableIsSet("VELUMEN_BENCH_ROUNDS")
                           ? qMax(1, qEnvironmentVariableIntValue("VELUMEN_BENCH_ROUNDS")) : 3;
    const bool viaTools = qEnvironmentVariable("VELUMEN_BENCH_TOOLS") != QLatin1String("0");
    out() << QThread::idealThreadCount() << " cores" << Qt::endl;
    compareTarget(QStringLiteral("All images, Lighten, 16 x 18 MP"), mid,
                  StackSettings{16, 0, 1, 1, 0, 50, 50}, djpeg, rounds, viaTools);
    compareTarget(QStringLiteral("All previous images, 12 x 18 MP, a JPEG each"), mid.mid(0, 12),
                  StackSettings{12, 1, 1, 1, 0, 50, 50}, djpeg, rounds, viaTools);
    compareTarget(QStringLiteral("Groups of images 5 / 1, Fade in and out, 16 x 18 MP"), mid,
                  StackSettings{16, 2, 5, 1, 3, 50, 50}, djpeg, rounds, viaTools);
    compareTarget(QStringLiteral("All images, Lighten, 4 x 48 MP"), large,
                  StackSettings{4, 0, 1, 1, 0, 50, 50}, djpeg, rounds, viaTools);
    return 0;
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
        {"load", runLoad,
         "load [N] [files...]   load and combine N frames (generated 18 MP JPEGs or the files)"},
        {"job", runJob,
         "job [N] [files...]    whole jobs through the execute thread beside djpeg of the same frames"},
        {"metadata", runMetadata,
         "metadata [N] [files...] header reads and destination writes with and without metadata"},
        {"film", runFilm,
         "film [files...]       12 frames of 18 MP, All previous images, without and with the film"},
        {"outputs", runOutputs,
         "outputs FOLDER        write the files of a fixed set of jobs, to compare builds"},
        {"targets", runTargets,
         "targets [FOLDER]      the target jobs beside djpeg and through the tools, medians, peak memory"},
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
