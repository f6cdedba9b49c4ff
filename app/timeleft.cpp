#include "timeleft.h"

#include "imageupdate.h"
#include "languagetext.h"

#include <cmath>

void TimeLeft::start(const StackJob &job)
{
    operationsBefore = {0};
    for (const ImageUpdate &update :
         ImageUpdate::planned(job.stackPlan, job.destinationImages.size(), job.stackMethod))
        operationsBefore.append(operationsBefore.last() + update.operations.size());
    firstDone = -1;
}

QString TimeLeft::progressFormat(int image, int operation)
{
    const QString percent = QStringLiteral("%p%");
    if (image < 0 || image + 1 >= operationsBefore.size())
        return percent;
    const int done = operationsBefore.at(image) + operation;
    if (firstDone < 0) {
        // The pace is taken from the first report on, leaving out the identification before it.
        firstDone = done;
        clock.start();
    }
    if (done - firstDone < 2)
        return percent;
    const double seconds = clock.elapsed() / 1000.0 * (operationsBefore.last() - done) / (done - firstDone);
    return languageText(54).arg(QStringLiteral("%p"), durationText(qint64(std::llround(seconds))));
}

QString TimeLeft::durationText(qint64 seconds)
{
    const qint64 minutes = seconds / 60;
    if (minutes < 60)
        return QStringLiteral("%1:%2").arg(minutes).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return languageText(55).arg(QString::number(minutes / 60),
                                QStringLiteral("%1").arg(minutes % 60, 2, 10, QLatin1Char('0')));
}
