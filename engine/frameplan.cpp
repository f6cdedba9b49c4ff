#include "frameplan.h"

#include <QHash>

#include <limits>

FramePlan::FramePlan(const QVector<int> &operationSources, int keptFrames)
{
    const int count = operationSources.size();
    // The next operation to use the same source, or none.
    const int never = std::numeric_limits<int>::max();
    QVector<int> nextUse(count, never);
    QHash<int, int> later;
    for (int k = count - 1; k >= 0; --k) {
        nextUse[k] = later.value(operationSources.at(k), never);
        later.insert(operationSources.at(k), k);
    }
    // Frames kept after an operation: source -> (decode, its next use).
    QHash<int, QPair<int, int>> kept;
    m_decodeOf.resize(count);
    for (int k = 0; k < count; ++k) {
        const int source = operationSources.at(k);
        int decode;
        if (kept.contains(source)) {
            decode = kept.take(source).first;
        } else {
            decode = m_decodes.size();
            m_decodes.append({source, k, k});
        }
        m_decodeOf[k] = decode;
        m_decodes[decode].lastUse = k;
        if (nextUse.at(k) == never || keptFrames <= 0)
            continue;
        if (kept.size() >= keptFrames) {
            // Room for it only in place of a frame needed later than it is.
            auto farthest = kept.begin();
            for (auto it = kept.begin(); it != kept.end(); ++it) {
                if (it.value().second > farthest.value().second)
                    farthest = it;
            }
            if (farthest.value().second < nextUse.at(k))
                continue;
            kept.erase(farthest);
        }
        kept.insert(source, {decode, nextUse.at(k)});
        m_mostKept = qMax(m_mostKept, kept.size());
    }
}
