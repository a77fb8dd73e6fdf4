#include "RecordingEventPoster.h"

namespace {

QString typeName(platform::MouseEventType type)
{
    using Type = platform::MouseEventType;
    switch (type) {
    case Type::LeftMouseDown:
        return QStringLiteral("LeftMouseDown");
    case Type::LeftMouseUp:
        return QStringLiteral("LeftMouseUp");
    case Type::RightMouseDown:
        return QStringLiteral("RightMouseDown");
    case Type::RightMouseUp:
        return QStringLiteral("RightMouseUp");
    case Type::MouseMoved:
        return QStringLiteral("MouseMoved");
    case Type::LeftMouseDragged:
        return QStringLiteral("LeftMouseDragged");
    }
    return QStringLiteral("MouseEventType(%1)").arg(static_cast<int>(type));
}

QString buttonName(platform::MouseButton button)
{
    switch (button) {
    case platform::MouseButton::Left:
        return QStringLiteral("Left");
    case platform::MouseButton::Right:
        return QStringLiteral("Right");
    }
    return QStringLiteral("MouseButton(%1)").arg(static_cast<int>(button));
}

} // namespace

QString RecordingEventPoster::backendName() const
{
    return QStringLiteral("recording");
}

void RecordingEventPoster::postMouseEvent(platform::MouseEventType type, QPointF location,
                                          platform::MouseButton button)
{
    record(QStringLiteral("%1(%2,%3,%4)")
               .arg(typeName(type), QString::number(location.x()), QString::number(location.y()),
                    buttonName(button)));
}

void RecordingEventPoster::postScrollWheelEvent(qint32 pixels)
{
    record(QStringLiteral("Scroll(%1)").arg(pixels));
}

void RecordingEventPoster::releaseHeldButtons()
{
    record(QStringLiteral("ReleaseHeldButtons"));
}

void RecordingEventPoster::flush()
{
    ++m_flushes;
    m_unflushed = 0;
}

void RecordingEventPoster::clear()
{
    m_calls.clear();
    m_flushes = 0;
    m_unflushed = 0;
}

void RecordingEventPoster::record(const QString& call)
{
    m_calls << call;
    ++m_unflushed;
}
