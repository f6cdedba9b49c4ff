#include "selectimagesbutton.h"

#include "foldersources.h"
#include "languagetext.h"
#include "sourcefiles.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

SelectImagesButton::SelectImagesButton(QWidget *parent)
    : QPushButton(parent)
    , m_path(QDir::homePath())
{
    connect(this, &QPushButton::clicked, this, &SelectImagesButton::selectFiles);
}

void SelectImagesButton::selectFiles()
{
    // Texts are looked up now so the chooser speaks the language current at the click.
    const QString filter =
        QStringLiteral("%1 (%2);;%3 (*.*)")
            .arg(languageText(36), SourceFiles::nameFilters().join(QLatin1Char(' ')), languageText(37));
    choose(QFileDialog::getOpenFileNames(this, languageText(35), m_path, filter));
}

QStringList SelectImagesButton::chooseFiles(const QStringList &paths)
{
    QStringList leftOut;
    choose(imageFiles(paths, &leftOut));
    return leftOut;
}

QStringList SelectImagesButton::imageFiles(const QStringList &paths, QStringList *leftOut)
{
    QStringList files;
    FolderSources folders(m_destinationPattern);
    for (const QString &path : paths) {
        const QFileInfo info(path);
        const QString absolute = QDir::cleanPath(info.absoluteFilePath());
        if (info.isDir())
            files += folders.images(absolute);
        else if (info.isFile() && SourceFiles::isImageName(path))
            files.append(absolute);
        else if (leftOut)
            leftOut->append(path);
    }
    m_resultsLeftOut = folders.leftOut() > 0 ? folders.notice() : QString();
    return files;
}

void SelectImagesButton::choose(const QStringList &files)
{
    // An empty choice is a cancelled one: the list, the count and the folders stay.
    if (files.isEmpty())
        return;

    const QString folder = QFileInfo(files.first()).absolutePath();
    if (folder != m_path) {
        m_path = folder;
        emit pathChanged(m_path);
    }
    emit selected(files);
    emit inputCountChanged(files.size());
}
