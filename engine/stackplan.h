#ifndef VELUMEN_STACKPLAN_H
#define VELUMEN_STACKPLAN_H

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QSet>

// One entry per destination image: the set of (source index, weight) pairs, 0 < weight <= 1.
typedef QList<QSet<QPair<int, double>>> StackPlan;

// The job settings the plan is computed from; the main window fills it from its own fields.
struct StackSettings
{
    int sourceCount = 0;        // n
    int condition = 0;          // 0 all, 1 all previous, 2 groups, 3 groups (loop), 4 disjoint groups
    int conditionOption1 = 1;   // g, or the number of groups
    int conditionOption2 = 1;   // s
    int fadeMethod = 0;         // 0 none, 1 in, 2 out, 3 in and out
    int fadeOption1 = 50;       // p1, percent
    int fadeOption2 = 50;       // p2, percent
};

int destinationImageCount(const StackSettings &settings);
QList<int> sourceIndexes(const StackSettings &settings, int i);
double fadeWeight(const StackSettings &settings, int k, int m);
StackPlan buildStackPlan(const StackSettings &settings);

Q_DECLARE_METATYPE(StackPlan)

#endif
