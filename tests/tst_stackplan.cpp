#include "stackplan.h"

#include <QtTest>

Q_DECLARE_METATYPE(StackSettings)

class TestStackPlan : public QObject
{
    Q_OBJECT

private slots:
    // Each destination image as its sources in the order that gives their fade weights, "index" at weight exactly 1 or "index:weight" with
    // the weight's shortest exact decimal, "|" between images. Weights are compared exactly: consecutive
    // images are compared by equal weights, so the order of operations that makes them is part of the result.
    void plan_data()
    {
        QTest::addColumn<StackSettings>("input");
        QTest::addColumn<QString>("expected");
        const auto settings = [](int n, int condition, int g = 1, int s = 1, int fade = 0, int p1 = 50, int p2 = 50) {
            return StackSettings{n, condition, g, s, fade, p1, p2};
        };
        for (int condition = 0; condition <= 4; ++condition)
            QTest::addRow("n = 0, condition %d", condition) << settings(0, condition) << "";
        QTest::newRow("groups g = n") << settings(10, 2, 10, 3) << "0 1 2 3 4 5 6 7 8 9";
        QTest::newRow("groups g > n") << settings(10, 2, 11) << "";
        QTest::newRow("groups s > n") << settings(10, 2, 3, 20) << "0 1 2";
        QTest::newRow("loop 4/2 wraps") << settings(10, 3, 4, 2) << "0 1 2 3|2 3 4 5|4 5 6 7|6 7 8 9|8 9 0 1";
        QTest::newRow("loop s > n") << settings(10, 3, 4, 11) << "";
        QTest::newRow("loop g > n repeats") << settings(3, 3, 5) << "0 1 2 0 1|1 2 0 1 2|2 0 1 2 0";
        QTest::newRow("disjoint 3") << settings(10, 4, 3) << "0 3 6 9|1 4 7|2 5 8";
        QTest::newRow("disjoint groups > n") << settings(4, 4, 9999) << "0|1|2|3";
        // An unknown condition, a step or group count of 0: no images rather than a division by zero.
        for (const StackSettings &refused : {settings(10, 5), settings(10, 2, 1, 0), settings(10, 3, 1, 0),
                                             settings(10, 3, 0), settings(10, 4, 0)})
            QTest::addRow("refused %d/%d/%d", refused.condition, refused.conditionOption1, refused.conditionOption2)
                << refused << "";
        QTest::newRow("unknown fade") << settings(4, 0, 1, 1, 7) << "0 1 2 3";
        const QString in50 = "0:0.2 1:0.4 2:0.6 3:0.8 4 5", out50 = " 6:0.8 7:0.6000000000000001 8:0.3999999999999999";
        QTest::newRow("in 50") << settings(10, 0, 1, 1, 1, 50, 0) << in50 + " 6 7 8 9";
        QTest::newRow("out 50 uses p1") << settings(10, 0, 1, 1, 2, 50, 0) << "0 1 2 3 4 5" + out50 + " 9:0.19999999999999996";
        QTest::newRow("in and out 50/50") << settings(10, 0, 1, 1, 3) << in50 + out50 + " 9:0.19999999999999996";
        // 70 x 0.01 is not 70 / 100.0 in double precision.
        QTest::newRow("in 70") << settings(3, 0, 1, 1, 1, 70, 0) << "0:0.4761904761904761 1:0.9523809523809522 2";
        // Overlapping ranges: the fade-in weight wins while x is below P; at x = P the fade-out one applies.
        QTest::newRow("in and out 80/80") << settings(5, 0, 1, 1, 3, 80, 80) << "0:0.25 1:0.5 2:0.7499999999999999 3:0.5 4:0.24999999999999994";
        QTest::newRow("in and out 50/80") << settings(4, 0, 1, 1, 3, 50, 80) << "0:0.5 1:0.9375 2:0.625 3:0.3125";
        QTest::newRow("in 0") << settings(3, 0, 1, 1, 1, 0) << "0 1 2";
        QTest::newRow("in and out 0/0") << settings(3, 0, 1, 1, 3, 0, 0) << "0 1 2";
        QTest::newRow("in 100") << settings(4, 0, 1, 1, 1, 100, 0) << "0:0.25 1:0.5 2:0.75 3";
        QTest::newRow("out 100") << settings(3, 0, 1, 1, 2, 100, 0) << "0 1:0.6666666666666667 2:0.33333333333333337";
        for (int fade = 1; fade <= 3; ++fade)
            QTest::addRow("single source, fade %d at 100", fade) << settings(1, 0, 1, 1, fade, 100, 100) << "0";
        QTest::newRow("all previous, fade in 50") << settings(4, 1, 1, 1, 1) << "0|0 1|0:0.6666666666666666 1 2|0:0.5 1 2 3";
        QTest::newRow("groups 4/2, fade in 50") << settings(10, 2, 4, 2, 1) << "0:0.5 1 2 3|2:0.5 3 4 5|4:0.5 5 6 7|6:0.5 7 8 9";
        // Repeated indexes are distinct pairs only where their weights differ.
        QTest::newRow("loop g > n, fade in 100") << settings(2, 3, 4, 1, 1, 100) << "0:0.25 1:0.5 0:0.75 1|1:0.25 0:0.5 1:0.75 0";
        QTest::newRow("disjoint, fade out 50") << settings(5, 4, 2, 1, 2) << "0 2 4:0.6666666666666667|1 3";
    }

    void plan()
    {
        QFETCH(StackSettings, input);
        QFETCH(QString, expected);
        const StackPlan plan = buildStackPlan(input);
        const QStringList images = expected.isEmpty() ? QStringList() : expected.split('|');
        QCOMPARE(destinationImageCount(input), images.size());
        QCOMPARE(plan.size(), images.size());
        const auto sorted = [](QStringList list) { list.sort(); list.removeDuplicates(); return list.join(' '); };
        for (int i = 0; i < images.size(); ++i) {
            QStringList pairs;
            for (const auto &[index, weight] : plan[i])
                pairs << QString::number(index) + ':' + QString::number(weight, 'g', QLocale::FloatingPointShortest);
            const QString unitWeights = QString(images[i]).replace(QRegularExpression("(^| )(\\d+)(?= |$)"), "\\1\\2:1");
            QCOMPARE(sorted(pairs), sorted(unitWeights.split(' ')));
        }
        QVERIFY(sourceIndexes(input, -1).isEmpty() && sourceIndexes(input, plan.size()).isEmpty());
    }

    // Every image is a non-empty set, every index among the sources and every weight in (0, 1], over many
    // combinations (a mixed-radix count over condition, g, s, fade, p1 and p2).
    void everyPlanIsWellFormed()
    {
        const int percent[] = {0, 1, 33, 50, 67, 99, 100};
        for (int n = 0; n <= 9; ++n)
            for (int c = 0; c < 5 * 6 * 4 * 4 * 7 * 7; ++c)
                for (const auto &set : buildStackPlan({n, c % 5, 1 + c / 5 % 6 * 2, 1 + c / 30 % 4 * 3, c / 120 % 4,
                                                       percent[c / 480 % 7], percent[c / 3360]})) {
                    QVERIFY(!set.isEmpty());
                    for (const auto &[index, weight] : set)
                        if (index < 0 || index >= n || weight <= 0 || weight > 1)
                            QFAIL(qPrintable(QString("n %1, combination %2: %3 at %4").arg(n).arg(c).arg(index).arg(weight)));
                }
    }
};

QTEST_APPLESS_MAIN(TestStackPlan)
#include "tst_stackplan.moc"
