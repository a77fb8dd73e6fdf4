#pragma once

#include "platform/EventPoster.h"

#include <QStringList>

// Keeps every call made on it, in order, for tests of the gesture engine; nothing reaches the
// desktop. Flushes are counted apart from the events.
//
//     RecordingEventPoster poster;
//     ... drive the engine ...
//     QCOMPARE(poster.toString(), QStringLiteral("LeftMouseDown(10,20,Left), Scroll(30)"));
class RecordingEventPoster final : public platform::EventPoster
{
public:
    QString backendName() const override;
    void postMouseEvent(platform::MouseEventType type, QPointF location,
                        platform::MouseButton button) override;
    void postScrollWheelEvent(qint32 pixels) override;
    void releaseHeldButtons() override;
    void flush() override;

    // The calls, e.g. "LeftMouseDown(10,20,Left)", "Scroll(-3)", "ReleaseHeldButtons", joined
    // with ", "; "" when none.
    QString toString() const { return m_calls.join(QStringLiteral(", ")); }
    int flushes() const { return m_flushes; }
    // Calls made since the last flush.
    int unflushed() const { return m_unflushed; }
    // Forgets the calls and the flushes.
    void clear();

private:
    void record(const QString& call);

    QStringList m_calls;
    int m_flushes = 0;
    int m_unflushed = 0;
};
