#include "imagelistwidget.h"

#include "sourcefiles.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

ImageListWidget::ImageListWidget(QWidget *parent)
    : QListWidget(parent)
{
    setAcceptDrops(true);
}

void ImageListWidget::setFilenames(QStringList filenames)
{
    // A new choice replaces the whole list.
    clear();
    insertItems(count(), filenames);
}

QStringList ImageListWidget::usablePaths(const QDropEvent *event)
{
    // Only the names are looked at here; the button sorts out folders without images.
    QStringList paths;
    const QList<QUrl> urls = event->mimeData()->urls();
    for (const QUrl &url : urls) {
        const QString path = url.toLocalFile();
        if (!path.isEmpty() && (SourceFiles::isImageName(path) || QFileInfo(path).isDir()))
            paths.append(path);
    }
    return paths;
}

void ImageListWidget::dragEnterEvent(QDragEnterEvent *event)
{
    if (usablePaths(event).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void ImageListWidget::dragMoveEvent(QDragMoveEvent *event)
{
    // The item view's own handling would refuse a drop between items.
    if (usablePaths(event).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void ImageListWidget::dropEvent(QDropEvent *event)
{
    const QStringList paths = usablePaths(event);
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(paths);
}
