#ifndef VELUMEN_IMAGEUPDATE_H
#define VELUMEN_IMAGEUPDATE_H

#include "samplefold.h"
#include "stackplan.h"

#include <QVector>

// What one destination image needs, given the image written before it: its operations in order,
// whether the accumulator starts again from its fill value first, and under "Mean" the sum of the
// image's weights. The worker carries these out; the batch front end's dry run counts them.
struct ImageUpdate
{
    struct Operation
    {
        int source;
        double weight;
        SampleFold::Operation fold;
    };

    QVector<Operation> operations;
    bool refill = false;
    double weightSum = 0.0;

    // One update per destination image of the plan, for stack method 0 lighten, 1 darken, 2 mean.
    static QVector<ImageUpdate> planned(const StackPlan &plan, int imageCount, int stackMethod);
};

#endif
