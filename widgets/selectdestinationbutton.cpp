#include "selectdestinationbutton.h"

#include "languagetext.h"

#include <QDir>
#include <QFileDialog>

SelectDestinationButton::SelectDestinationButton(QWidget *parent)
    : QPushButton(parent)
    , m_path(QDir::homePath())
{
    connect(this, &QPushButton::clicked, this, &SelectDestinationButton::selectFolder);
}

void SelectDestinationButton::setPath(const QString &path)
{
    m_path = path;
}

void SelectDestinationButton::selectFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, languageText(38), m_path, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (folder.isEmpty())
        return;
    m_path = folder;
    emit selected(m_path);
}
