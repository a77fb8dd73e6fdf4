#include "CountingEventPoster.h"

QString CountingEventPoster::backendName() const
{
    return QStringLiteral("counting");
}

void CountingEventPoster::postMouseEvent(platform::MouseEventType, QPointF, platform::MouseButton)
{
    ++m_mouseEvents;
}

void CountingEventPoster::postScrollWheelEvent(qint32 pixels)
{
    ++m_scrollEvents;
    m_scrolledPixels += pixels;
}
