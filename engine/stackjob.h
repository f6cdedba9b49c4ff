#ifndef VELUMEN_STACKJOB_H
#define VELUMEN_STACKJOB_H

#include "namepattern.h"
#include "stackplan.h"

#include <QSize>
#include <QString>
#include <QStringList>

// Everything the worker needs for one run: made by the window when Begin is pressed, or by the
// batch front end from its options, and handed to ExecuteThread::setJob.
struct StackJob
{
    QStringList sourceImages;
    QStringList destinationImages;
    StackPlan stackPlan;
    int stackMethod = 0;    // 0 lighten, 1 darken, 2 mean
    int format = 0;         // 0 JPEG, 1 PNG, 2 TIFF, 3 16-bit TIFF
    int compression = 92;   // JPEG quality
    QString condition{};    // the condition and fade in English, for the destinations' metadata
    // The film of every destination image, when videoFile is not empty: its frame rate, and the
    // bound its size is fitted within (an empty size keeps the images' own).
    QString videoFile{};
    int videoFrameRate = 25;
    QSize videoSize = QSize(3840, 2160);
};

// The job for these sources and settings: the plan, and one destination path per destination
// image made from the folder and the name pattern.
StackJob buildStackJob(const QStringList &sourceImages, const StackSettings &settings,
                       const QString &destinationFolder, const NamePattern &namePattern,
                       int stackMethod, int format, int compression);

#endif
