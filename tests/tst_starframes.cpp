// The sample frames at a real camera's size: scripts/make-star-frames.sh within ImageMagick's
// default resource limits, the stars turned about the pole from one frame to the next, the hill fixed.

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtMath>
#include <QtTest>

class TestStarFrames : public QObject
{
    Q_OBJECT

private slots:
    void realSizeFrames()
    {
        const int width = 6000, height = 4000;
        QTemporaryDir dir;
        QProcess script;
        script.start(VELUMEN_STAR_FRAMES,
                     {dir.filePath("frames"), "2", QString::number(width), QString::number(height)});
        QVERIFY(script.waitForFinished(600000));
        QVERIFY2(script.exitCode() == 0, script.readAllStandardError().constData());
        const QImage first(dir.filePath("frames/frame0000.jpg")), second(dir.filePath("frames/frame0001.jpg"));
        QCOMPARE(first.size(), QSize(width, height));
        QCOMPARE(second.size(), QSize(width, height));

        // Below the hill's lowest edge (78 % down) both frames are the same dark ground, to the pixel.
        for (int y = height * 80 / 100; y < height; ++y) {
            const QRgb *a = reinterpret_cast<const QRgb *>(first.constScanLine(y));
            const QRgb *b = reinterpret_cast<const QRgb *>(second.constScanLine(y));
            QVERIFY2(std::equal(a, a + width, b), qPrintable(QString("row %1").arg(y)));
            QVERIFY(qGray(a[y % width]) < 16);
        }

        // The bright stars of the sky above the hill, each found again a quarter of a degree further
        // clockwise about the pole in the next frame, and gone from where it was.
        const QPointF pole(width * 0.55, height * 0.12);
        const double turn = qDegreesToRadians(0.25);
        const auto bright = [](const QImage &image, QPointF p, int level) {
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    if (qGray(image.pixel(qRound(p.x()) + dx, qRound(p.y()) + dy)) >= level)
                        return true;
            return false;
        };
        int stars = 0, followed = 0, stayed = 0;
        for (int y = 10; y < height * 60 / 100; ++y)
            for (int x = 10; x < width - 10; ++x) {
                const QPointF from(x, y);
                const QPointF offset = from - pole;
                const double distance = std::hypot(offset.x(), offset.y());
                // Close to the pole a star moves too little to tell from its neighbours.
                if (qGray(first.pixel(x, y)) < 230 || distance < 1500)
                    continue;
                const double angle = std::atan2(offset.y(), offset.x()) + turn;
                const QPointF to = pole + distance * QPointF(std::cos(angle), std::sin(angle));
                if (to.x() < 3 || to.y() < 3 || to.x() > width - 4 || to.y() > height * 0.6)
                    continue;
                ++stars;
                followed += bright(second, to, 150);
                stayed += bright(second, from, 150);
                x += 4; // the rest of this star
            }
        QVERIFY2(stars > 200, qPrintable(QString::number(stars)));
        QVERIFY2(followed > stars * 0.95 && stayed < stars * 0.2,
                 qPrintable(QString("%1 stars, %2 followed, %3 stayed").arg(stars).arg(followed).arg(stayed)));
    }
};

QTEST_GUILESS_MAIN(TestStarFrames)
#include "tst_starframes.moc"
