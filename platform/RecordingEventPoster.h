#pragma once

#include "platform/EventPoster.h"

#include <QString>
#include <vector>

namespace platform {

// One call made on a RecordingEventPoster, kept verbatim.
struct RecordedEvent
{
    enum Kind { Mouse, Scroll };

    Kind kind = Mouse;
    MouseEventType type = MouseEventType::MouseMoved; // Mouse only
    QPointF location;                                 // Mouse only
    MouseButton button = MouseButton::Left;           // Mouse only
    qint32 scroll = 0;                                // Scroll only: pixels, positive = up

    static RecordedEvent mouse(MouseEventType type, QPointF location,
                               MouseButton button = MouseButton::Left);
    static RecordedEvent scrollWheel(qint32 pixels);

    // Exact comparison: locations must match to the last bit.
    friend bool operator==(const RecordedEvent&, const RecordedEvent&) = default;

    // "LeftMouseDown(10,20,Left)" or "Scroll(-3)".
    QString toString() const;
};

// Keeps every event posted to it, in order, for tests of the gesture engine; nothing reaches
// the desktop. Buttons pressed and not released are tracked like a real device's.
//
//     RecordingEventPoster poster;
//     ... drive the engine ...
//     QCOMPARE(poster.toString(), QStringLiteral("LeftMouseDown(10,20,Left), Scroll(30)"));
class RecordingEventPoster final : public EventPoster
{
public:
    QString backendName() const override;
    void postMouseEvent(MouseEventType type, QPointF location, MouseButton button) override;
    void postScrollWheelEvent(qint32 pixels) override;
    // Records a LeftMouseUp / RightMouseUp (in that order) at the last posted location for
    // each button that went down and not up again.
    void releaseHeldButtons() override;

    const std::vector<RecordedEvent>& events() const { return m_events; }
    // Forgets the recorded events; the held buttons and last location stay.
    void clear();

    bool isLeftHeld() const { return m_leftHeld; }

    // All events, each as RecordedEvent::toString, joined with ", "; "" when none.
    QString toString() const;

    static QString typeName(MouseEventType type);
    static QString buttonName(MouseButton button);

private:
    std::vector<RecordedEvent> m_events;
    QPointF m_lastLocation;
    bool m_leftHeld = false;
    bool m_rightHeld = false;
};

} // namespace platform
