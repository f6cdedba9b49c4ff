#ifndef VELUMEN_TIMELEFT_H
#define VELUMEN_TIMELEFT_H

#include "stackjob.h"

#include <QElapsedTimer>
#include <QString>
#include <QVector>

// The progress bar's text during a run: its percentage, and once two operations are done the time
// the rest of the job's operations will take at the pace so far.
class TimeLeft
{
public:
    void start(const StackJob &job);
    // The bar's format (QProgressBar's, %p the percentage) at the start of operation `operation` of
    // destination image `image`.
    QString progressFormat(int image, int operation);

    // "1:05" under an hour, "1 h 05 min" from an hour on, in the current language.
    static QString durationText(qint64 seconds);

private:
    QVector<int> operationsBefore; // of each destination image, and the job's total last
    int firstDone = -1;            // operations done at the first report, when the clock started
    QElapsedTimer clock;
};

#endif
