#pragma once

#include "platform/EventPoster.h"

#include <QSize>
#include <QString>
#include <memory>

namespace platform {

// Posts through a kernel uinput device: one absolute pointer, like a virtual tablet, whose
// ABS_X/ABS_Y span the main screen (0..width-1, 0..height-1 in screen units), with the left,
// right and middle buttons and a vertical wheel (REL_WHEEL plus REL_WHEEL_HI_RES). libinput
// takes such a device as a pointer with absolute axes, so this works under X11 and Wayland.
//
// Down and up events take their button from the event type (left or right), as the original
// platform does; the button argument is not consulted. Every event ends with a SYN_REPORT, and
// a button event carries its position in the same report.
//
// It keeps no HeldButtonRecord: the kernel lets go of every key and button of an input device
// that goes away, and closing /dev/uinput takes the device away, so also when the agent is
// killed. A release sent through the next agent's new device could not reach the old one anyway.
class UinputEventPoster final : public EventPoster
{
public:
    // Where the events go: the real libevdev uinput device, or a recorder in tests.
    class Device
    {
    public:
        virtual ~Device() = default;
        virtual void writeEvent(unsigned type, unsigned code, int value) = 0;
    };

    static constexpr const char* devicePath = "/dev/uinput";
    // Pixels of scrolling per wheel notch, and the kernel's high-resolution units per notch.
    static constexpr int pixelsPerNotch = 15;
    static constexpr int hiResUnitsPerNotch = 120;
    static constexpr int hiResUnitsPerPixel = hiResUnitsPerNotch / pixelsPerNotch;

    // Makes the real device for a main screen of the given frame. nullptr, with the reason in
    // `failure`, when /dev/uinput is not writable, the screen size is unknown, or the kernel
    // refuses the device.
    static std::unique_ptr<UinputEventPoster> create(const QRectF& mainScreenFrame,
                                                     QString* failure);

    // Posts through `device`, whose absolute axes span 0..size.width()-1 and 0..size.height()-1.
    UinputEventPoster(std::unique_ptr<Device> device, QSize screenSize);
    ~UinputEventPoster() override;

    QString backendName() const override;
    void postMouseEvent(MouseEventType type, QPointF location, MouseButton button) override;
    void postScrollWheelEvent(qint32 pixels) override;
    void releaseHeldButtons() override;

private:
    void postMotion(QPointF location);
    void postPress(unsigned code, QPointF location);
    void postRelease(unsigned code, QPointF location);
    void writePosition(QPointF location);
    void setButton(unsigned code, bool down);
    void sync();
    bool& heldFlag(unsigned code);

    std::unique_ptr<Device> m_device;
    QSize m_screenSize;
    // High-resolution wheel units posted but not yet a whole notch; |value| < 120.
    qint64 m_wheelRemainder = 0;
    bool m_leftHeld = false;
    bool m_rightHeld = false;
};

} // namespace platform
