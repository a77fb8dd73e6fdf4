#pragma once

#include "platform/EventPoster.h"

#include <QPointF>

class TouchFrameRecorder;

// Forwards everything to the real poster and, while a recorder is set (a viewer is
// registered), tells it the gestures the engine posts: press, drag, release, right-click and
// scrolling, at their points relative to the mapped monitor. Without a recorder a call costs
// one branch more than the real poster.
class GestureObservingPoster final : public platform::EventPoster
{
public:
    explicit GestureObservingPoster(platform::EventPoster& poster) : m_poster(poster) {}

    void setRecorder(TouchFrameRecorder* recorder) { m_recorder = recorder; }
    // The mapped monitor's top-left corner in global display coordinates.
    void setMonitorOrigin(QPointF origin) { m_origin = origin; }

    QString backendName() const override { return m_poster.backendName(); }
    void postMouseEvent(platform::MouseEventType type, QPointF location,
                        platform::MouseButton button) override;
    void postScrollWheelEvent(qint32 pixels) override;
    void releaseHeldButtons() override { m_poster.releaseHeldButtons(); }
    void flush() override { m_poster.flush(); }

private:
    // `point` in monitor pixels.
    void observe(platform::MouseEventType type, QPointF point);

    platform::EventPoster& m_poster;
    TouchFrameRecorder* m_recorder = nullptr;
    QPointF m_origin; // global display coordinates
};
