#include "platform/RecordingEventPoster.h"

#include <QStringList>

namespace platform {

RecordedEvent RecordedEvent::mouse(MouseEventType type, QPointF location, MouseButton button)
{
    RecordedEvent event;
    event.kind = Mouse;
    event.type = type;
    event.location = location;
    event.button = button;
    return event;
}

RecordedEvent RecordedEvent::scrollWheel(qint32 pixels)
{
    RecordedEvent event;
    event.kind = Scroll;
    event.scroll = pixels;
    return event;
}

QString RecordedEvent::toString() const
{
    if (kind == Scroll)
        return QStringLiteral("Scroll(%1)").arg(scroll);
    return QStringLiteral("%1(%2,%3,%4)")
        .arg(RecordingEventPoster::typeName(type), QString::number(location.x()),
             QString::number(location.y()), RecordingEventPoster::buttonName(button));
}

QString RecordingEventPoster::backendName() const
{
    return QStringLiteral("recording");
}

void RecordingEventPoster::postMouseEvent(MouseEventType type, QPointF location, MouseButton button)
{
    m_events.push_back(RecordedEvent::mouse(type, location, button));
    m_lastLocation = location;
    switch (type) {
    case MouseEventType::LeftMouseDown:
        m_leftHeld = true;
        break;
    case MouseEventType::LeftMouseUp:
        m_leftHeld = false;
        break;
    case MouseEventType::RightMouseDown:
        m_rightHeld = true;
        break;
    case MouseEventType::RightMouseUp:
        m_rightHeld = false;
        break;
    case MouseEventType::MouseMoved:
    case MouseEventType::LeftMouseDragged:
        break;
    }
}

void RecordingEventPoster::postScrollWheelEvent(qint32 pixels)
{
    m_events.push_back(RecordedEvent::scrollWheel(pixels));
}

void RecordingEventPoster::releaseHeldButtons()
{
    if (m_leftHeld)
        postMouseEvent(MouseEventType::LeftMouseUp, m_lastLocation, MouseButton::Left);
    if (m_rightHeld)
        postMouseEvent(MouseEventType::RightMouseUp, m_lastLocation, MouseButton::Right);
}

void RecordingEventPoster::clear()
{
    m_events.clear();
}

QString RecordingEventPoster::toString() const
{
    QStringList parts;
    for (const RecordedEvent& event : m_events)
        parts << event.toString();
    return parts.join(QStringLiteral(", "));
}

QString RecordingEventPoster::typeName(MouseEventType type)
{
    switch (type) {
    case MouseEventType::LeftMouseDown:
        return QStringLiteral("LeftMouseDown");
    case MouseEventType::LeftMouseUp:
        return QStringLiteral("LeftMouseUp");
    case MouseEventType::RightMouseDown:
        return QStringLiteral("RightMouseDown");
    case MouseEventType::RightMouseUp:
        return QStringLiteral("RightMouseUp");
    case MouseEventType::MouseMoved:
        return QStringLiteral("MouseMoved");
    case MouseEventType::LeftMouseDragged:
        return QStringLiteral("LeftMouseDragged");
    }
    return QStringLiteral("MouseEventType(%1)").arg(static_cast<int>(type));
}

QString RecordingEventPoster::buttonName(MouseButton button)
{
    switch (button) {
    case MouseButton::Left:
        return QStringLiteral("Left");
    case MouseButton::Right:
        return QStringLiteral("Right");
    case MouseButton::Center:
        return QStringLiteral("Center");
    }
    return QStringLiteral("MouseButton(%1)").arg(static_cast<int>(button));
}

} // namespace platform
