#include "GestureObservingPoster.h"

#include "TouchFrameRecorder.h"

using platform::MouseEventType;

void GestureObservingPoster::postMouseEvent(MouseEventType type, QPointF location,
                                            platform::MouseButton button)
{
    m_poster.postMouseEvent(type, location, button);
    if (m_recorder)
        observe(type, location);
}

void GestureObservingPoster::postScrollWheelEvent(qint32 pixels)
{
    m_poster.postScrollWheelEvent(pixels);
    // The engine scrolls by 0 on frames where the fingers did not move: no gesture.
    if (m_recorder && pixels != 0)
        m_recorder->gesture(pixels > 0 ? QStringLiteral("scroll-up")
                                       : QStringLiteral("scroll-down"),
                            m_lastLocation);
}

void GestureObservingPoster::observe(MouseEventType type, QPointF location)
{
    m_lastLocation = location - m_origin;
    switch (type) {
    case MouseEventType::LeftMouseDown:
        m_recorder->gesture(QStringLiteral("press"), m_lastLocation);
        break;
    case MouseEventType::LeftMouseDragged:
        m_recorder->gesture(QStringLiteral("drag"), m_lastLocation);
        break;
    case MouseEventType::LeftMouseUp:
        m_recorder->gesture(QStringLiteral("release"), m_lastLocation);
        break;
    case MouseEventType::RightMouseDown:
        m_recorder->gesture(QStringLiteral("right-click"), m_lastLocation);
        break;
    case MouseEventType::RightMouseUp:
    case MouseEventType::MouseMoved: // the two-finger centre: where scrolling will happen
        break;
    }
}
