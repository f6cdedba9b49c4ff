#ifndef VELUMEN_PROGRESSLINE_H
#define VELUMEN_PROGRESSLINE_H

#include <QElapsedTimer>
#include <QString>

// One line on a terminal, redrawn in place: the destination image and operation in progress, the
// time so far and an estimate of the time left, from the loads done out of all the job's loads.
class ProgressLine
{
public:
    explicit ProgressLine(int totalLoads);

    void operationStarted(int currentImage, int totalImages, int currentOperation, int totalOperations);
    // Draws the line again with the time now; nothing before the first operation.
    void redraw();
    // Blanks the line, so that what follows starts on a clean one.
    void clear();

    // "0:07", "12:34", "1:02:03".
    static QString duration(qint64 milliseconds);

private:
    void draw(const QString &text);

    QElapsedTimer m_timer;
    int m_totalLoads = 0;
    int m_loadsStarted = 0;
    int m_image = 0;
    int m_images = 0;
    int m_operation = 0;
    int m_operations = 0;
    int m_drawnLength = 0;
};

#endif
