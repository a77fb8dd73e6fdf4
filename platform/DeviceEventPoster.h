#pragma once

#include "platform/EventPoster.h"

namespace platform {

// What the posters in front of a real device (uinput, XTest) do alike, so that each backend only
// makes its device calls:
// - Every press we post has a release. A button goes down only when it is up and up only when it
//   is down, and a release is never dropped: without a finite location the button goes up where
//   the pointer is.
// - Nothing non-finite reaches a device: a motion or a press at such a location is dropped.
// - The wheel turns in whole notches of 15 pixels. The pixels left over wait for the next scroll
//   in the same direction; a reversal starts them again, so that the first notch of a reversed
//   scroll comes after 15 pixels like any other.
// - What is posted waits until flush(), and goes to the device in one write; releaseHeldButtons()
//   sends at once.
// A backend's destructor calls releaseHeldButtons(): this class cannot, as by the time its own
// destructor runs the backend's device is gone.
class DeviceEventPoster : public EventPoster
{
public:
    static constexpr int pixelsPerNotch = 15;
    // A scroll beyond this many notches is cut to it: a runaway amount must not flood the device.
    static constexpr int maximumNotchesPerScroll = 1000;

    ~DeviceEventPoster() override;

    // Down and up events take their button from the event type; `button` is not consulted.
    void postMouseEvent(MouseEventType type, QPointF location, MouseButton button) final;
    void postScrollWheelEvent(qint32 pixels) final;
    void releaseHeldButtons() final;
    void flush() final;

protected:
    enum class Button { Left, Right };

    bool isHeld(Button button) const;

    // The device calls. Each may queue its events until sendQueued().
    // Moves the pointer to `location`: finite, in screen units.
    virtual void moveTo(QPointF location) = 0;
    // Presses or releases `button`: only real changes, made after isHeld() has changed.
    virtual void setButton(Button button, bool down) = 0;
    // Scrolls by `pixels` (positive up, at most maximumNotchesPerScroll notches' worth), which
    // with the pixels left over make `notches` whole notches.
    virtual void turnWheel(int pixels, int notches) = 0;
    // Sends everything queued, in one write where the device allows.
    virtual void sendQueued() = 0;

private:
    void move(QPointF location);
    void press(Button button, QPointF location);
    void release(Button button, QPointF location);
    void changeButton(Button button, bool down);

    bool m_leftHeld = false;
    bool m_rightHeld = false;
    // Pixels scrolled but not yet a whole notch, signed as the last scroll; |value| < 15.
    int m_wheelRemainder = 0;
    bool m_queued = false; // anything posted since the last send
};

} // namespace platform
