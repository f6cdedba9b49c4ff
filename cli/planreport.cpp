#include "planreport.h"

#include "imageupdate.h"

#include <QTextStream>

#include <algorithm>

namespace {

typedef QPair<int, double> WeightedSource;

} // namespace

QList<int> PlanReport::loads(const StackJob &job)
{
    // The worker's own plan of operations, so the dry run counts exactly the loads a run makes.
    QList<int> result;
    const QVector<ImageUpdate> updates =
        ImageUpdate::planned(job.stackPlan, job.destinationImages.size(), job.stackMethod);
    for (const ImageUpdate &update : updates)
        result.append(update.operations.size());
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
