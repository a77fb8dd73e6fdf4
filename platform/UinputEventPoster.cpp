#include "platform/UinputEventPoster.h"

#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <limits>
#include <unistd.h>

namespace platform {

namespace {

struct LibevdevDeleter
{
    void operator()(libevdev* device) const { libevdev_free(device); }
};

struct UinputDeleter
{
    void operator()(libevdev_uinput* device) const { libevdev_uinput_destroy(device); }
};

using LibevdevPtr = std::unique_ptr<libevdev, LibevdevDeleter>;
using UinputPtr = std::unique_ptr<libevdev_uinput, UinputDeleter>;

// The kernel device behind the poster; destroying it removes the device.
class LibevdevUinputDevice final : public UinputEventPoster::Device
{
public:
    explicit LibevdevUinputDevice(UinputPtr device) : m_device(std::move(device)) {}

    void writeEvent(unsigned type, unsigned code, int value) override
    {
        const int result = libevdev_uinput_write_event(m_device.get(), type, code, value);
        if (result < 0 && !m_warned) {
            // Once only: a device that stopped accepting events would otherwise flood the log.
            qWarning("Writing to the uinput device failed: %s", std::strerror(-result));
            m_warned = true;
        }
    }

private:
    UinputPtr m_device;
    bool m_warned = false;
};

void enableAbsoluteAxis(libevdev* device, unsigned code, int maximum)
{
    input_absinfo info{};
    info.minimum = 0;
    info.maximum = maximum;
    libevdev_enable_event_code(device, EV_ABS, code, &info);
}

// An absolute pointer: ABS_X/ABS_Y and mouse buttons, and deliberately no BTN_TOUCH, no
// BTN_TOOL_PEN and no INPUT_PROP_DIRECT, which would make it a touchscreen or a tablet tool.
LibevdevPtr describePointer(QSize screenSize)
{
    LibevdevPtr device(libevdev_new());
    libevdev_set_name(device.get(), "Tactalon virtual pointer");
    libevdev_set_id_bustype(device.get(), BUS_VIRTUAL);
    libevdev_enable_event_type(device.get(), EV_ABS);
    enableAbsoluteAxis(device.get(), ABS_X, screenSize.width() - 1);
    enableAbsoluteAxis(device.get(), ABS_Y, screenSize.height() - 1);
    libevdev_enable_event_type(device.get(), EV_KEY);
    for (unsigned code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
        libevdev_enable_event_code(device.get(), EV_KEY, code, nullptr);
    libevdev_enable_event_type(device.get(), EV_REL);
    for (unsigned code : {REL_WHEEL, REL_WHEEL_HI_RES})
        libevdev_enable_event_code(device.get(), EV_REL, code, nullptr);
    return device;
}

// Screen units to a device coordinate in 0..extent-1; clamped before rounding so that huge
// values cannot overflow.
int axisValue(double coordinate, int extent)
{
    const double maximum = std::max(0, extent - 1);
    return static_cast<int>(std::lround(std::clamp(coordinate, 0.0, maximum)));
}

bool isFinite(QPointF location)
{
    return std::isfinite(location.x()) && std::isfinite(location.y());
}

} // namespace

std::unique_ptr<UinputEventPoster> UinputEventPoster::create(const QRectF& mainScreenFrame,
                                                             QString* failure)
{
    auto fail = [failure](const QString& reason) {
        if (failure)
            *failure = reason;
        return nullptr;
    };
    if (::access(devicePath, W_OK) != 0)
        return fail(QStringLiteral("%1 is not writable").arg(QLatin1String(devicePath)));
    const QSize size = mainScreenFrame.size().toSize();
    if (size.width() < 1 || size.height() < 1)
        return fail(QStringLiteral("the main screen's size is unknown"));

    LibevdevPtr description = describePointer(size);
    libevdev_uinput* created = nullptr;
    const int result = libevdev_uinput_create_from_device(description.get(),
                                                          LIBEVDEV_UINPUT_OPEN_MANAGED, &created);
    if (result < 0) {
        return fail(QStringLiteral("the uinput device could not be created: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(-result))));
    }
    auto device = std::make_unique<LibevdevUinputDevice>(UinputPtr(created));
    return std::make_unique<UinputEventPoster>(std::move(device), size);
}

UinputEventPoster::UinputEventPoster(std::unique_ptr<Device> device, QSize screenSize)
    : m_device(std::move(device)), m_screenSize(screenSize)
{}

// A device that goes away with a button down leaves the button stuck in some compositors.
UinputEventPoster::~UinputEventPoster()
{
    releaseHeldButtons();
}

QString UinputEventPoster::backendName() const
{
    return QStringLiteral("uinput");
}

void UinputEventPoster::postMouseEvent(MouseEventType type, QPointF location, MouseButton)
{
    switch (type) {
    case MouseEventType::MouseMoved:
    case MouseEventType::LeftMouseDragged:
        return postMotion(location);
    case MouseEventType::LeftMouseDown:
        return postPress(BTN_LEFT, location);
    case MouseEventType::RightMouseDown:
        return postPress(BTN_RIGHT, location);
    case MouseEventType::LeftMouseUp:
        return postRelease(BTN_LEFT, location);
    case MouseEventType::RightMouseUp:
        return postRelease(BTN_RIGHT, location);
    }
}

void UinputEventPoster::postMotion(QPointF location)
{
    if (!isFinite(location))
        return;
    writePosition(location);
    sync();
}

void UinputEventPoster::postPress(unsigned code, QPointF location)
{
    if (!isFinite(location))
        return;
    writePosition(location);
    setButton(code, true);
    sync();
}

// A release is never dropped, so that every press has one: without a usable location the
// button goes up where the pointer is.
void UinputEventPoster::postRelease(unsigned code, QPointF location)
{
    const bool finite = isFinite(location);
    if (!finite && !heldFlag(code))
        return;
    if (finite)
        writePosition(location);
    setButton(code, false);
    sync();
}

void UinputEventPoster::postScrollWheelEvent(qint32 pixels)
{
    if (pixels == 0)
        return;
    // 8 units a pixel; saturated, as REL values are 32-bit.
    const qint64 hiRes =
        std::clamp<qint64>(qint64(pixels) * hiResUnitsPerPixel, std::numeric_limits<qint32>::min(),
                           std::numeric_limits<qint32>::max());
    m_wheelRemainder += hiRes;
    const qint64 notches = m_wheelRemainder / hiResUnitsPerNotch; // toward zero
    m_wheelRemainder -= notches * hiResUnitsPerNotch;

    m_device->writeEvent(EV_REL, REL_WHEEL_HI_RES, static_cast<int>(hiRes));
    if (notches != 0)
        m_device->writeEvent(EV_REL, REL_WHEEL, static_cast<int>(notches));
    sync();
}

void UinputEventPoster::releaseHeldButtons()
{
    for (unsigned code : {BTN_LEFT, BTN_RIGHT}) {
        if (heldFlag(code)) {
            setButton(code, false);
            sync();
        }
    }
}

void UinputEventPoster::writePosition(QPointF location)
{
    m_device->writeEvent(EV_ABS, ABS_X, axisValue(location.x(), m_screenSize.width()));
    m_device->writeEvent(EV_ABS, ABS_Y, axisValue(location.y(), m_screenSize.height()));
}

// Writes only real changes of a button, so that the device's state stays what we think it is:
// the kernel would drop a repeated press or a release of a button that is up anyway.
void UinputEventPoster::setButton(unsigned code, bool down)
{
    bool& held = heldFlag(code);
    if (held == down)
        return;
    m_device->writeEvent(EV_KEY, code, down ? 1 : 0);
    held = down;
}

void UinputEventPoster::sync()
{
    m_device->writeEvent(EV_SYN, SYN_REPORT, 0);
}

bool& UinputEventPoster::heldFlag(unsigned code)
{
    return code == BTN_RIGHT ? m_rightHeld : m_leftHeld;
}

} // namespace platform
