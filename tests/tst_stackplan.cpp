#include "stackplan.h"

#include <QtTest>

Q_DECLARE_METATYPE(StackSettings)

class TestStackPlan : public QObject
{
    Q_OBJECT

private slots:
    // Each destination image as its sources in order, "index" at full weight or "index:weight", with
    // "|" between images. Full weight must be exactly 1: consecutive images are compared by equal weights.
    void plan_data()
    {
        QTest::addColumn<StackSettings>("input");
        QTest::addColumn<QString>("expected");
        for (int condition = 0; condition <= 4; ++condition)
            QTest::addRow("n = 0, condition %d", condition) << StackSettings{0, condition, 1, 1, 0, 50, 50} << "";
        QTest::newRow("groups g = n") << StackSettings{10, 2, 10, 3, 0, 50, 50} << "0 1 2 3 4 5 6 7 8 9";
        QTest::newRow("groups g > n") << StackSettings{10, 2, 11, 1, 0, 50, 50} << "";
        QTest::newRow("groups s > n") << StackSettings{10, 2, 3, 20, 0, 50, 50} << "0 1 2";
        QTest::newRow("loop 4/2 wraps")
            << StackSettings{10, 3, 4, 2, 0, 50, 50} << "0 1 2 3|2 3 4 5|4 5 6 7|6 7 8 9|8 9 0 1";
        QTest::newRow("loop s > n") << StackSettings{10, 3, 4, 11, 0, 50, 50} << "";
        QTest::newRow("loop g > n repeats") << StackSettings{3, 3, 5, 1, 0, 50, 50} << "0 1 2 0 1|1 2 0 1 2|2 0 1 2 0";
        QTest::newRow("disjoint 3") << StackSettings{10, 4, 3, 1, 0, 50, 50} << "0 3 6 9|1 4 7|2 5 8";
        QTest::newRow("disjoint groups > n") << StackSettings{4, 4, 9999, 1, 0, 50, 50} << "0|1|2|3";
        QTest::newRow("unknown condition") << StackSettings{10, 5, 1, 1, 0, 50, 50} << "";
        QTest::newRow("groups step 0 refused") << StackSettings{10, 2, 1, 0, 0, 50, 50} << "";
        QTest::newRow("loop step 0 refused") << StackSettings{10, 3, 1, 0, 0, 50, 50} << "";
        QTest::newRow("disjoint 0 groups refused") << StackSettings{10, 4, 0, 1, 0, 50, 50} << "";
        QTest::newRow("unknown fade") << StackSettings{4, 0, 1, 1, 7, 50, 50} << "0 1 2 3";
        QTest::newRow("in 50") << StackSettings{10, 0, 1, 1, 1, 50, 0} << "0:0.2 1:0.4 2:0.6 3:0.8 4 5 6 7 8 9";
        QTest::newRow("out 50 uses p1") << StackSettings{10, 0, 1, 1, 2, 50, 0} << "0 1 2 3 4 5 6:0.8 7:0.6 8:0.4 9:0.2";
        QTest::newRow("in and out 50/50")
            << StackSettings{10, 0, 1, 1, 3, 50, 50} << "0:0.2 1:0.4 2:0.6 3:0.8 4 5 6:0.8 7:0.6 8:0.4 9:0.2";
        // Overlapping ranges: the fade-in weight wins while x is below P.
        QTest::newRow("in and out 80/80") << StackSettings{5, 0, 1, 1, 3, 80, 80} << "0:0.25 1:0.5 2:0.75 3:0.5 4:0.25";
        QTest::newRow("in 0") << StackSettings{3, 0, 1, 1, 1, 0, 50} << "0 1 2";
        QTest::newRow("in and out 0/0") << StackSettings{3, 0, 1, 1, 3, 0, 0} << "0 1 2";
        QTest::newRow("in 100") << StackSettings{4, 0, 1, 1, 1, 100, 0} << "0:0.25 1:0.5 2:0.75 3";
        QTest::newRow("out 100") << StackSettings{4, 0, 1, 1, 2, 100, 0} << "0 1:0.75 2:0.5 3:0.25";
        QTest::newRow("single source, in 100") << StackSettings{1, 0, 1, 1, 1, 100, 50} << "0";
        QTest::newRow("single source, out 100") << StackSettings{1, 0, 1, 1, 2, 100, 50} << "0";
        QTest::newRow("single source, in and out") << StackSettings{1, 0, 1, 1, 3, 100, 100} << "0";
        QTest::newRow("all previous, fade in 50")
            << StackSettings{4, 1, 1, 1, 1, 50, 50} << "0|0 1|0:0.666666666667 1 2|0:0.5 1 2 3";
        QTest::newRow("groups 4/2, fade in 50")
            << StackSettings{10, 2, 4, 2, 1, 50, 50} << "0:0.5 1 2 3|2:0.5 3 4 5|4:0.5 5 6 7|6:0.5 7 8 9";
        // Repeated indexes are distinct pairs only where their weights differ.
        QTest::newRow("loop g > n, fade in 100")
            << StackSettings{2, 3, 4, 1, 1, 100, 50} << "0:0.25 1:0.5 0:0.75 1|1:0.25 0:0.5 1:0.75 0";
        QTest::newRow("disjoint, fade out 50") << StackSettings{5, 4, 2, 1, 2, 50, 50} << "0 2 4:0.666666666667|1 3";
    }

    void plan()
    {
        QFETCH(StackSettings, input);
        QFETCH(QString, expected);
        const StackPlan plan = buildStackPlan(input);
        QCOMPARE(plan.size(), destinationImageCount(input));
        QStringList images;
        for (int i = 0; i < plan.size(); ++i) {
            const QList<int> indexes = sourceIndexes(input, i);
            QSet<QPair<int, double>> set;
            QStringList tokens;
            for (int k = 0; k < indexes.size(); ++k) {
                const double w = fadeWeight(input, k, indexes.size());
                set.insert(qMakePair(indexes.at(k), w));
                tokens << QString::number(indexes.at(k)) + (w == 1.0 ? QString() : ':' + QString::number(w, 'g', 12));
            }
            QVERIFY(plan.at(i) == set);
            images << tokens.join(' ');
        }
        QCOMPARE(images.join('|'), expected);
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
