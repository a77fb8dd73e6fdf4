#pragma once

#include "platform/DeviceEventPoster.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <linux/input.h>
#include <memory>
#include <span>
#include <vector>

struct libevdev;

namespace platform {

// Posts through a kernel uinput device: one absolute pointer, like a virtual tablet, whose
// ABS_X/ABS_Y span the whole desktop (0..width-1, 0..height-1 in screen units, from the
// desktop's top-left corner), with the left, right and middle buttons and a vertical wheel
// (REL_WHEEL plus REL_WHEEL_HI_RES). libinput takes such a device as a pointer with absolute
// axes, and X.org and the usual compositors map it onto the whole desktop, so a point of any
// monitor can be reached, under X11 and Wayland.
//
// A device's axes cannot change: when the desktop's size changes, the held buttons are let go
// of and the device is made again for the new size.
//
// The events of a frame go to the device in one write() at the flush. Its readers take a report
// (the events up to a SYN_REPORT) as one moment, so a report holds each code at most once and
// ends after a button change: a press and its release in one report would be no click at all,
// and a button goes with the position of its own report.
//
// It keeps no HeldButtonRecord: the kernel lets go of every key and button of an input device
// that goes away, and closing /dev/uinput takes the device away, so also when the agent is
// killed. A release sent through the next agent's new device could not reach the old one anyway.
class UinputEventPoster final : public DeviceEventPoster
{
public:
    // Where the events go: the uinput device's file, or a recorder in tests.
    class Device
    {
    public:
        virtual ~Device() = default;
        // Whole reports, in one write.
        virtual void write(std::span<const input_event> events) = 0;
    };
    // Makes a device whose axes span `size`; nullptr, with the reason in `failure`, if it cannot.
    using DeviceMaker = std::function<std::unique_ptr<Device>(QSize size, QString* failure)>;

    struct DescriptionDeleter
    {
        void operator()(libevdev* description) const;
    };
    using Description = std::unique_ptr<libevdev, DescriptionDeleter>;

    static constexpr const char* devicePath = "/dev/uinput";
    // The kernel's high-resolution wheel units per notch, and so per pixel of scrolling.
    static constexpr int hiResUnitsPerNotch = 120;
    static constexpr int hiResUnitsPerPixel = hiResUnitsPerNotch / pixelsPerNotch;

    // Makes the real device for a desktop of the given bounds. nullptr, with the reason in
    // `failure`, when /dev/uinput is not writable, the desktop's size is unknown, or the kernel
    // refuses the device.
    static std::unique_ptr<UinputEventPoster> create(const QRect& desktopBounds, QString* failure);
    // The device create() asks the kernel for, for a desktop of `desktopSize`, to be read
    // with libevdev's getters.
    static Description describeDevice(QSize desktopSize);

    // Posts through `device`, whose absolute axes span `desktopBounds`; `makeDevice` makes the
    // next one when the desktop's size changes.
    UinputEventPoster(std::unique_ptr<Device> device, const QRect& desktopBounds,
                      DeviceMaker makeDevice);
    ~UinputEventPoster() override;

    QString backendName() const override;
    void setDesktop(const QRect& desktopBounds) override;

private:
    void moveTo(QPointF location) override;
    void setButton(Button button, bool down) override;
    void turnWheel(int pixels, int notches) override;
    void sendQueued() override;

    void queue(unsigned type, unsigned code, int value);
    void endReport();

    std::unique_ptr<Device> m_device; // null when no new one could be made: events are dropped
    QRect m_desktop;
    DeviceMaker m_makeDevice;
    std::vector<input_event> m_queue; // whole reports, then the report being filled
    std::size_t m_reportStart = 0;    // where in m_queue the report being filled starts
};

} // namespace platform
