#include "platform/NullEventPoster.h"

namespace platform {

QString NullEventPoster::backendName() const
{
    return QStringLiteral("none");
}

void NullEventPoster::postMouseEvent(MouseEventType, QPointF, MouseButton) {}

void NullEventPoster::postScrollWheelEvent(qint32) {}

void NullEventPoster::releaseHeldButtons() {}

void NullEventPoster::flush() {}

} // namespace platform
