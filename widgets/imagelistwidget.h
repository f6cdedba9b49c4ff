#ifndef VELUMEN_IMAGELISTWIDGET_H
#define VELUMEN_IMAGELISTWIDGET_H

#include <QListWidget>
#include <QStringList>

// The list of chosen source files, full paths in the chooser's order.
class ImageListWidget : public QListWidget
{
    Q_OBJECT

public:
    explicit ImageListWidget(QWidget *parent = nullptr);

public slots:
    void setFilenames(QStringList filenames);
};

#endif
