#ifndef VELUMEN_JOBMETADATA_H
#define VELUMEN_JOBMETADATA_H

#include "destinationmetadata.h"
#include "sourcemetadata.h"
#include "stackplan.h"

#include <QHash>
#include <QString>
#include <QStringList>

// The metadata of a job's destination images, made from the first source's and from each image's
// first and last source's capture times. Each source's header is read once per job at most, and
// none beyond the first when it carries no metadata.
class JobMetadata
{
public:
    JobMetadata(const QStringList &sourceImages, int stackMethod, const QString &condition);

    DestinationMetadata forImage(const QSet<QPair<int, double>> &sources, int width, int height);

    // The English names the description gives stack method 0, 1 and 2.
    static QString methodName(int stackMethod);
    // The English description of the condition and fade that make a plan.
    static QString condition(const StackSettings &settings);

private:
    SourceMetadata::Capture capture(int source);

    QStringList m_sourceImages;
    QString m_method;
    QString m_condition;
    bool m_baseRead = false;
    SourceMetadata m_base;
    QHash<int, SourceMetadata::Capture> m_captures;
};

#endif
