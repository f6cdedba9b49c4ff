#ifndef VELUMEN_JOBPREFLIGHT_H
#define VELUMEN_JOBPREFLIGHT_H

#include "stackjob.h"

#include <QString>

// Checks of a job that can be made before any source is loaded, so that a run that cannot write
// its results is refused before minutes of work rather than after them. The worker keeps its own
// guards; these are for telling the user early.
class JobPreflight
{
public:
    // The folder of the first destination (images, then the film) whose folder is missing or
    // cannot be written; empty when every destination folder is there and writable.
    static QString unwritableFolder(const StackJob &job);
    // The first destination path (the film's last) that names one of the job's sources; empty when
    // there is none.
    static QString destinationAmongSources(const StackJob &job);
    // The film's path when a file there may not be replaced (write-protected, or not a file).
    static QString irreplaceableVideo(const StackJob &job);
    // Two names of the same file compare equal: canonical paths where the file exists, absolute
    // cleaned paths otherwise (and without letter case on Windows).
    static QString resolvedPath(const QString &path);
};

#endif
