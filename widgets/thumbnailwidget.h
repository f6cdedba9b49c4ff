#ifndef VELUMEN_THUMBNAILWIDGET_H
#define VELUMEN_THUMBNAILWIDGET_H

#include <QImage>
#include <QWidget>

// Preview of the current source image, reduced to fit 640 x 640 and drawn centred on black.
class ThumbnailWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ThumbnailWidget(QWidget *parent = nullptr);

    // The stored preview (null when there is none or the file could not be decoded).
    QImage previewImage() const { return image; }

    // Largest stored preview edge; bigger pictures are reduced on load.
    static constexpr int MaxPreviewSize = 640;

public slots:
    void changeImage(const QString &path);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static QImage loadPreview(const QString &path);

    QImage image;
    bool loading = false;
    bool imageChosen = false;
    quint64 requestCount = 0; // numbers the calls of changeImage, to drop superseded ones
};

#endif
