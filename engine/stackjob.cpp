#include "stackjob.h"

#include "jobmetadata.h"

StackJob buildStackJob(const QStringList &sourceImages, const StackSettings &settings,
                       const QString &destinationFolder, const NamePattern &namePattern,
                       int stackMethod, int format, int compression)
{
    StackJob job;
    job.sourceImages = sourceImages;
    job.stackPlan = buildStackPlan(settings);
    const int count = destinationImageCount(settings);
    for (int i = 0; i < count; ++i)
        job.destinationImages.append(namePattern.fileName(destinationFolder, i));
    job.stackMethod = stackMethod;
    job.format = format;
    job.compression = compression;
    job.condition = JobMetadata::condition(settings);
    return job;
}
