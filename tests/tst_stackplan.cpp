#include "stackplan.h"

#include <QtTest>

Q_DECLARE_METATYPE(StackSettings)

class TestStackPlan : public QObject
{
    Q_OBJECT

private slots:
    // Each destination image as its sources in order, "index" at weight exactly 1 or "index:weight" with
    // the weight's shortest exact decimal, "|" between images. Weights are compared exactly: consecutive
    // images are compared by equal weights, so the order of operations that makes them is part of the result.
    void plan_data()
    {
        QTest::addColumn<StackSettings>("input");
        QTest::addColumn<QString>("expected");
        for (int condition = 0; condition <= 4; ++condition)
            QTest::addRow("n = 0, condition %d", condition) << StackSettings{0, condition, 1, 1, 0, 50, 50} << "";
        QTest::newRow("groups g = n") << StackSettings{10, 2, 10, 3, 0, 50, 50} << "0 1 2 3 4 5 6 7 8 9";
        QTest::newRow("groups g > n") << StackSettings{10, 2, 11, 1, 0, 50, 50} << "";
        QTest::newRow("groups s > n") << StackSettings{10, 2, 3, 20, 0, 50, 50} << "0 1 2";
        QTest::newRow("loop 4/2 wraps") << StackSettings{10, 3, 4, 2, 0, 50, 50} << "0 1 2 3|2 3 4 5|4 5 6 7|6 7 8 9|8 9 0 1";
        QTest::newRow("loop s > n") << StackSettings{10, 3, 4, 11, 0, 50, 50} << "";
        QTest::newRow("loop g > n repeats") << StackSettings{3, 3, 5, 1, 0, 50, 50} << "0 1 2 0 1|1 2 0 1 2|2 0 1 2 0";
        QTest::newRow("disjoint 3") << StackSettings{10, 4, 3, 1, 0, 50, 50} << "0 3 6 9|1 4 7|2 5 8";
        QTest::newRow("disjoint groups > n") << StackSettings{4, 4, 9999, 1, 0, 50, 50} << "0|1|2|3";
        // An unknown condition, a step or group count of 0: no images rather than a division by zero.
        for (const StackSettings &refused : {StackSettings{10, 5, 1, 1, 0, 50, 50}, StackSettings{10, 2, 1, 0, 0, 50, 50},
                                             StackSettings{10, 3, 1, 0, 0, 50, 50}, StackSettings{10, 4, 0, 1, 0, 50, 50}})
            QTest::addRow("refused, condition %d", refused.condition) << refused << "";
        QTest::newRow("unknown fade") << StackSettings{4, 0, 1, 1, 7, 50, 50} << "0 1 2 3";
        QTest::newRow("in 50") << StackSettings{10, 0, 1, 1, 1, 50, 0} << "0:0.2 1:0.4 2:0.6 3:0.8 4 5 6 7 8 9";
        QTest::newRow("out 50 uses p1") << StackSettings{10, 0, 1, 1, 2, 50, 0}
                                        << "0 1 2 3 4 5 6:0.8 7:0.6000000000000001 8:0.3999999999999999 9:0.19999999999999996";
        QTest::newRow("in and out 50/50") << StackSettings{10, 0, 1, 1, 3, 50, 50}
                                          << "0:0.2 1:0.4 2:0.6 3:0.8 4 5 6:0.8 7:0.6000000000000001 8:0.3999999999999999 9:0.19999999999999996";
        // 70 x 0.01 is not 70 / 100.0 in double precision.
        QTest::newRow("in 70") << StackSettings{3, 0, 1, 1, 1, 70, 0} << "0:0.4761904761904761 1:0.9523809523809522 2";
        // Overlapping ranges: the fade-in weight wins while x is below P; at x = P the fade-out one applies.
        QTest::newRow("in and out 80/80") << StackSettings{5, 0, 1, 1, 3, 80, 80} << "0:0.25 1:0.5 2:0.7499999999999999 3:0.5 4:0.24999999999999994";
        QTest::newRow("in and out 50/80") << StackSettings{4, 0, 1, 1, 3, 50, 80} << "0:0.5 1:0.9375 2:0.625 3:0.3125";
        QTest::newRow("in 0") << StackSettings{3, 0, 1, 1, 1, 0, 50} << "0 1 2";
        QTest::newRow("in and out 0/0") << StackSettings{3, 0, 1, 1, 3, 0, 0} << "0 1 2";
        QTest::newRow("in 100") << StackSettings{4, 0, 1, 1, 1, 100, 0} << "0:0.25 1:0.5 2:0.75 3";
        QTest::newRow("out 100") << StackSettings{3, 0, 1, 1, 2, 100, 0} << "0 1:0.6666666666666667 2:0.33333333333333337";
        for (int fade = 1; fade <= 3; ++fade)
            QTest::addRow("single source, fade %d at 100", fade) << StackSettings{1, 0, 1, 1, fade, 100, 100} << "0";
        QTest::newRow("all previous, fade in 50") << StackSettings{4, 1, 1, 1, 1, 50, 50} << "0|0 1|0:0.6666666666666666 1 2|0:0.5 1 2 3";
        QTest::newRow("groups 4/2, fade in 50")
            << StackSettings{10, 2, 4, 2, 1, 50, 50} << "0:0.5 1 2 3|2:0.5 3 4 5|4:0.5 5 6 7|6:0.5 7 8 9";
        // Repeated indexes are distinct pairs only where their weights differ.
        QTest::newRow("loop g > n, fade in 100") << StackSettings{2, 3, 4, 1, 1, 100, 50} << "0:0.25 1:0.5 0:0.75 1|1:0.25 0:0.5 1:0.75 0";
        QTest::newRow("disjoint, fade out 50") << StackSettings{5, 4, 2, 1, 2, 50, 50} << "0 2 4:0.6666666666666667|1 3";
    }

    void plan()
    {
        QFETCH(StackSettings, input);
        QFETCH(QString, expected);
        const StackPlan plan = buildStackPlan(input);
        const QStringList images = expected.isEmpty() ? QStringList() : expected.split('|');
        QCOMPARE(destinationImageCount(input), images.size());
        QCOMPARE(plan.size(), images.size());
        for (int i = 0; i < images.size(); ++i) {
            QList<int> order;
            QSet<QPair<int, double>> pairs;
            for (const QString &token : images.at(i).split(' ')) {
                order << token.section(':', 0, 0).toInt();
                pairs.insert({order.last(), token.contains(':') ? token.section(':', 1).toDouble() : 1.0});
            }
            QCOMPARE(sourceIndexes(input, i), order);
            QStringList got;
            for (const auto &pair : plan.at(i))
                got << QString::number(pair.first) + ':' + QString::number(pair.second, 'g', QLocale::FloatingPointShortest);
            got.sort();
            QVERIFY2(plan.at(i) == pairs, qPrintable(QString("image %1 holds %2").arg(i).arg(got.join(' '))));
        }
        QVERIFY(sourceIndexes(input, -1).isEmpty() && sourceIndexes(input, plan.size()).isEmpty());
    }

    // Every index stays among the sources and every weight in (0, 1], over many combinations.
    void everyPlanIsWellFormed()
    {
        const int percentages[] = {0, 1, 33, 50, 67, 99, 100};
        for (int n = 0; n <= 9; ++n)
            for (int condition = 0; condition <= 4; ++condition)
                for (int g = 1; g <= 11; g += 2)
                    for (int s = 1; s <= 11; s += 3)
                        for (int fade = 0; fade <= 3; ++fade)
                            for (int p1 : percentages)
                                for (int p2 : percentages) {
                                    const StackSettings input{n, condition, g, s, fade, p1, p2};
                                    for (const auto &set : buildStackPlan(input)) {
                                        QVERIFY(!set.isEmpty());
                                        for (const auto &pair : set)
                                            QVERIFY(pair.first >= 0 && pair.first < n && pair.second > 0
                                                    && pair.second <= 1);
                                    }
                                }
    }
};

QTEST_APPLESS_MAIN(TestStackPlan)
#include "tst_stackplan.moc"
