#include "imagelistwidget.h"

ImageListWidget::ImageListWidget(QWidget *parent)
    : QListWidget(parent)
{
}

void ImageListWidget::setFilenames(QStringList filenames)
{
    // A new choice replaces the whole list.
    clear();
    insertItems(count(), filenames);
}
