#include "executethread.h"
#include "stackplan.h"
#include "testtools.h"

#include <QtTest>

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <atomic>
#include <cmath>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define VELUMEN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELUMEN_ASAN 1
#endif
#endif

typedef QList<int> IntList;
typedef QVector<quint32> Samples;

namespace {

const int Width = 6;
const int Height = 4;
const int SampleCount = Width * Height * 3;
// A 16-bit binary PPM, so that every source sample is known exactly.
void writePpm16(const QString &path, const Samples &samples)
{
    QByteArray data = QString("P6\n%1 %2\n65535\n").arg(Width).arg(Height).toLatin1();
    for (quint32 s : samples) {
        data.append(char(s >> 8));
        data.append(char(s & 0xff));
    }
    QVERIFY(TestTools::writeFile(path, data));
}

// What the read tool makes of sample u at weight w: w*u, or w*u + (1 - w) at full scale under
// "Darken only", rounded to the nearest 16-bit value.
quint32 weighted(quint32 u, double w, int method)
{
    const double value = w * u + (method == 1 ? (1.0 - w) * 65535.0 : 0.0);
    return quint32(qBound(0.0, std::floor(value + 0.5), 65535.0));
}

struct Job
{
    QStringList sources;
    QStringList destinations;
    StackPlan plan;
    int method = 0;
    int format = 3;
    int compression = 90;
};

struct Outcome
{
    QStringList operations; // "image/images operation/operations"
    int completed = 0;
    QList<QPair<bool, QString>> aborted;
};

QString operationText(int image, int images, int operation, int operations)
{
    return QString("%1/%2 %3/%4").arg(image).arg(images).arg(operation).arg(operations);
}

QStringList expectedOperations(const IntList &totals)
{
    QStringList list;
    for (int i = 0; i < totals.size(); ++i)
        for (int k = 0; k < totals.at(i); ++k)
            list.append(operationText(i, totals.size(), k, totals.at(i)));
    return list;
}

void configure(ExecuteThread &thread, const Job &job)
{
    thread.setSourceImages(job.sources);
    thread.setDestinationImages(job.destinations);
    thread.setStackPlan(job.plan);
    thread.setStackMethod(job.method);
    thread.setFormat(job.format);
    thread.setCompression(job.compression);
}

Outcome collect(const QSignalSpy &operations, const QSignalSpy &completed, const QSignalSpy &aborted)
{
    Outcome outcome;
    for (const QList<QVariant> &args : operations)
        outcome.operations.append(
            operationText(args.at(0).toInt(), args.at(1).toInt(), args.at(2).toInt(), args.at(3).toInt()));
    outcome.completed = completed.size();
    for (const QList<QVariant> &args : aborted)
        outcome.aborted.append(qMakePair(args.at(0).toBool(), args.at(1).toString()));
    return outcome;
}

// Runs a job in the worker thread to its end. The spies record from the worker thread (direct
// connections); they are read only after the thread has finished.
Outcome runJob(const Job &job)
{
    ExecuteThread thread;
    QSignalSpy operations(&thread, &ExecuteThread::operationStarted);
    QSignalSpy completed(&thread, &ExecuteThread::completed);
    QSignalSpy aborted(&thread, &ExecuteThread::aborted);
    configure(thread, job);
    thread.start();
    if (!thread.wait(300000))
        qFatal("job did not end");
    return collect(operations, completed, aborted);
}

} // namespace

class TestExecuteThread : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void operationTotals_data();
    void operationTotals();
    void weightArguments();
    void matchesImageMagick();
    void fileTypes();
    void cancelDuringLastLoad();
    void missingSource();
    void unwritableDestination();
    void destinationIsSource();
    void firstSourceUnusable();
    void stopEndsToolRun();
    void memoryExhaustionIsReported();

private:
    QString path(const QString &name) const { return sandbox->filePath(name); }
    QString realConvert() const { return TestTools::shellQuote(sandbox->realConvert()); }
    // Samples of a file as the real ImageMagick reads them: 16 bits, RGB, low byte first.
    Samples readWithImageMagick(const QStringList &arguments) const;
    // Sources with distinct pseudo-random samples, full black and full white among them.
    QStringList makeSources(int n);
    QStringList destinations(int count, const QString &suffix = ".tif") const;
    // The expected 16-bit destination image for one set of the plan.
    Samples expectedImage(const QSet<QPair<int, double>> &set, int method) const;
    void makeTool(const QString &name, const QString &body);

    std::unique_ptr<TestTools::ToolSandbox> sandbox;
    QList<Samples> sourceSamples;
};

void TestExecuteThread::init()
{
    // The bridge looks for stand-in tools in "tools" under the current folder.
    sandbox.reset(new TestTools::ToolSandbox);
    QVERIFY(sandbox->isValid());
    sourceSamples.clear();
}

void TestExecuteThread::cleanup()
{
    sandbox.reset();
}

Samples TestExecuteThread::readWithImageMagick(const QStringList &arguments) const
{
    QByteArray raw;
    sandbox->convert(arguments + QStringList{"-depth", "16", "-endian", "LSB", "rgb:-"}, &raw);
    Samples samples;
    for (int i = 0; i + 1 < raw.size(); i += 2)
        samples.append(quint8(raw.at(i)) | quint32(quint8(raw.at(i + 1))) << 8);
    return samples;
}

QStringList TestExecuteThread::makeSources(int n)
{
    QStringList names;
    quint32 state = 12345;
    for (int k = 0; k < n; ++k) {
        Samples samples(SampleCount);
        for (int i = 0; i < SampleCount; ++i) {
            state = state * 1103515245u + 12345u;
            samples[i] = (state >> 8) & 0xffff;
        }
        samples[k % SampleCount] = 0;
        samples[(k + 7) % SampleCount] = 65535;
        const QString name = path(QString("source%1.ppm").arg(k));
        writePpm16(name, samples);
        names.append(name);
        sourceSamples.append(samples);
    }
    return names;
}

QStringList TestExecuteThread::destinations(int count, const QString &suffix) const
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(path(QString("out%1%2").arg(i, 4, 10, QChar('0')).arg(suffix)));
    return names;
}

Samples TestExecuteThread::expectedImage(const QSet<QPair<int, double>> &set, int method) const
{
    Samples result(SampleCount, method == 1 ? 65535 : 0);
    QVector<quint64> sum(SampleCount, 0);
    double weights = 0.0;
    for (const auto &pair : set) {
        weights += pair.second;
        for (int i = 0; i < SampleCount; ++i) {
            const quint32 v = weighted(sourceSamples.at(pair.first).at(i), pair.second, method);
            result[i] = method == 0 ? qMax(result[i], v) : method == 1 ? qMin(result[i], v) : result[i];
            sum[i] += v;
        }
    }
    if (method == 2)
        for (int i = 0; i < SampleCount; ++i)
            result[i] = quint32(double(sum[i]) / weights);
    return result;
}

void TestExecuteThread::makeTool(const QString &name, const QString &body)
{
    QVERIFY(sandbox->addTool(name, body));
}

void TestExecuteThread::operationTotals_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("condition");
    QTest::addColumn<int>("option1");
    QTest::addColumn<int>("option2");
    QTest::addColumn<int>("fade");
    QTest::addColumn<int>("method");
    QTest::addColumn<IntList>("totals");
    QTest::addColumn<QString>("loads"); // sources loaded for each image, sorted, "|" between images

    QTest::newRow("all, lighten") << 4 << 0 << 1 << 1 << 0 << 0 << IntList{4} << "0123";
    QTest::newRow("all, darken") << 4 << 0 << 1 << 1 << 0 << 1 << IntList{4} << "0123";
    QTest::newRow("all, mean") << 4 << 0 << 1 << 1 << 0 << 2 << IntList{4} << "0123";
    QTest::newRow("all previous, lighten") << 4 << 1 << 1 << 1 << 0 << 0 << IntList{1, 1, 1, 1} << "0|1|2|3";
    QTest::newRow("all previous, darken") << 4 << 1 << 1 << 1 << 0 << 1 << IntList{1, 1, 1, 1} << "0|1|2|3";
    QTest::newRow("all previous, mean") << 4 << 1 << 1 << 1 << 0 << 2 << IntList{1, 1, 1, 1} << "0|1|2|3";
    // From image 2 on the weight of source 0 changes every time, so each image is rebuilt.
    QTest::newRow("all previous, fade in 50, lighten")
        << 5 << 1 << 1 << 1 << 1 << 0 << IntList{1, 1, 3, 4, 5} << "0|1|012|0123|01234";
    QTest::newRow("all previous, fade in 50, darken")
        << 5 << 1 << 1 << 1 << 1 << 1 << IntList{1, 1, 3, 4, 5} << "0|1|012|0123|01234";
    QTest::newRow("groups 5/1, mean") << 7 << 2 << 5 << 1 << 0 << 2 << IntList{5, 2, 2} << "01234|05|16";
    QTest::newRow("groups 5/1, lighten") << 7 << 2 << 5 << 1 << 0 << 0 << IntList{5, 5, 5} << "01234|12345|23456";
    QTest::newRow("groups 2/2, mean rebuilds") << 6 << 2 << 2 << 2 << 0 << 2 << IntList{2, 2, 2} << "01|23|45";
    // A tie: subtracting two and adding two costs as much as a rebuild and is preferred.
    QTest::newRow("groups 4/2, mean subtracts and adds")
        << 8 << 2 << 4 << 2 << 0 << 2 << IntList{4, 4, 4} << "0123|0145|2367";
    QTest::newRow("loop g > n, lighten") << 3 << 3 << 4 << 1 << 0 << 0 << IntList{3, 0, 0} << "012||";
    QTest::newRow("loop g = n, mean") << 3 << 3 << 3 << 1 << 0 << 2 << IntList{3, 0, 0} << "012||";
    QTest::newRow("loop g > n, fade in, darken") << 2 << 3 << 3 << 1 << 1 << 1 << IntList{3, 3} << "001|011";
}

// Operation reports and totals of real jobs, and the images they write.
void TestExecuteThread::operationTotals()
{
    QFETCH(int, n);
    QFETCH(int, condition);
    QFETCH(int, option1);
    QFETCH(int, option2);
    QFETCH(int, fade);
    QFETCH(int, method);
    QFETCH(IntList, totals);
    QFETCH(QString, loads);

    makeTool("convert", QString("printf '%s\\n' \"$1\" >> %1\nexec %2 \"$@\"").arg(TestTools::shellQuote(path("loads.log")), realConvert()));
    StackSettings settings;
    settings.sourceCount = n;
    settings.condition = condition;
    settings.conditionOption1 = option1;
    settings.conditionOption2 = option2;
    settings.fadeMethod = fade;
    settings.fadeOption1 = 50;

    Job job;
    job.sources = makeSources(n);
    job.plan = buildStackPlan(settings);
    job.destinations = destinations(job.plan.size());
    job.method = method;
    const Outcome outcome = runJob(job);

    QCOMPARE(outcome.operations, expectedOperations(totals));
    QCOMPARE(outcome.completed, 1);
    QVERIFY(outcome.aborted.isEmpty());

    // Each load follows its report, so the n-th load belongs to the image of the n-th report.
    const QStringList loaded =
        QString::fromUtf8(TestTools::readFile(path("loads.log"))).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(loaded.size(), outcome.operations.size());
    QVector<QList<int>> perImage(totals.size());
    const QRegularExpression sourceName("source(\\d+)\\.ppm$");
    for (int k = 0; k < loaded.size(); ++k)
        perImage[outcome.operations.at(k).section('/', 0, 0).toInt()].append(
            sourceName.match(loaded.at(k)).captured(1).toInt());
    QStringList images;
    for (QList<int> &list : perImage) {
        std::sort(list.begin(), list.end());
        QString text;
        for (int index : list)
            text += QString::number(index);
        images.append(text);
    }
    QCOMPARE(images.join('|'), loads);

    const int tolerance = fade == 0 ? 0 : 1;
    for (int i = 0; i < job.destinations.size(); ++i) {
        const Samples actual = readWithImageMagick({job.destinations.at(i)});
        const Samples expected = expectedImage(job.plan.at(i), method);
        QCOMPARE(actual.size(), expected.size());
        for (int s = 0; s < expected.size(); ++s)
            QVERIFY2(qAbs(int(actual.at(s)) - int(expected.at(s))) <= tolerance,
                     qPrintable(QString("image %1 sample %2: %3, expected %4")
                                    .arg(i)
                                    .arg(s)
                                    .arg(actual.at(s))
                                    .arg(expected.at(s))));
    }
}

// The arguments that carry the weight to the read tool, seen by a stand-in that logs them.
void TestExecuteThread::weightArguments()
{
    makeTool("convert", QString("printf '%s\\n' \"$*\" >> %1\nexec %2 \"$@\"")
                            .arg(TestTools::shellQuote(path("convert.log")), realConvert()));
    const QStringList sources = makeSources(2);

    struct Case
    {
        int method;
        double weight;
        QString expected;
    };
    const QList<Case> cases = {{0, 1.0, "-function Polynomial 1,0.0"},
                               {1, 0.2, "-function Polynomial 0.2,0.8"},
                               {1, 1.0, "-function Polynomial 1,0"},
                               {2, 1.0 / 3.0, "-function Polynomial 0.333333,0.0"}};
    for (const Case &c : cases) {
        QFile::remove(path("convert.log"));
        Job job;
        job.sources = sources;
        job.plan = StackPlan{{qMakePair(1, c.weight)}};
        job.destinations = destinations(1);
        job.method = c.method;
        QCOMPARE(runJob(job).completed, 1);
        const QString line = QString::fromUtf8(TestTools::readFile(path("convert.log"))).trimmed();
        QVERIFY2(line.contains(sources.at(1)) && line.contains(c.expected), qPrintable(line));
        QVERIFY2(!line.contains(sources.at(0)), qPrintable(line));
    }
}

// Each stack method gives per pixel what ImageMagick's own sequence operators give.
void TestExecuteThread::matchesImageMagick()
{
    const QStringList sources = makeSources(5);
    const char *operators[] = {"max", "min", "mean"};
    for (int method = 0; method < 3; ++method) {
        Job job;
        job.sources = sources;
        job.plan = buildStackPlan(StackSettings{5, 0, 1, 1, 0, 50, 50});
        job.destinations = QStringList{path(QString("stack%1.tif").arg(method))};
        job.method = method;
        QCOMPARE(runJob(job).completed, 1);

        const Samples actual = readWithImageMagick({job.destinations.at(0)});
        const Samples reference = readWithImageMagick(sources + QStringList{"-evaluate-sequence", operators[method]});
        QCOMPARE(actual.size(), SampleCount);
        QCOMPARE(reference.size(), SampleCount);
        for (int i = 0; i < SampleCount; ++i) {
            if (method < 2) {
                QCOMPARE(actual.at(i), reference.at(i));
            } else {
                // The mean is truncated, ImageMagick rounds.
                quint64 sum = 0;
                for (const Samples &s : qAsConst(sourceSamples))
                    sum += s.at(i);
                QCOMPARE(actual.at(i), quint32(sum / 5));
                QVERIFY(reference.at(i) - actual.at(i) <= 1);
            }
        }
    }
}

// Each file type index writes its own format; an unknown index writes nothing.
void TestExecuteThread::fileTypes()
{
    const QStringList sources = makeSources(3);
    // The file type follows the type index, not the name's suffix.
    const QList<QByteArray> readerFormats = {"jpeg", "png", "tiff", "tiff", ""};
    for (int format = 0; format < readerFormats.size(); ++format) {
        Job job;
        job.sources = sources;
        job.plan = buildStackPlan(StackSettings{3, 0, 1, 1, 0, 50, 50});
        job.destinations = QStringList{path(QString("type%1.img").arg(format))};
        job.format = format == 4 ? 7 : format;
        QCOMPARE(runJob(job).completed, 1);
        if (readerFormats.at(format).isEmpty()) {
            QVERIFY(!QFile::exists(job.destinations.at(0)));
            continue;
        }
        QImageReader reader(job.destinations.at(0));
        QCOMPARE(reader.format(), readerFormats.at(format));
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(Width, Height));
        // 16 bits per channel only for the last TIFF type.
        QCOMPARE(image.depth() == 64, format == 3);
    }
}

// A cancel while the last load of an image runs: that image is still written, nothing is emitted.
void TestExecuteThread::cancelDuringLastLoad()
{
    makeTool("convert", QString("sleep 1\nexec %1 \"$@\"").arg(realConvert()));
    Job job;
    job.sources = makeSources(2);
    job.plan = buildStackPlan(StackSettings{2, 1, 1, 1, 0, 50, 50});
    job.destinations = destinations(2);

    ExecuteThread thread;
    QSignalSpy operations(&thread, &ExecuteThread::operationStarted);
    QSignalSpy completed(&thread, &ExecuteThread::completed);
    QSignalSpy aborted(&thread, &ExecuteThread::aborted);
    std::atomic_int started{0};
    connect(&thread, &ExecuteThread::operationStarted, this, [&] { ++started; }, Qt::DirectConnection);
    configure(thread, job);
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(started.load() == 1, 30000);
    QTest::qWait(300); // inside the slow load
    thread.cancel();
    QVERIFY(thread.wait(60000));

    const Outcome outcome = collect(operations, completed, aborted);
    QCOMPARE(outcome.operations, QStringList{operationText(0, 2, 0, 1)});
    QCOMPARE(outcome.completed, 0);
    QVERIFY(outcome.aborted.isEmpty());
    QVERIFY(QFile::exists(job.destinations.at(0)));
    QVERIFY(!QFile::exists(job.destinations.at(1)));
}

// A source that disappears before its turn: one report naming it; earlier images stay.
void TestExecuteThread::missingSource()
{
    Job job;
    job.sources = makeSources(4);
    job.plan = buildStackPlan(StackSettings{4, 1, 1, 1, 0, 50, 50});
    job.destinations = destinations(4);
    QVERIFY(QFile::remove(job.sources.at(2)));

    const Outcome outcome = runJob(job);
    QCOMPARE(outcome.operations, expectedOperations({1, 1, 1, 1}).mid(0, 3));
    QCOMPARE(outcome.completed, 0);
    QCOMPARE(outcome.aborted, (QList<QPair<bool, QString>>{qMakePair(true, job.sources.at(2))}));
    QVERIFY(QFile::exists(job.destinations.at(0)));
    QVERIFY(QFile::exists(job.destinations.at(1)));
    QVERIFY(!QFile::exists(job.destinations.at(2)));
    QVERIFY(!QFile::exists(job.destinations.at(3)));
}

// A destination folder that cannot be written (its parent is a regular file, which stops root too):
// reported with the first path once that image's operations are done.
void TestExecuteThread::unwritableDestination()
{
    QVERIFY(TestTools::writeFile(path("blocker"), "a file, not a folder\n"));
    const QStringList sources = makeSources(3);
    for (int format = 0; format < 4; ++format) {
        Job job;
        job.sources = sources;
        job.plan = buildStackPlan(StackSettings{3, 2, 2, 1, 0, 50, 50});
        job.destinations = QStringList{path("blocker/out0.img"), path("blocker/out1.img")};
        job.format = format;
        const Outcome outcome = runJob(job);
        QCOMPARE(outcome.operations, expectedOperations({2, 2}).mid(0, 2));
        QCOMPARE(outcome.completed, 0);
        QCOMPARE(outcome.aborted, (QList<QPair<bool, QString>>{qMakePair(false, job.destinations.at(0))}));
    }
}

// A destination that names a source, under another spelling, is refused before it is touched.
void TestExecuteThread::destinationIsSource()
{
    Job job;
    job.sources = makeSources(3);
    job.plan = buildStackPlan(StackSettings{3, 1, 1, 1, 0, 50, 50});
    job.destinations = destinations(3);
    QVERIFY(QDir(sandbox->path()).mkdir("sub"));
    const QString alias = sandbox->path() + "/./sub/../source1.ppm";
    job.destinations[1] = alias;
    QVERIFY(QFile::link(job.sources.at(2), path("link.ppm")));
    const QByteArray before = TestTools::readFile(job.sources.at(1));

    for (int format = 0; format < 4; ++format) {
        job.format = format;
        const Outcome outcome = runJob(job);
        QCOMPARE(outcome.completed, 0);
        QCOMPARE(outcome.aborted, (QList<QPair<bool, QString>>{qMakePair(false, alias)}));
        QVERIFY(QFile::exists(job.destinations.at(0)));
        QVERIFY(!QFile::exists(job.destinations.at(2)));
        QCOMPARE(TestTools::readFile(job.sources.at(1)), before);
    }

    // Through a symbolic link as well.
    job.destinations = QStringList{path("first.tif"), path("link.ppm")};
    job.format = 3;
    const QByteArray thirdBefore = TestTools::readFile(job.sources.at(2));
    QCOMPARE(runJob(job).aborted, (QList<QPair<bool, QString>>{qMakePair(false, path("link.ppm"))}));
    QCOMPARE(TestTools::readFile(job.sources.at(2)), thirdBefore);
}

// A first source without a usable size ends the run with a report naming it, before any operation.
void TestExecuteThread::firstSourceUnusable()
{
    const QStringList sources = makeSources(2);
    QVERIFY(TestTools::writeFile(path("notes.ppm"), "not an image\n"));

    Job job;
    job.sources = QStringList{path("notes.ppm"), sources.at(1)};
    job.plan = buildStackPlan(StackSettings{2, 0, 1, 1, 0, 50, 50});
    job.destinations = destinations(1);
    Outcome outcome = runJob(job);
    QVERIFY(outcome.operations.isEmpty());
    QCOMPARE(outcome.aborted, (QList<QPair<bool, QString>>{qMakePair(true, path("notes.ppm"))}));

    const QStringList answers = {"0::4::16::srgb", "6::-4::16::srgb", "six::4::16::srgb", "6",
                                 "100000::100000::16::srgb"};
    job.sources = sources;
    for (const QString &answer : answers) {
        makeTool("identify", "printf '" + answer + "'");
        outcome = runJob(job);
        QVERIFY2(outcome.operations.isEmpty(), qPrintable(answer));
        QCOMPARE(outcome.aborted, (QList<QPair<bool, QString>>{qMakePair(true, sources.at(0))}));
        QVERIFY(!QFile::exists(job.destinations.at(0)));
    }

    job.sources.clear();
    outcome = runJob(job);
    QCOMPARE(outcome.aborted, (QList<QPair<bool, QString>>{qMakePair(true, QString())}));
}

// The shutdown stop ends the tool run in progress and the run, without a signal; destroying a
// running thread does the same instead of aborting the program.
void TestExecuteThread::stopEndsToolRun()
{
    makeTool("convert", QString("sleep 30\nexec %1 \"$@\"").arg(realConvert()));
    Job job;
    job.sources = makeSources(2);
    job.plan = buildStackPlan(StackSettings{2, 1, 1, 1, 0, 50, 50});
    job.destinations = destinations(2);

    std::atomic_int started{0};
    {
        ExecuteThread thread;
        QSignalSpy operations(&thread, &ExecuteThread::operationStarted);
        QSignalSpy completed(&thread, &ExecuteThread::completed);
        QSignalSpy aborted(&thread, &ExecuteThread::aborted);
        connect(&thread, &ExecuteThread::operationStarted, this, [&] { ++started; }, Qt::DirectConnection);
        configure(thread, job);
        thread.start();
        QTRY_VERIFY_WITH_TIMEOUT(started.load() == 1, 30000);
        QTest::qWait(300);
        QElapsedTimer timer;
        timer.start();
        thread.stop();
        QVERIFY(thread.wait(10000));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString("%1 ms").arg(timer.elapsed())));
        QCOMPARE(operations.size(), 1);
        QCOMPARE(completed.size(), 0);
        QCOMPARE(aborted.size(), 0);
        QVERIFY(!QFile::exists(job.destinations.at(0)));

        // The next job handed over runs normally.
        QFile::remove(path("tools/convert"));
        configure(thread, job);
        thread.start();
        QVERIFY(thread.wait(60000));
        QCOMPARE(completed.size(), 1);
    }

    makeTool("convert", QString("sleep 30\nexec %1 \"$@\"").arg(realConvert()));
    started = 0;
    QElapsedTimer timer;
    {
        auto thread = std::make_unique<ExecuteThread>();
        connect(thread.get(), &ExecuteThread::operationStarted, this, [&] { ++started; }, Qt::DirectConnection);
        configure(*thread, job);
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(started.load() == 1, 30000);
        timer.start();
    }
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString("%1 ms").arg(timer.elapsed())));
}

// Memory exhaustion while making the accumulator is reported against the first source.
void TestExecuteThread::memoryExhaustionIsReported()
{
#if defined(VELUMEN_ASAN) || !defined(Q_OS_UNIX)
    QSKIP("needs an address-space limit, which the sanitizer runtime does not allow");
#else
    const QStringList sources = makeSources(2);
    // 40000 x 16000 x 3 samples fit the sample count but take 7.7 GB.
    makeTool("identify", "printf '40000::16000::16::srgb'");
    Job job;
    job.sources = sources;
    job.plan = buildStackPlan(StackSettings{2, 0, 1, 1, 0, 50, 50});
    job.destinations = destinations(1);

    rlimit previous;
    QCOMPARE(getrlimit(RLIMIT_AS, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = rlim_t(4) << 30;
    QCOMPARE(setrlimit(RLIMIT_AS, &limited), 0);
    const Outcome outcome = runJob(job);
    QCOMPARE(setrlimit(RLIMIT_AS, &previous), 0);

    QVERIFY(outcome.operations.isEmpty());
    QCOMPARE(outcome.completed, 0);
    QCOMPARE(outcome.aborted, (QList<QPair<bool, QString>>{qMakePair(true, sources.at(0))}));
#endif
}

QTEST_GUILESS_MAIN(TestExecuteThread)
#include "tst_executethread.moc"
