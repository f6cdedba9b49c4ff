#ifndef VELUMEN_TOOLINPUT_H
#define VELUMEN_TOOLINPUT_H

#include <QString>
#include <QTemporaryDir>

#include <memory>

// A source file name as the tools get it. It is absolute, so it cannot be taken for an option
// ('-'), a list file ('@') or a coder prefix ("png:"). ImageMagick still reads some existing names
// as something else: with '[' in the name it may expand a pattern and read the file as a list of
// names. Names with such characters therefore reach the tool through a link of a plain name in a
// private temporary folder, which lives as long as this object.
class ToolInput
{
public:
    explicit ToolInput(const QString &fileName);

    // Empty when no usable name could be made.
    QString path() const { return m_path; }

private:
    static bool isPlain(const QString &absolute);

    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_path;
};

#endif
