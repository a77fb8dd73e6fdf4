#include "RecordingEventPoster.h"

#include <iterator>

namespace {

// By the event types' numbers, 1 to 6.
constexpr const char* typeNames[] = {
    "",           "LeftMouseDown",   "LeftMouseUp", "RightMouseDown", "RightMouseUp",
    "MouseMoved", "LeftMouseDragged"};

} // namespace

QString RecordingEventPoster::backendName() const
{
    return QStringLiteral("recording");
}

void RecordingEventPoster::postMouseEvent(platform::MouseEventType type, QPointF location,
                                          platform::MouseButton button)
{
    const auto number = std::size_t(type);
    record(QStringLiteral("%1(%2,%3,%4)")
               .arg(number < std::size(typeNames) ? typeNames[number] : "unknown type",
                    QString::number(location.x()), QString::number(location.y()),
                    button == platform::MouseButton::Right ? "Right" : "Left"));
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
