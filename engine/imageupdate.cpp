#include "imageupdate.h"

#include <algorithm>

namespace {

enum StackMethod { Lighten = 0, Darken = 1, Mean = 2 };

typedef QPair<int, double> WeightedSource;
typedef QSet<WeightedSource> SourceSet;

// By index, then weight: the same order in every process, where a set's own order changes with the
// process. Sums of weights in this order give the same bytes on every run.
QVector<WeightedSource> inOrder(const SourceSet &set)
{
    QVector<WeightedSource> list;
    list.reserve(set.size());
    for (const WeightedSource &source : set)
        list.append(source);
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

QVector<ImageUpdate> ImageUpdate::planned(const StackPlan &plan, int imageCount, int stackMethod)
{
    const SampleFold::Operation combine = stackMethod == Lighten ? SampleFold::Lighten
                                          : stackMethod == Darken ? SampleFold::Darken : SampleFold::Add;
    QVector<ImageUpdate> updates;
    SourceSet previous;
    for (int i = 0; i < imageCount; ++i) {
        const SourceSet current = plan.value(i);
        const SourceSet removed = SourceSet(previous).subtract(current);
        const SourceSet added = SourceSet(current).subtract(previous);
        ImageUpdate update;
        auto append = [&update](const SourceSet &sources, SampleFold::Operation fold) {
            for (const WeightedSource &source : inOrder(sources))
                update.operations.append({source.first, source.second, fold});
        };
        if (stackMethod == Mean) {
            for (const WeightedSource &source : inOrder(current))
                update.weightSum += source.second;
            // The cheaper of a rebuild and subtract-and-add; subtract-and-add on a tie.
            update.refill = added.size() + removed.size() > current.size();
            if (update.refill) {
                append(current, SampleFold::Add);
            } else {
                append(removed, SampleFold::Subtract);
                append(added, SampleFold::Add);
            }
        } else if (stackMethod == Lighten || stackMethod == Darken) {
            // A maximum or minimum cannot be undone: losing any source forces a rebuild.
            update.refill = !removed.isEmpty();
            append(update.refill ? current : added, combine);
        }
        updates.append(update);
        previous = current;
    }
    return updates;
}

