#include "thumbnailwidget.h"

#include "languagetext.h"

#include <QImageIOHandler>
#include <QImageReader>
#include <QPainter>
#include <QThread>

ThumbnailWidget::ThumbnailWidget(QWidget *parent)
    : QWidget(parent)
{
}

ThumbnailWidget::~ThumbnailWidget()
{
    // The decoder is a child: it must have ended before it is destroyed with the widget.
    if (decoder)
        decoder->wait();
}

QImage ThumbnailWidget::loadPreview(const QString &path)
{
    const QSize bounds(MaxPreviewSize, MaxPreviewSize);
    QImageReader reader(path);
    const QSize fullSize = reader.size();
    // Runs in the decoder thread. Readers that can scale while decoding (JPEG) are asked for the
    // preview size directly, which is several times faster for a 50 MP frame. QSize::scaled rounds
    // down in integers, the same as the scaling below.
    if (fullSize.isValid() && (fullSize.width() > MaxPreviewSize || fullSize.height() > MaxPreviewSize)
        && reader.supportsOption(QImageIOHandler::ScaledSize)) {
        reader.setScaledSize(fullSize.scaled(bounds, Qt::KeepAspectRatio));
    }
    QImage decoded = reader.read();
    if (!decoded.isNull() && (decoded.width() > MaxPreviewSize || decoded.height() > MaxPreviewSize))
        decoded = decoded.scaled(bounds, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return decoded;
}

void ThumbnailWidget::changeImage(const QString &path)
{
    ++requestCount;
    wantedPath = path;
    loading = !path.isEmpty();
    if (path.isEmpty()) {
        image = QImage();
        imageChosen = false;
    } else if (!decoder) {
        startDecode();
    }
    // Otherwise the file waits for the decode in progress: moving through a long list starts no
    // pile of decodes, only the newest file is decoded next.
    update();
}

void ThumbnailWidget::showImage(const QImage &picture)
{
    ++requestCount;
    wantedPath.clear();
    loading = false;
    imageChosen = true;
    const QSize bounds(MaxPreviewSize, MaxPreviewSize);
    image = picture.width() > MaxPreviewSize || picture.height() > MaxPreviewSize
                ? picture.scaled(bounds, Qt::KeepAspectRatio, Qt::SmoothTransformation) : picture;
    update();
}

void ThumbnailWidget::startDecode()
{
    decodingRequest = requestCount;
    decoder = QThread::create([this, path = wantedPath] { decoded = loadPreview(path); });
    decoder->setParent(this);
    connect(decoder, &QThread::finished, this, &ThumbnailWidget::decodeFinished);
    decoder->start();
}

void ThumbnailWidget::decodeFinished()
{
    // finished() is sent from the thread just before it ends; wait() covers the last steps.
    decoder->wait();
    decoder->deleteLater();
    decoder = nullptr;
    const QImage result = decoded;
    decoded = QImage();
    if (decodingRequest == requestCount) {
        image = result;
        loading = false;
        imageChosen = true;
        update();
    } else if (loading) {
        startDecode();
    }
}

void ThumbnailWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setBrush(QBrush(Qt::black, Qt::SolidPattern));
    painter.drawRect(rect());

    if (loading || !imageChosen) {
        painter.setPen(Qt::darkGray);
        painter.drawText(rect(), Qt::AlignCenter, languageText(loading ? 39 : 40));
        return;
    }
    if (image.isNull())
        return;

    const int W = width();
    const int H = height();
    if (W > image.width() && H > image.height()) {
        painter.drawImage((W - image.width()) / 2, (H - image.height()) / 2, image);
    } else {
        const QImage fitted = image.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        painter.drawImage((W - fitted.width()) / 2, (H - fitted.height()) / 2, fitted);
    }
}
