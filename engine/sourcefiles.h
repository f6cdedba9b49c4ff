#ifndef VELUMEN_SOURCEFILES_H
#define VELUMEN_SOURCEFILES_H

#include <QString>
#include <QStringList>

// Which files count as source images, and the order a folder's images are taken in. The window's
// chooser, a drop, the window's command line and the batch front end all use these rules.
class SourceFiles
{
public:
    // The chooser's image filter: "*.jpeg", "*.jpg", "*.png", "*.tif", "*.tiff".
    static QStringList nameFilters();
    // True for a name with one of those extensions, in any letter case.
    static bool isImageName(const QString &path);
    // The image files directly inside a folder (not its subfolders), as absolute paths in natural order.
    static QStringList imagesInFolder(const QString &folder);
    // Natural order: runs of digits compare by value, so "frame2" comes before "frame10"; the
    // order is the same in every locale.
    static bool naturalLess(const QString &a, const QString &b);
};

#endif
