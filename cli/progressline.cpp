#include "progressline.h"

#include "console.h"

ProgressLine::ProgressLine(int totalLoads)
    : m_totalLoads(totalLoads)
{
    m_timer.start();
}

void ProgressLine::operationStarted(int currentImage, int totalImages, int currentOperation,
                                    int totalOperations)
{
    m_image = currentImage;
    m_images = totalImages;
    m_operation = currentOperation;
    m_operations = totalOperations;
    ++m_loadsStarted;
    redraw();
}

void ProgressLine::redraw()
{
    if (m_loadsStarted == 0)
        return;
    const qint64 elapsed = m_timer.elapsed();
    QString text = QStringLiteral("image %1 of %2, operation %3 of %4, %5 elapsed")
                       .arg(m_image + 1)
                       .arg(m_images)
                       .arg(m_operation + 1)
                       .arg(m_operations)
                       .arg(duration(elapsed));
    // The load in progress is not done yet; the estimate needs at least one that is.
    const int done = m_loadsStarted - 1;
    if (done > 0)
        text +=
            QStringLiteral(", about %1 left").arg(duration(elapsed * qMax(0, m_totalLoads - done) / done));
    draw(text);
}

void ProgressLine::clear()
{
    if (m_drawnLength > 0)
        draw(QString());
    m_drawnLength = 0;
}

QString ProgressLine::duration(qint64 milliseconds)
{
    const qint64 seconds = milliseconds / 1000;
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2").arg(seconds / 60 % 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (seconds < 3600)
        return minutesAndSeconds;
    return QStringLiteral("%1:%2").arg(seconds / 3600).arg(minutesAndSeconds, 5, QLatin1Char('0'));
}

void ProgressLine::draw(const QString &text)
{
    // Spaces over what is left of a longer earlier line; no terminal control sequences needed.
    const int padding = qMax(0, m_drawnLength - text.size());
    QString line = QLatin1Char('\r') + text + QString(padding, QLatin1Char(' '));
    if (text.isEmpty())
        line += QLatin1Char('\r');
    Console::errorText(line);
    m_drawnLength = text.size();
}
