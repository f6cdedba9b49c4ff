#ifndef VELUMEN_THUMBNAILWIDGET_H
#define VELUMEN_THUMBNAILWIDGET_H

#include <QImage>
#include <QString>
#include <QWidget>

class QThread;

// Preview of the current source image, reduced to fit 640 x 640 and drawn centred on black. Files
// are decoded in a thread of their own, one at a time, so that the window never waits for a large
// frame; a result that a newer choice has superseded is dropped.
class ThumbnailWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ThumbnailWidget(QWidget *parent = nullptr);
    ~ThumbnailWidget() override;

    // The stored preview (null when there is none or the file could not be decoded).
    QImage previewImage() const { return image; }

    // Largest stored preview edge; bigger pictures are reduced on load.
    static constexpr int MaxPreviewSize = 640;

public slots:
    void changeImage(const QString &path);
    // Shows a picture made elsewhere (fitted as a decoded file is); a decode still running for an
    // earlier path is dropped.
    void showImage(const QImage &picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static QImage loadPreview(const QString &path);
    void startDecode();
    void decodeFinished();

    QImage image;
    bool loading = false;
    bool imageChosen = false;
    QString wantedPath;          // the newest file chosen
    quint64 requestCount = 0;    // numbers the calls of changeImage
    quint64 decodingRequest = 0; // the call whose file the decoder is working on
    QThread *decoder = nullptr;  // running decode, a child of the widget
    QImage decoded;              // written by the decoder, read once it has finished
};

#endif
