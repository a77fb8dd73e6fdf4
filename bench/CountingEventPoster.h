#pragma once

#include "platform/EventPoster.h"

#include <QtGlobal>

// Takes every event and only counts it, so that a benchmark measures the code in front of the
// poster and not a desktop. The scroll sum keeps the posted amounts observable.
class CountingEventPoster final : public platform::EventPoster
{
public:
    QString backendName() const override;
    void postMouseEvent(platform::MouseEventType type, QPointF location,
                        platform::MouseButton button) override;
    void postScrollWheelEvent(qint32 pixels) override;
    void releaseHeldButtons() override {}
    void flush() override {}

    quint64 mouseEvents() const { return m_mouseEvents; }
    quint64 scrollEvents() const { return m_scrollEvents; }
    qint64 scrolledPixels() const { return m_scrolledPixels; }

private:
    quint64 m_mouseEvents = 0;
    quint64 m_scrollEvents = 0;
    qint64 m_scrolledPixels = 0;
};
