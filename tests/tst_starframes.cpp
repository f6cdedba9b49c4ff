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
        const QStringList size{QString::number(w), QString::number(h)};
        QCOMPARE(QProcess::execute(VELUMEN_STAR_FRAMES, QStringList{dir.path(), "2"} + size), 0);
        const QImage a(dir.filePath("frame0000.jpg")), b(dir.filePath("frame0001.jpg"));
        QVERIFY(a.size() == QSize(w, h) && b.size() == QSize(w, h));
        // Below the hill's lowest edge (78 % down) the same dark ground, to the pixel.
        for (int y = h * 80 / 100; y < h; ++y)
            QVERIFY(!memcmp(a.constScanLine(y), b.constScanLine(y), w * 4) && qGray(a.pixel(y % w, y)) < 16);

        // Each bright star of the sky is found again where the turn takes it (near the pole a star
        // moves too little to tell).
        const QPointF pole(w * 0.55, h * 0.12);
        int stars = 0, followed = 0;
        for (int y = 10; y < h * 60 / 100; ++y)
            for (int x = 10; x < w - 10; ++x) {
                const QPointF offset = QPointF(x, y) - pole;
                const double r = std::hypot(offset.x(), offset.y());
                const double angle = std::atan2(offset.y(), offset.x()) + qDegreesToRadians(0.25);
                const QPoint to = (pole + r * QPointF(std::cos(angle), std::sin(angle))).toPoint();
                if (qGray(a.pixel(x, y)) < 230 || r < 1500 || !QRect(3, 3, w - 7, h * 6 / 10).contains(to))
                    continue;
                int brightest = 0;
                for (int k = 0; k < 25; ++k)
                    brightest = qMax(brightest, qGray(b.pixel(to + QPoint(k % 5 - 2, k / 5 - 2))));
                ++stars, followed += brightest >= 150, x += 4; // past this star
            }
        QVERIFY2(stars > 200 && followed > stars * 0.95,
                 qPrintable(QString("%1 of %2").arg(followed).arg(stars)));
    }
};

QTEST_GUILESS_MAIN(TestStarFrames)
#include "tst_starframes.moc"
