#include "TimestampingEventPoster.h"

TimestampingEventPoster::TimestampingEventPoster(std::size_t capacity) : m_times(capacity) {}

QString TimestampingEventPoster::backendName() const
{
    return QStringLiteral("timestamping");
}

void TimestampingEventPoster::postMouseEvent(platform::MouseEventType, QPointF,
                                             platform::MouseButton)
{
    stamp();
}

void TimestampingEventPoster::postScrollWheelEvent(qint32)
{
    stamp();
}

void TimestampingEventPoster::stamp()
{
    const Clock::time_point now = Clock::now();
    const std::size_t index = m_count.load(std::memory_order_relaxed);
    if (index < m_times.size())
        m_times[index] = now;
    m_count.store(index + 1, std::memory_order_release);
}
