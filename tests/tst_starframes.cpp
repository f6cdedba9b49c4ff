// The sample frames at a real camera's size, within ImageMagick's default resource limits.

#include <QImage>
#include <QtMath>
#include <QtTest>

class TestStarFrames : public QObject
{
    Q_OBJECT

private slots:
    // Two frames of 6000 x 4000: the stars turned 0.25 degrees clockwise about the pole, the hill fixed.
    void realSizeFrames()
    {
        const int w = 6000, h = 4000;
        QTemporaryDir dir;
        QProcess script;
        script.start(VELUMEN_STAR_FRAMES, {dir.path(), "2", QString::number(w), QString::number(h)});
        QVERIFY(script.waitForFinished(600000) && script.exitCode() == 0);
        const QImage a(dir.filePath("frame0000.jpg")), b(dir.filePath("frame0001.jpg"));
        QVERIFY(a.size() == QSize(w, h) && b.size() == QSize(w, h));
        // Below the hill's lowest edge (78 % down) the same dark ground, to the pixel.
        for (int y = h * 80 / 100; y < h; ++y)
            QVERIFY(!memcmp(a.constScanLine(y), b.constScanLine(y), w * 4) && qGray(a.pixel(y % w, y)) < 16);

        // Each bright star of the sky found again where the turn takes it, and gone from where it was.
        const QPointF pole(w * 0.55, h * 0.12);
        const auto bright = [](const QImage &image, QPointF p) {
            for (int k = 0; k < 25; ++k)
                if (qGray(image.pixel(qRound(p.x()) + k % 5 - 2, qRound(p.y()) + k / 5 - 2)) >= 150)
                    return true;
            return false;
        };
        int stars = 0, followed = 0, stayed = 0;
        for (int y = 10; y < h * 60 / 100; ++y)
            for (int x = 10; x < w - 10; ++x) {
                const QPointF from(x, y), offset = from - pole;
                const double r = std::hypot(offset.x(), offset.y()), turn = qDegreesToRadians(0.25);
                const double angle = std::atan2(offset.y(), offset.x()) + turn;
                const QPointF to = pole + r * QPointF(std::cos(angle), std::sin(angle));
                // Near the pole a star moves too little to tell.
                if (qGray(a.pixel(x, y)) < 230 || r < 1500 || !QRectF(3, 3, w - 7, h * 0.6).contains(to))
                    continue;
                ++stars, followed += bright(b, to), stayed += bright(b, from);
                x += 4; // past this star
            }
        QVERIFY2(stars > 200 && followed > stars * 0.95 && stayed < stars * 0.2,
                 qPrintable(
                     QString("%1 stars, %2 followed, %3 stayed").arg(stars).arg(followed).arg(stayed)));
    }
};

QTEST_GUILESS_MAIN(TestStarFrames)
#include "tst_starframes.moc"
