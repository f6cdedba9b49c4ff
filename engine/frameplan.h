#ifndef VELUMEN_FRAMEPLAN_H
#define VELUMEN_FRAMEPLAN_H

#include <QVector>

// Which decodes a job's operations need when decoded frames can be kept for later uses, at most a
// number of them at a time. Operations name their source in the order the worker folds them; a
// source used again is served from its kept frame, and when room runs short the frame whose next
// use is farthest away is the one given up (it is decoded again when next needed), which gives
// the fewest decodes for the room.
class FramePlan
{
public:
    struct Decode
    {
        int source;
        int firstUse;  // the operation that first folds this frame
        int lastUse;   // the frame is released once this operation has folded it
    };

    FramePlan(const QVector<int> &operationSources, int keptFrames);

    // In the order of their first use, which is the order they are decoded in.
    const QVector<Decode> &decodes() const { return m_decodes; }
    // The decode that serves each operation.
    const QVector<int> &decodeOf() const { return m_decodeOf; }
    // The most frames ever kept between operations: never more than the job needs.
    int mostKept() const { return m_mostKept; }

private:
    QVector<Decode> m_decodes;
    QVector<int> m_decodeOf;
    int m_mostKept = 0;
};

#endif
