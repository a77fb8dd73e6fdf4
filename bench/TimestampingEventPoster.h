#pragma once

#include "platform/EventPoster.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <vector>

// Notes the moment each event is posted, for latency measurements. Room for every event is
// reserved up front, so that posting never allocates; events beyond it are counted only.
// Posted on one thread; count() may be read from another.
class TimestampingEventPoster final : public platform::EventPoster
{
public:
    using Clock = std::chrono::steady_clock;

    explicit TimestampingEventPoster(std::size_t capacity);

    QString backendName() const override;
    void postMouseEvent(platform::MouseEventType type, QPointF location,
                        platform::MouseButton button) override;
    void postScrollWheelEvent(qint32 pixels) override;
    void releaseHeldButtons() override {}
    void flush() override {}

    std::size_t count() const { return m_count.load(std::memory_order_acquire); }
    // The moment of event `index` (0 = the first posted); valid for index < count().
    Clock::time_point postedAt(std::size_t index) const { return m_times[index]; }

private:
    void stamp();

    std::vector<Clock::time_point> m_times;
    std::atomic<std::size_t> m_count = 0;
};
