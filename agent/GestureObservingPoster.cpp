#include "GestureObservingPoster.h"

#include "TouchFrameRecorder.h"

using platform::MouseEventType;

void GestureObservingPoster::postMouseEvent(MouseEventType type, QPointF location,
                                            platform::MouseButton button)
{
    m_poster.postMouseEvent(type, location, button);
    if (m_recorder)
        observe(type, location - m_origin);
}

void GestureObservingPoster::postScrollWheelEvent(qint32 pixels)
{
    m_poster.postScrollWheelEvent(pixels);
    // The engine scrolls by 0 on frames where the fingers did not move: no gesture.
    if (m_recorder && pixels != 0)
        m_recorder->scrolled(pixels);
}

void GestureObservingPoster::observe(MouseEventType type, QPointF point)
{
    switch (type) {
    case MouseEventType::LeftMouseDown:
        m_recorder->gesture(QStringLiteral("press"), point);
        break;
    case MouseEventType::LeftMouseDragged:
        m_recorder->gesture(QStringLiteral("drag"), point);
        break;
    case MouseEventType::LeftMouseUp:
        m_recorder->gesture(QStringLiteral("release"), point);
        break;
    case MouseEventType::RightMouseDown:
        m_recorder->gesture(QStringLiteral("right-click"), point);
        break;
    case MouseEventType::RightMouseUp:
    case MouseEventType::MouseMoved:
        break;
    }
}
