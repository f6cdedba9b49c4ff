#ifndef VELUMEN_FOLDERSOURCES_H
#define VELUMEN_FOLDERSOURCES_H

#include "namepattern.h"

#include <QString>
#include <QStringList>

// The images of folders given as sources, less the files the destination name pattern makes. The
// destination folder follows the sources, so an earlier run's results lie beside the frames; taken
// in again as frames they would spoil a "Mean" or an "All previous images" stack. A run writes its
// images numbered from 0 in order, so only the names of images 0 to n - 1 with none missing are
// results: frame1.jpg under the pattern frame*.jpg with no frame0.jpg is a frame, and stays one (a
// job that would overwrite it is refused). Files chosen one by one are taken as they are.
class FolderSources
{
public:
    explicit FolderSources(const QString &destinationPattern);

    // The folder's images as SourceFiles::imagesInFolder gives them, less the destination names.
    QStringList images(const QString &folder);
    // How many files images() has left out so far.
    int leftOut() const { return m_leftOut; }
    // The one line both programs print when files were left out, without the program's name.
    QString notice() const;

    // The image number for which the pattern makes exactly this file name, or -1.
    int destinationIndex(const QString &fileName) const;

private:
    QString m_pattern;
    NamePattern m_names;
    // The literal text before the first run of '*', and that run's length (0 without a run).
    QString m_prefix;
    int m_firstWidth = 0;
    int m_leftOut = 0;
};

#endif
