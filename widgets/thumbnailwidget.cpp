#include "thumbnailwidget.h"

#include "languagetext.h"

#include <QCoreApplication>
#include <QImageIOHandler>
#include <QImageReader>
#include <QPainter>

ThumbnailWidget::ThumbnailWidget(QWidget *parent)
    : QWidget(parent)
{
}

QImage ThumbnailWidget::loadPreview(const QString &path)
{
    const QSize bounds(MaxPreviewSize, MaxPreviewSize);
    QImageReader reader(path);
    const QSize fullSize = reader.size();
    // Decoding a 50 MP frame at full size takes seconds in the window's thread; readers that can
    // scale while decoding (JPEG) are asked for the preview size directly. QSize::scaled rounds
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
    if (path.isEmpty()) {
        ++requestCount;
        loading = false;
        image = QImage();
        imageChosen = false;
    } else {
        // Let the loading text reach the screen before the decode blocks the event loop.
        const quint64 request = ++requestCount;
        loading = true;
        update();
        QCoreApplication::processEvents();
        // A newer choice (the user moving on through the list) may have been handled while the
        // events ran; it has already set the preview, and this older file must not replace it.
        if (request != requestCount)
            return;
        image = loadPreview(path);
        loading = false;
        imageChosen = true;
    }
    update();
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
