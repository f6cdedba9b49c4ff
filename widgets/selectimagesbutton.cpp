#include "selectimagesbutton.h"

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
    const QString filter = QStringLiteral("%1 (%2);;%3 (*.*)")
                               .arg(languageText(36), SourceFiles::nameFilters().join(QLatin1Char(' ')), languageText(37));
    const QStringList files = QFileDialog::getOpenFileNames(this, languageText(35), m_path, filter);
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
