#include "planreport.h"

#include <QTextStream>

#include <algorithm>

namespace {

typedef QPair<int, double> WeightedSource;
typedef QSet<WeightedSource> SourceSet;

const int MeanMethod = 2;

} // namespace

QList<int> PlanReport::loads(const StackJob &job)
{
    QList<int> result;
    SourceSet previous;
    for (const SourceSet &current : job.stackPlan) {
        const int removed = SourceSet(previous).subtract(current).size();
        const int added = SourceSet(current).subtract(previous).size();
        if (job.stackMethod == MeanMethod)
            result.append(added + removed > current.size() ? current.size() : added + removed);
        else
            result.append(removed == 0 ? added : current.size());
        previous = current;
    }
    return result;
}

void PlanReport::print(QTextStream &out, const StackJob &job)
{
    const QList<int> imageLoads = loads(job);
    out << counted(job.destinationImages.size(), QStringLiteral("destination image")) << '\n';
    int total = 0;
    for (int i = 0; i < job.destinationImages.size(); ++i) {
        out << job.destinationImages.at(i) << '\t' << counted(imageLoads.value(i), QStringLiteral("load"));
        // A set has no order of its own; show the sources in list order.
        QList<WeightedSource> sources = job.stackPlan.value(i).values();
        std::sort(sources.begin(), sources.end());
        for (const WeightedSource &source : qAsConst(sources))
            out << '\t' << job.sourceImages.value(source.first) << " ("
                << QString::number(source.second, 'g', 6) << ')';
        out << '\n';
        total += imageLoads.value(i);
    }
    out << counted(total, QStringLiteral("load")) << " in all\n";
}

QString PlanReport::counted(int count, const QString &noun)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(noun, count == 1 ? QString() : QStringLiteral("s"));
}
