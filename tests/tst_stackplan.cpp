#include "stackplan.h"

#include <QtTest>

typedef QList<int> IntList;
typedef QList<double> DoubleList;
Q_DECLARE_METATYPE(StackSettings)

namespace {

StackSettings settings(int n, int condition, int option1 = 1, int option2 = 1, int fade = 0, int p1 = 50,
                       int p2 = 50)
{
    StackSettings s;
    s.sourceCount = n;
    s.condition = condition;
    s.conditionOption1 = option1;
    s.conditionOption2 = option2;
    s.fadeMethod = fade;
    s.fadeOption1 = p1;
    s.fadeOption2 = p2;
    return s;
}

IntList range(int first, int last)
{
    IntList list;
    for (int i = first; i <= last; ++i)
        list.append(i);
    return list;
}

QSet<QPair<int, double>> pairs(const IntList &indexes, const DoubleList &weights)
{
    QSet<QPair<int, double>> set;
    for (int k = 0; k < indexes.size(); ++k)
        set.insert(qMakePair(indexes.at(k), weights.at(k)));
    return set;
}

DoubleList ones(int m)
{
    return DoubleList(QVector<double>(m, 1.0).toList());
}

} // namespace

class TestStackPlan : public QObject
{
    Q_OBJECT

private slots:
    void count_data();
    void count();
    void indexes_data();
    void indexes();
    void weights_data();
    void weights();
    void plan_data();
    void plan();
    void everyPlanIsWellFormed();
};

void TestStackPlan::count_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("condition");
    QTest::addColumn<int>("option1");
    QTest::addColumn<int>("option2");
    QTest::addColumn<int>("expected");

    for (int condition = 0; condition <= 4; ++condition)
        QTest::addRow("no sources, condition %d", condition) << 0 << condition << 1 << 1 << 0;
    QTest::newRow("all") << 10 << 0 << 1 << 1 << 1;
    QTest::newRow("all previous") << 10 << 1 << 1 << 1 << 10;
    QTest::newRow("groups 4/2") << 10 << 2 << 4 << 2 << 4;
    QTest::newRow("groups g = n") << 10 << 2 << 10 << 1 << 1;
    QTest::newRow("groups g > n") << 10 << 2 << 11 << 1 << 0;
    QTest::newRow("groups s > n") << 10 << 2 << 3 << 20 << 1;
    QTest::newRow("groups truncates") << 10 << 2 << 3 << 4 << 2;
    QTest::newRow("loop 4/2") << 10 << 3 << 4 << 2 << 5;
    QTest::newRow("loop s > n") << 10 << 3 << 4 << 11 << 0;
    QTest::newRow("loop g > n") << 3 << 3 << 7 << 1 << 3;
    QTest::newRow("disjoint 3") << 10 << 4 << 3 << 1 << 3;
    QTest::newRow("disjoint groups = n") << 10 << 4 << 10 << 1 << 10;
    QTest::newRow("disjoint groups > n") << 4 << 4 << 9999 << 1 << 4;
    QTest::newRow("unknown condition") << 10 << 5 << 1 << 1 << 0;
    QTest::newRow("step 0 refused") << 10 << 2 << 1 << 0 << 0;
    QTest::newRow("loop step 0 refused") << 10 << 3 << 1 << 0 << 0;
    QTest::newRow("groups 0 refused") << 10 << 4 << 0 << 1 << 0;
}

void TestStackPlan::count()
{
    QFETCH(int, n);
    QFETCH(int, condition);
    QFETCH(int, option1);
    QFETCH(int, option2);
    QFETCH(int, expected);
    const StackSettings s = settings(n, condition, option1, option2);
    QCOMPARE(destinationImageCount(s), expected);
    QCOMPARE(buildStackPlan(s).size(), expected);
}

void TestStackPlan::indexes_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("condition");
    QTest::addColumn<int>("option1");
    QTest::addColumn<int>("option2");
    QTest::addColumn<int>("image");
    QTest::addColumn<IntList>("expected");

    QTest::newRow("all") << 10 << 0 << 1 << 1 << 0 << range(0, 9);
    QTest::newRow("all previous, first") << 10 << 1 << 1 << 1 << 0 << IntList{0};
    QTest::newRow("all previous, last") << 10 << 1 << 1 << 1 << 9 << range(0, 9);
    QTest::newRow("groups 4/2, second") << 10 << 2 << 4 << 2 << 1 << range(2, 5);
    QTest::newRow("groups 4/2, last") << 10 << 2 << 4 << 2 << 3 << range(6, 9);
    QTest::newRow("groups g = n") << 10 << 2 << 10 << 3 << 0 << range(0, 9);
    QTest::newRow("loop 4/2, wraps") << 10 << 3 << 4 << 2 << 4 << IntList{8, 9, 0, 1};
    QTest::newRow("loop g > n repeats") << 3 << 3 << 7 << 1 << 2 << IntList{2, 0, 1, 2, 0, 1, 2};
    QTest::newRow("disjoint first") << 10 << 4 << 3 << 1 << 0 << IntList{0, 3, 6, 9};
    QTest::newRow("disjoint last") << 10 << 4 << 3 << 1 << 2 << IntList{2, 5, 8};
    QTest::newRow("disjoint groups > n") << 4 << 4 << 9999 << 1 << 3 << IntList{3};
    QTest::newRow("beyond the count") << 10 << 2 << 4 << 2 << 4 << IntList{};
}

void TestStackPlan::indexes()
{
    QFETCH(int, n);
    QFETCH(int, condition);
    QFETCH(int, option1);
    QFETCH(int, option2);
    QFETCH(int, image);
    QFETCH(IntList, expected);
    QCOMPARE(sourceIndexes(settings(n, condition, option1, option2), image), expected);
}

void TestStackPlan::weights_data()
{
    QTest::addColumn<int>("fade");
    QTest::addColumn<int>("p1");
    QTest::addColumn<int>("p2");
    QTest::addColumn<DoubleList>("expected");

    QTest::newRow("none") << 0 << 50 << 50 << ones(4);
    QTest::newRow("unknown method") << 7 << 50 << 50 << ones(4);
    QTest::newRow("in 50") << 1 << 50 << 0 << DoubleList{0.2, 0.4, 0.6, 0.8, 1, 1, 1, 1, 1, 1};
    QTest::newRow("out 50 uses p1") << 2 << 50 << 0 << DoubleList{1, 1, 1, 1, 1, 1, 0.8, 0.6, 0.4, 0.2};
    QTest::newRow("in and out 50/50") << 3 << 50 << 50 << DoubleList{0.2, 0.4, 0.6, 0.8, 1, 1, 0.8, 0.6, 0.4, 0.2};
    // Overlapping ranges: the fade-in weight wins while x is below P (position 1 would be 1 fading out).
    QTest::newRow("in and out 80/80") << 3 << 80 << 80 << DoubleList{0.25, 0.5, 0.75, 0.5, 0.25};
    QTest::newRow("in 0") << 1 << 0 << 50 << ones(5);
    QTest::newRow("out 0") << 2 << 0 << 50 << ones(5);
    QTest::newRow("in and out 0/0") << 3 << 0 << 0 << ones(5);
    QTest::newRow("in 100") << 1 << 100 << 0 << DoubleList{0.25, 0.5, 0.75, 1};
    QTest::newRow("out 100") << 2 << 100 << 0 << DoubleList{1, 0.75, 0.5, 0.25};
    QTest::newRow("single source, in 50") << 1 << 50 << 50 << DoubleList{1};
    QTest::newRow("single source, out 100") << 2 << 100 << 50 << DoubleList{1};
    QTest::newRow("single source, in and out 100/100") << 3 << 100 << 100 << DoubleList{1};
    QTest::newRow("single source, in 100") << 1 << 100 << 50 << DoubleList{1};
}

void TestStackPlan::weights()
{
    QFETCH(int, fade);
    QFETCH(int, p1);
    QFETCH(int, p2);
    QFETCH(DoubleList, expected);
    const StackSettings s = settings(expected.size(), 0, 1, 1, fade, p1, p2);
    const int m = expected.size();
    for (int k = 0; k < m; ++k) {
        const double w = fadeWeight(s, k, m);
        if (expected.at(k) == 1.0 && w != 1.0)
            QFAIL(qPrintable(QString("position %1: %2, expected exactly 1").arg(k).arg(w, 0, 'g', 17)));
        QVERIFY2(qAbs(w - expected.at(k)) < 1e-12, qPrintable(QString("position %1: %2").arg(k).arg(w)));
    }
}

void TestStackPlan::plan_data()
{
    QTest::addColumn<StackSettings>("input");
    QTest::addColumn<StackPlan>("expected");

    const double third = double(1) / double(3) / (50 * 0.01); // x / P at k = 0, m = 3
    QTest::newRow("all previous, fade in 50")
        << settings(4, 1, 1, 1, 1, 50)
        << StackPlan{pairs({0}, {1}), pairs({0, 1}, {1, 1}), pairs({0, 1, 2}, {third, 1, 1}),
                     pairs({0, 1, 2, 3}, {0.5, 1, 1, 1})};
    QTest::newRow("groups 4/2, fade in 50")
        << settings(10, 2, 4, 2, 1, 50)
        << StackPlan{pairs(range(0, 3), {0.5, 1, 1, 1}), pairs(range(2, 5), {0.5, 1, 1, 1}),
                     pairs(range(4, 7), {0.5, 1, 1, 1}), pairs(range(6, 9), {0.5, 1, 1, 1})};
    // Repeated indexes with weight 1 collapse; with fading they differ and are all kept.
    QTest::newRow("loop g > n, no fading")
        << settings(3, 3, 5, 1) << StackPlan{pairs({0, 1, 2}, ones(3)), pairs({0, 1, 2}, ones(3)),
                                             pairs({0, 1, 2}, ones(3))};
    QTest::newRow("loop g > n, fade in 100")
        << settings(2, 3, 4, 1, 1, 100)
        << StackPlan{pairs({0, 1, 0, 1}, {0.25, 0.5, 0.75, 1}), pairs({1, 0, 1, 0}, {0.25, 0.5, 0.75, 1})};
    QTest::newRow("disjoint, fade out 50")
        << settings(5, 4, 2, 1, 2, 50)
        << StackPlan{pairs({0, 2, 4}, {1, 1, (1.0 - 2.0 / 3.0) / 0.5}), pairs({1, 3}, {1, 1})};
}

void TestStackPlan::plan()
{
    QFETCH(StackSettings, input);
    QFETCH(StackPlan, expected);
    const StackPlan actual = buildStackPlan(input);
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < actual.size(); ++i)
        QVERIFY2(actual.at(i) == expected.at(i), qPrintable(QString("destination image %1").arg(i)));
}

// Every index stays among the sources and every weight in (0, 1], over many combinations.
void TestStackPlan::everyPlanIsWellFormed()
{
    const int percentages[] = {0, 1, 33, 50, 67, 99, 100};
    for (int n = 0; n <= 9; ++n)
        for (int condition = 0; condition <= 4; ++condition)
            for (int o1 = 1; o1 <= 11; o1 += 2)
                for (int o2 = 1; o2 <= 11; o2 += 3)
                    for (int fade = 0; fade <= 3; ++fade)
                        for (int p1 : percentages)
                            for (int p2 : percentages) {
                                const StackSettings s = settings(n, condition, o1, o2, fade, p1, p2);
                                const StackPlan plan = buildStackPlan(s);
                                QCOMPARE(plan.size(), destinationImageCount(s));
                                for (const auto &set : plan) {
                                    QVERIFY(!set.isEmpty());
                                    for (const auto &pair : set) {
                                        QVERIFY(pair.first >= 0 && pair.first < n);
                                        QVERIFY2(pair.second > 0.0 && pair.second <= 1.0,
                                                 qPrintable(QString::number(pair.second, 'g', 17)));
                                    }
                                }
                            }
}


QTEST_APPLESS_MAIN(TestStackPlan)
#include "tst_stackplan.moc"
