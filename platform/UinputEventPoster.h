#pragma once

#include "platform/DeviceEventPoster.h"

#include <QSize>
#include <QString>
#include <linux/input.h>
#include <memory>
#include <span>
#include <vector>

struct libevdev;

namespace platform {

// Posts through a kernel uinput device: one absolute pointer, like a virtual tablet, whose
// ABS_X/ABS_Y span the main screen (0..width-1, 0..height-1 in screen units), with the left,
// right and middle buttons and a vertical wheel (REL_WHEEL plus REL_WHEEL_HI_RES). libinput
// takes such a device as a pointer with absolute axes, so this works under X11 and Wayland.
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

    struct DescriptionDeleter
    {
        void operator()(libevdev* description) const;
    };
    using Description = std::unique_ptr<libevdev, DescriptionDeleter>;

    static constexpr const char* devicePath = "/dev/uinput";
    // The kernel's high-resolution wheel units per notch, and so per pixel of scrolling.
    static constexpr int hiResUnitsPerNotch = 120;
    static constexpr int hiResUnitsPerPixel = hiResUnitsPerNotch / pixelsPerNotch;

    // Makes the real device for a main screen of the given frame. nullptr, with the reason in
    // `failure`, when /dev/uinput is not writable, the screen size is unknown, or the kernel
    // refuses the device.
    static std::unique_ptr<UinputEventPoster> create(const QRectF& mainScreenFrame,
                                                     QString* failure);
    // The device create() asks the kernel for, for a main screen of `screenSize`, to be read
    // with libevdev's getters.
    static Description describeDevice(QSize screenSize);

    // Posts through `device`, whose absolute axes span 0..size.width()-1 and 0..size.height()-1.
    UinputEventPoster(std::unique_ptr<Device> device, QSize screenSize);
    ~UinputEventPoster() override;

    QString backendName() const override;

private:
    void moveTo(QPointF location) override;
    void setButton(Button button, bool down) override;
    void turnWheel(int pixels, int notches) override;
    void sendQueued() override;

    void queue(unsigned type, unsigned code, int value);
    void endReport();

    std::unique_ptr<Device> m_device;
    QSize m_screenSize;
    std::vector<input_event> m_queue; // whole reports, then the report being filled
    std::size_t m_reportStart = 0;    // where in m_queue the report being filled starts
};

} // namespace platform
