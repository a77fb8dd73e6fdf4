#pragma once

#include "platform/EventPoster.h"

namespace platform {

// The poster of last resort, when neither uinput nor XTest can be used: every event is dropped.
class NullEventPoster final : public EventPoster
{
public:
    QString backendName() const override;
    void postMouseEvent(MouseEventType type, QPointF location, MouseButton button) override;
    void postScrollWheelEvent(qint32 pixels) override;
    void releaseHeldButtons() override;
    void flush() override;
};

} // namespace platform
