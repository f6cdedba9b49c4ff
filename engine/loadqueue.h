#ifndef VELUMEN_LOADQUEUE_H
#define VELUMEN_LOADQUEUE_H

#include <QString>
#include <QVector>

#include <atomic>
#include <deque>
#include <memory>

class SourceLoad;

// The loads of a job's operations in their order. Taking one starts the loads of the next
// operations, up to a number ahead, so that their tools decode while the worker combines.
class LoadQueue
{
public:
    struct Request
    {
        QString fileName;
        QString options;
    };

    // The first load and the loads ahead of it start at once.
    LoadQueue(const QVector<Request> &requests, int ahead, const std::atomic_bool *stop);
    // Loads not taken are ended and dropped.
    ~LoadQueue();
    LoadQueue(const LoadQueue &) = delete;
    LoadQueue &operator=(const LoadQueue &) = delete;

    // The next load in order; null past the last.
    std::unique_ptr<SourceLoad> take();

private:
    void topUp(int count);

    QVector<Request> m_requests;
    int m_ahead;
    const std::atomic_bool *m_stop;
    int m_next = 0;
    std::deque<std::unique_ptr<SourceLoad>> m_started;
};

#endif
