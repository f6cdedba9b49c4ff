#ifndef VELUMEN_TOOLLOCATOR_H
#define VELUMEN_TOOLLOCATOR_H

#include <QString>
#include <QStringList>

#include <functional>

// Finds an ImageMagick tool. The tools folder comes first; then the search path, where on Windows
// only an ImageMagick installation counts: Windows' own folder holds a convert.exe that converts
// file systems, not images.
class ToolLocator
{
public:
    struct Places
    {
        QString toolsFolder;
        QStringList searchPath;     // the PATH entries, in order
        QStringList systemFolders;  // never searched, nor anything inside them
        bool windows = false;
        std::function<bool(const QString &)> isProgram;
    };

    // The program and its leading arguments (ImageMagick 7's front end "magick" takes the tool's
    // name first); empty when no usable tool is found.
    static QStringList find(const QString &toolName, const Places &places);
    // The same for this process: its working directory's tools folder, PATH and system folders.
    static QStringList find(const QString &toolName, const QString &toolsFolder);
    // True when the tools folder holds an image tool of the user's own (identify, convert or the
    // front end magick): then every source goes through the tools, as that ImageMagick decides.
    static bool userTools(const Places &places);
    static bool userTools(const QString &toolsFolder);
};

#endif
