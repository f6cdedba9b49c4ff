#include "stackplan.h"

#include <algorithm>

namespace {

enum Condition { AllImages = 0, AllPreviousImages = 1, Groups = 2, GroupsLoop = 3, DisjointGroups = 4 };
enum FadeMethod { NoFading = 0, FadeIn = 1, FadeOut = 2, FadeInAndOut = 3 };

} // namespace

// Spin boxes keep the options at 1 or more; a value type can hold anything, so options below 1
// give no destination images rather than a division by zero or an endless loop.
int destinationImageCount(const StackSettings &settings)
{
    const int n = settings.sourceCount;
    if (n <= 0)
        return 0;
    const int g = settings.conditionOption1;
    const int s = settings.conditionOption2;
    switch (settings.condition) {
    case AllImages:
        return 1;
    case AllPreviousImages:
        return n;
    case Groups:
        if (g < 1 || s < 1 || n < g)
            return 0;
        return (n - g) / s + 1;
    case GroupsLoop:
        if (g < 1 || s < 1)
            return 0;
        return n / s;
    case DisjointGroups:
        return std::max(0, std::min(n, settings.conditionOption1));
    default:
        return 0;
    }
}

QList<int> sourceIndexes(const StackSettings &settings, int i)
{
    QList<int> indexes;
    const int n = settings.sourceCount;
    if (i < 0 || i >= destinationImageCount(settings))
        return indexes;
    const int g = settings.conditionOption1;
    const int s = settings.conditionOption2;
    switch (settings.condition) {
    case AllImages:
        for (int k = 0; k < n; ++k)
            indexes.append(k);
        break;
    case AllPreviousImages:
        for (int k = 0; k <= i; ++k)
            indexes.append(k);
        break;
    case Groups:
        for (int j = 0; j < g; ++j)
            indexes.append(s * i + j);
        break;
    case GroupsLoop:
        // 64-bit so that s * i + j cannot overflow before the wrap-around.
        for (int j = 0; j < g; ++j)
            indexes.append(int((qint64(s) * i + j) % n));
        break;
    case DisjointGroups:
        for (qint64 k = i; k < n; k += settings.conditionOption1)
            indexes.append(int(k));
        break;
    default:
        break;
    }
    return indexes;
}

// Consecutive destination images are compared by exact equality of weights, so the order of
// operations below must not change.
double fadeWeight(const StackSettings &settings, int k, int m)
{
    const double x = double(k + 1) / double(m);
    const double y = 1.0 - double(k) / double(m);
    const double P = double(settings.fadeOption1) * 0.01;
    const double Q = settings.fadeMethod == FadeOut ? double(settings.fadeOption1) * 0.01
                                                    : double(settings.fadeOption2) * 0.01;
    switch (settings.fadeMethod) {
    case FadeIn:
        return x > P ? 1.0 : x / P;
    case FadeOut:
        return y > Q ? 1.0 : y / Q;
    case FadeInAndOut:
        if (P > x)
            return x / P;
        if (Q > y)
            return y / Q;
        return 1.0;
    default:
        return 1.0;
    }
}

StackPlan buildStackPlan(const StackSettings &settings)
{
    StackPlan plan;
    const int count = destinationImageCount(settings);
    plan.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QList<int> indexes = sourceIndexes(settings, i);
        const int m = indexes.size();
        QSet<QPair<int, double>> set;
        set.reserve(m);
        for (int k = 0; k < m; ++k)
            set.insert(qMakePair(indexes.at(k), fadeWeight(settings, k, m)));
        plan.append(set);
    }
    return plan;
}
