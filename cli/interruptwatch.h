#ifndef VELUMEN_INTERRUPTWATCH_H
#define VELUMEN_INTERRUPTWATCH_H

#include <QObject>

class QTimer;

// Turns SIGINT, SIGTERM and (where there is one) SIGHUP into a Qt signal. The handler only stores the signal
// number in a lock-free atomic (async-signal-safe); a timer in the event loop looks at it.
class InterruptWatch : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatch(QObject *parent = nullptr);
    // Gives the signals back their default action.
    ~InterruptWatch() override;

    // True once either signal has arrived, even before the timer has seen it.
    static bool received();

signals:
    void interrupted();

private:
    void poll();

    QTimer *m_timer;
    bool m_reported = false;
};

#endif
