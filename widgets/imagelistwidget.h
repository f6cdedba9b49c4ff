#ifndef VELUMEN_IMAGELISTWIDGET_H
#define VELUMEN_IMAGELISTWIDGET_H

#include <QListWidget>
#include <QStringList>

class QDropEvent;

// The list of chosen source files, full paths in the chooser's order. Files and folders dropped on
// it are announced, not listed: the choice goes through the chooser button like any other.
class ImageListWidget : public QListWidget
{
    Q_OBJECT

public:
    explicit ImageListWidget(QWidget *parent = nullptr);

public slots:
    void setFilenames(QStringList filenames);

signals:
    // The local paths of a drop that holds at least one image file or folder.
    void filesDropped(const QStringList &paths);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    static QStringList usablePaths(const QDropEvent *event);
};

#endif
