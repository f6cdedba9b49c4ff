#include "loadqueue.h"

#include "sourceload.h"

LoadQueue::LoadQueue(const QVector<Request> &requests, int ahead, const std::atomic_bool *stop)
    : m_requests(requests), m_ahead(ahead), m_stop(stop)
{
    topUp(m_ahead + 1);
}

LoadQueue::~LoadQueue()
{
    // All are asked to end before any is waited for, so that they end side by side.
    for (const std::unique_ptr<SourceLoad> &load : m_started)
        load->drop();
    m_started.clear();
}

std::unique_ptr<SourceLoad> LoadQueue::take()
{
    topUp(1);
    if (m_started.empty())
        return nullptr;
    std::unique_ptr<SourceLoad> load = std::move(m_started.front());
    m_started.pop_front();
    topUp(m_ahead);
    return load;
}

// Starts loads in order until the given number are under way and not yet taken.
void LoadQueue::topUp(int count)
{
    while (m_next < m_requests.size() && int(m_started.size()) < count) {
        const Request &request = m_requests.at(m_next++);
        m_started.emplace_back(new SourceLoad(request.fileName, request.options, m_stop));
    }
}
