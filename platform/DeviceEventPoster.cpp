#include "platform/DeviceEventPoster.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

bool isFinite(QPointF location)
{
    return std::isfinite(location.x()) && std::isfinite(location.y());
}

} // namespace

DeviceEventPoster::~DeviceEventPoster()
{
    Q_ASSERT_X(!m_leftHeld && !m_rightHeld, "~DeviceEventPoster",
               "a backend's destructor must release the held buttons");
}

void DeviceEventPoster::postMouseEvent(MouseEventType type, QPointF location, MouseButton)
{
    switch (type) {
    case MouseEventType::MouseMoved:
    case MouseEventType::LeftMouseDragged:
        return move(location);
    case MouseEventType::LeftMouseDown:
        return press(Button::Left, location);
    case MouseEventType::RightMouseDown:
        return press(Button::Right, location);
    case MouseEventType::LeftMouseUp:
        return release(Button::Left, location);
    case MouseEventType::RightMouseUp:
        return release(Button::Right, location);
    }
}

void DeviceEventPoster::postScrollWheelEvent(qint32 pixels)
{
    constexpr qint32 maximumPixels = maximumNotchesPerScroll * pixelsPerNotch;
    const int clamped = std::clamp(pixels, -maximumPixels, maximumPixels);
    if (clamped == 0)
        return;
    if ((clamped > 0) != (m_wheelRemainder > 0))
        m_wheelRemainder = 0;
    m_wheelRemainder += clamped;
    const int notches = m_wheelRemainder / pixelsPerNotch; // toward zero
    m_wheelRemainder -= notches * pixelsPerNotch;
    turnWheel(clamped, notches);
    m_queued = true;
}

void DeviceEventPoster::releaseHeldButtons()
{
    changeButton(Button::Left, false);
    changeButton(Button::Right, false);
    flush();
}

void DeviceEventPoster::flush()
{
    if (!m_queued)
        return;
    m_queued = false;
    sendQueued();
}

bool DeviceEventPoster::isHeld(Button button) const
{
    return button == Button::Right ? m_rightHeld : m_leftHeld;
}

void DeviceEventPoster::move(QPointF location)
{
    if (!isFinite(location))
        return;
    moveTo(location);
    m_queued = true;
}

void DeviceEventPoster::press(Button button, QPointF location)
{
    if (!isFinite(location))
        return;
    move(location);
    changeButton(button, true);
}

// A release is never dropped, so that every press has one: without a finite location the
// button goes up where the pointer is.
void DeviceEventPoster::release(Button button, QPointF location)
{
    move(location);
    changeButton(button, false);
}

// Only real changes reach the device, so that its state stays what we think it is: a device
// drops a repeated press, or the release of a button that is up anyway.
void DeviceEventPoster::changeButton(Button button, bool down)
{
    bool& held = button == Button::Right ? m_rightHeld : m_leftHeld;
    if (held == down)
        return;
    held = down;
    setButton(button, down);
    m_queued = true;
}

} // namespace platform
