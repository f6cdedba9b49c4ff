// What the destination images keep of their sources besides the pixels: the first source's colour
// profile, EXIF and XMP, changed to describe the stack, in every file type; checked with independent
// readers (exiv2, ImageMagick, tiffinfo) on files made here.

#include "executethread.h"
#include "stackjob.h"
#include "testtools.h"

#include <QColorSpace>
#include <QRegularExpression>
#include <QtTest>

using TestTools::readFile;
typedef QMap<QString, QString> Tags;

namespace {

const QStringList Types{"jpg", "png", "tiff", "tiff16"};

QByteArray profile(QColorSpace::NamedColorSpace space)
{
    return QColorSpace(space).iccProfile();
}

// Adobe RGB with its white point tag renamed: a profile Qt cannot apply, to be carried all the same.
QByteArray unusualProfile()
{
    return profile(QColorSpace::AdobeRgb).replace("wtpt", "wtpX");
}

} // namespace

class TestMetadata : public QObject
{
    Q_OBJECT

    QScopedPointer<TestTools::ToolSandbox> sandbox;
    QString errors; // what the last run of velumen-stack wrote to standard error

    QString path(const QString &name) const { return sandbox->filePath(name); }

    bool tool(const QString &program, const QStringList &arguments, QByteArray *output = nullptr) const
    {
        return TestTools::ToolSandbox::run(program, arguments, output);
    }

    // A frame of ImageMagick's own drawing with the given profile embedded and, for a non-empty capture
    // time, camera data of a night shot (GPS, lens, XMP, in a JPEG a thumbnail). Source k differs in its
    // samples and in its capture time.
    QString makeSource(const QString &name, const QByteArray &icc, int k, const QString &time = QString(),
                       int depth = 8)
    {
        const QString file = path(name);
        QStringList arguments{"-size", "40x30", "-seed", QString::number(k), "plasma:", "-quality", "100",
                              "-depth", QString::number(depth)};
        if (!icc.isEmpty() && TestTools::writeFile(path("p.icc"), icc))
            arguments << "-profile" << path("p.icc");
        if (!sandbox->convert(arguments << file))
            return QString();
        if (time.isEmpty())
            return file;
        const QStringList set{
            "Exif.Image.Model Ascii NightCam 7", "Exif.Photo.LensModel Ascii 14mm f/2.8",
            "Exif.Photo.ISOSpeedRatings Short 3200", "Exif.Photo.ExposureTime Rational 25/1",
            "Exif.GPSInfo.GPSLatitudeRef Ascii N", "Exif.GPSInfo.GPSLatitude Rational 49/1 12/1 3000/100",
            "Exif.Image.Orientation Short 6", "Exif.Photo.DateTimeOriginal Ascii " + time,
            "Exif.Photo.SubSecTimeOriginal Ascii 4" + QString::number(k),
            "Exif.Photo.OffsetTimeOriginal Ascii +02:00", "Xmp.dc.title night sky"};
        QStringList exiv2;
        for (const QString &line : set)
            exiv2 << "-M" << "set " + line;
        if (!tool("exiv2", exiv2 << file) || !name.endsWith(".jpg"))
            return file;
        const QString thumb = path(QFileInfo(file).completeBaseName() + "-thumb.jpg");
        const bool ok = sandbox->convert({"-size", "8x6", "xc:red", thumb}) && tool("exiv2", {"-it", file});
        return ok ? file : QString();
    }

    // exiv2 -pa as key to value.
    Tags tags(const QString &file) const
    {
        QByteArray listed;
        tool("exiv2", {"-pa", file}, &listed);
        Tags result;
        static const QRegularExpression line("^(\\S+)\\s+\\S+\\s+\\d+\\s*(.*)$");
        for (const QString &text : QString(listed).split('\n', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = line.match(text);
            if (match.hasMatch())
                result.insert(match.captured(1), match.captured(2));
        }
        return result;
    }

    // The profile as ImageMagick finds it in the file; empty when there is none.
    QByteArray icc(const QString &file) const
    {
        QByteArray bytes;
        return sandbox->convert({file, "icc:-"}, &bytes) ? bytes : QByteArray();
    }

    QByteArray pixels(const QString &file, const QStringList &options = {}) const
    {
        QByteArray raw;
        sandbox->convert(QStringList(file) << options << "-depth" << "16" << "rgb:-", &raw);
        return raw;
    }

    int stack(const QStringList &arguments)
    {
        QProcess process;
        process.start(VELUMEN_STACK, arguments + QStringList{"--quiet"});
        process.waitForFinished(120000);
        errors = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private slots:
    void init()
    {
        sandbox.reset(new TestTools::ToolSandbox);
        QVERIFY(sandbox->isValid());
    }
    // Before the next sandbox is made, so that each function starts in its own folder.
    void cleanup() { sandbox.reset(); }

    void carriedIntoEveryType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("profile");
        for (const QString &type : Types) {
            QTest::newRow(qPrintable(type)) << type << profile(QColorSpace::AdobeRgb);
            QTest::newRow(qPrintable(type + " unusual profile")) << type << unusualProfile();
        }
    }

    // Two destination images of groups of 2: each has the first source's profile and camera data, its own
    // first source's capture time, no thumbnail, its size, Velumen as the software and a description;
    // the pixels are those of the same stack without metadata. The sources are left as they were.
    void carriedIntoEveryType()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, profile);
        const QStringList times{"2026:03:01 22:00:00", "2026:03:01 22:00:30", "2026:03:01 22:01:00"};
        QStringList sources, plain;
        QByteArray before;
        for (int k = 0; k < 3; ++k) {
            sources << makeSource(QString("f%1.jpg").arg(k), k == 0 ? profile : QByteArray(), k, times[k]);
            plain << makeSource(QString("plain%1.jpg").arg(k), QByteArray(), k);
            before += readFile(sources.last());
        }
        QVERIFY(!sources.contains(QString()) && !plain.contains(QString()));
        QVERIFY(!tags(sources[0]).value("Exif.Thumbnail.JPEGInterchangeFormat").isEmpty());
        const QStringList options{"-c", "groups", "-g", "2", "-f", type, "-o", sandbox->path()};
        QVERIFY2(stack(QStringList{"-p", "out*.x"} + options + sources) == 0, qPrintable(errors));
        QVERIFY2(stack(QStringList{"-p", "plain*.x"} + options + plain) == 0, qPrintable(errors));
        QCOMPARE(readFile(sources[0]) + readFile(sources[1]) + readFile(sources[2]), before);

        for (int i = 0; i < 2; ++i) {
            const QString out = path(QString("out%1.x").arg(i));
            QCOMPARE(icc(out), profile);
            QCOMPARE(pixels(out), pixels(path(QString("plain%1.x").arg(i))));
            const Tags source = tags(sources[0]), written = tags(out);
            for (const char *key : {"Exif.Image.Model", "Exif.Photo.LensModel", "Exif.Photo.ISOSpeedRatings",
                                    "Exif.Photo.ExposureTime", "Exif.GPSInfo.GPSLatitude",
                                    "Exif.GPSInfo.GPSLatitudeRef", "Exif.Image.Orientation", "Xmp.dc.title"})
                QCOMPARE(written.value(key, "missing"), source.value(key));
            QCOMPARE(written.value("Exif.Photo.DateTimeOriginal"), times[i]);
            QCOMPARE(written.value("Exif.Photo.SubSecTimeOriginal")
                         + written.value("Exif.Photo.OffsetTimeOriginal"),
                     QString("4%1+02:00").arg(i));
            QCOMPARE(written.value("Exif.Photo.PixelXDimension") + 'x'
                         + written.value("Exif.Photo.PixelYDimension"),
                     QString("40x30"));
            QCOMPARE(written.value("Exif.Image.Software"), QString("Velumen 0.1"));
            QCOMPARE(written.value("Xmp.dc.description"),
                     QString("lang=\"x-default\" Stacked by Velumen 0.1 from 2 source images, Lighten only, "
                             "Groups of images (2 images per group, step 1). Captured from %1 to %2.")
                         .arg(times[i], times[i + 1]));
            QVERIFY(written.keys().filter(QRegularExpression("Thumbnail|Preview")).isEmpty());
            // ImageMagick reads the orientation and the size the same way.
            QByteArray described;
            QVERIFY(tool("identify", {"-format", "%[orientation] %wx%h", out}, &described));
            QCOMPARE(described, QByteArray("RightTop 40x30"));
        }
        // The 16-bit TIFF stays 16-bit (its pixels would compare the same at 8 bits).
        QByteArray info;
        QVERIFY(type != "tiff16"
                || (tool("tiffinfo", {path("out0.x")}, &info) && info.contains("Bits/Sample: 16")));
    }

    // A damaged EXIF block in the first source gives a complete destination without metadata, and no
    // failure: the very bytes a source without metadata gives, as before.
    void damagedGivesNone()
    {
        const QString plain = makeSource("plain.jpg", QByteArray(), 0);
        const QString tagged =
            makeSource("tagged.jpg", profile(QColorSpace::AdobeRgb), 0, "2026:03:01 22:00:00");
        QVERIFY(!plain.isEmpty() && !tagged.isEmpty());
        // The count of the first IFD0 entry made enormous, or the offset of IFD0 put past the end.
        QByteArray damaged = readFile(tagged), beyond = damaged;
        const int tiff = damaged.indexOf(QByteArray("Exif\0\0", 6)) + 6;
        QVERIFY(tiff > 6 && damaged.mid(tiff, 2) == "II");
        damaged.replace(tiff + 8 + 2 + 4, 4, QByteArray("\xff\xff\xff\x7f", 4));
        beyond.replace(tiff + 4, 4, QByteArray("\xf0\xff\xff\x00", 4));
        QVERIFY(TestTools::writeFile(path("damaged.jpg"), damaged)
                && TestTools::writeFile(path("beyond.jpg"), beyond));
        for (const QString &type : Types) {
            QVERIFY2(stack({"-f", type, "-p", "plain" + type + "*.x", plain}) == 0, qPrintable(errors));
            const QByteArray expected = readFile(path("plain" + type + "0.x"));
            QVERIFY(!expected.isEmpty() && icc(path("plain" + type + "0.x")).isEmpty());
            for (const QString &source : {path("damaged.jpg"), path("beyond.jpg")}) {
                const QString name = QFileInfo(source).baseName() + type;
                QVERIFY2(stack({"-f", type, "-p", name + "*.x", source}) == 0, qPrintable(errors));
                QVERIFY2(readFile(path(name + "0.x")) == expected, qPrintable(name));
            }
        }
    }

    // Shown as a viewer shows it: an Adobe RGB frame in a PNG, and a ProPhoto one in a 16-bit TIFF,
    // converted to sRGB by ImageMagick, look the same before and after the stack.
    void colourAsAViewerSees()
    {
        QVERIFY(TestTools::writeFile(path("srgb.icc"), profile(QColorSpace::SRgb)));
        const QStringList toSrgb{"-profile", path("srgb.icc"), "-depth", "8"};
        const struct { QColorSpace::NamedColorSpace space; const char *type; } cases[] = {
            {QColorSpace::AdobeRgb, "png"}, {QColorSpace::ProPhotoRgb, "tiff16"}};
        for (const auto &c : cases) {
            // The 16-bit TIFF without EXIF: its profile as the own writer lays it out, untouched by Exiv2.
            const bool wide = QByteArray(c.type) == "tiff16";
            const QString source = makeSource(QString("%1.tif").arg(c.type), profile(c.space), 0,
                                              wide ? "" : "2026:03:01 22:00:00", wide ? 16 : 8);
            QVERIFY(!source.isEmpty());
            QCOMPARE(stack({"-f", c.type, "-p", QString(c.type) + "*.x", source}), 0);
            const QString out = path(QString(c.type) + "0.x");
            const QByteArray seen = pixels(out, toSrgb);
            // A TIFF source's EXIF describes its own layout, which a PNG has not.
            QCOMPARE(tags(out).contains("Exif.Image.BitsPerSample"), wide);
            const QByteArray meant = pixels(source, toSrgb);
            QCOMPARE(seen.size(), meant.size());
            int worst = 0;
            for (int i = 0; i + 1 < seen.size(); i += 2)
                worst = qMax(worst, qAbs(quint8(seen[i + 1]) - quint8(meant[i + 1])));
            QVERIFY2(worst <= 1, qPrintable(c.type + QString::number(worst)));
        }
    }

    // Sources with different profiles: the first's is used, the run goes on, and velumen-stack says so once.
    // The worker writes the same bytes as velumen-stack.
    void profilesDiffer()
    {
        const QString night = "2026:03:01 22:00:00";
        const QStringList sources{makeSource("a.jpg", profile(QColorSpace::AdobeRgb), 0, night),
                                  makeSource("b.jpg", profile(QColorSpace::ProPhotoRgb), 1),
                                  makeSource("c.jpg", QByteArray(), 2)};
        QVERIFY(!sources.contains(QString()));
        QCOMPARE(stack(QStringList{"-c", "previous", "-p", "cli*.jpg"} + sources), 0);
        QCOMPARE(errors.count("colour profile"), 1);
        QVERIFY2(errors.contains(sources[1]), qPrintable(errors));
        QCOMPARE(stack(QStringList{"-c", "previous", "-p", "one*.jpg"} + sources.mid(0, 1)), 0);
        QVERIFY(errors.isEmpty());

        const StackJob job = buildStackJob(sources, {3, 1}, sandbox->path(), NamePattern("w*.jpg"), 0, 0, 92);
        QCOMPARE(TestTools::Job(job).run().last(), QString("completed"));
        for (const QString &i : QStringList{"0.jpg", "1.jpg", "2.jpg"}) {
            const QByteArray written = readFile(path("w" + i));
            QVERIFY(icc(path("cli" + i)) == profile(QColorSpace::AdobeRgb) && !written.isEmpty()
                    && written == readFile(path("cli" + i)));
        }
    }
};

QTEST_GUILESS_MAIN(TestMetadata)
#include "tst_metadata.moc"
