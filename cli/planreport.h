#ifndef VELUMEN_PLANREPORT_H
#define VELUMEN_PLANREPORT_H

#include "stackjob.h"

#include <QList>

class QTextStream;

// What a job will do, known before it runs: the loads of each destination image, and the plan as
// lines for a dry run.
class PlanReport
{
public:
    // The number of source loads the worker makes for each destination image: only what was added
    // while nothing leaves; otherwise a rebuild, or for the mean the cheaper of undo-and-add and
    // rebuild (undo-and-add on a tie).
    static QList<int> loads(const StackJob &job);

    // The number of destination images; one line per image with its path, its loads and its
    // sources with their weights (tab-separated); then the total number of loads.
    static void print(QTextStream &out, const StackJob &job);

    // "1 image", "2 images".
    static QString counted(int count, const QString &noun);
};

#endif
