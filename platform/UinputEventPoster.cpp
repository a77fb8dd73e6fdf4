#include "platform/UinputEventPoster.h"

#include "platform/Log.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

namespace platform {

namespace {

struct UinputDeleter
{
    void operator()(libevdev_uinput* device) const { libevdev_uinput_destroy(device); }
};

using UinputPtr = std::unique_ptr<libevdev_uinput, UinputDeleter>;

// The kernel device behind the poster; destroying it removes the device.
class UinputFile final : public UinputEventPoster::Device
{
public:
    explicit UinputFile(UinputPtr device) : m_device(std::move(device)) {}

    // The kernel takes any number of whole events in one write; a short one is carried on.
    void write(std::span<const input_event> events) override
    {
        const int fd = libevdev_uinput_get_fd(m_device.get());
        const auto* data = reinterpret_cast<const char*>(events.data());
        std::size_t left = events.size_bytes();
        while (left > 0) {
            const ssize_t written = ::write(fd, data, left);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return warnOnce(written < 0 ? errno : EIO);
            data += written;
            left -= std::size_t(written);
        }
    }

private:
    // Once only: a device that stopped accepting events would otherwise flood the log.
    void warnOnce(int error)
    {
        if (!m_warned)
            qWarning("Writing to the uinput device failed: %s", std::strerror(error));
        m_warned = true;
    }

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

// Screen units from the desktop's edge to a device coordinate in 0..extent-1; clamped before
// rounding so that huge values cannot overflow.
int axisValue(double coordinate, int extent)
{
    const double maximum = std::max(0, extent - 1);
    return static_cast<int>(std::lround(std::clamp(coordinate, 0.0, maximum)));
}

std::unique_ptr<UinputEventPoster::Device> makeUinputFile(QSize size, QString* failure)
{
    const UinputEventPoster::Description description = UinputEventPoster::describeDevice(size);
    libevdev_uinput* created = nullptr;
    const int result = libevdev_uinput_create_from_device(description.get(),
                                                          LIBEVDEV_UINPUT_OPEN_MANAGED, &created);
    if (result < 0) {
        *failure = QStringLiteral("the uinput device could not be created: %1")
                       .arg(QString::fromLocal8Bit(std::strerror(-result)));
        return nullptr;
    }
    return std::make_unique<UinputFile>(UinputPtr(created));
}

} // namespace

void UinputEventPoster::DescriptionDeleter::operator()(libevdev* description) const
{
    libevdev_free(description);
}

// An absolute pointer: ABS_X/ABS_Y in screen units (no resolution: they are no millimetres) and
// mouse buttons, and deliberately no BTN_TOUCH, no BTN_TOOL_PEN and no INPUT_PROP_DIRECT, which
// would make it a touchscreen or a tablet tool.
UinputEventPoster::Description UinputEventPoster::describeDevice(QSize desktopSize)
{
    Description device(libevdev_new());
    libevdev_set_name(device.get(), "Tactalon virtual pointer");
    libevdev_set_id_bustype(device.get(), BUS_VIRTUAL);
    libevdev_enable_event_type(device.get(), EV_ABS);
    enableAbsoluteAxis(device.get(), ABS_X, desktopSize.width() - 1);
    enableAbsoluteAxis(device.get(), ABS_Y, desktopSize.height() - 1);
    libevdev_enable_event_type(device.get(), EV_KEY);
    for (unsigned code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
        libevdev_enable_event_code(device.get(), EV_KEY, code, nullptr);
    libevdev_enable_event_type(device.get(), EV_REL);
    for (unsigned code : {REL_WHEEL, REL_WHEEL_HI_RES})
        libevdev_enable_event_code(device.get(), EV_REL, code, nullptr);
    return device;
}

std::unique_ptr<UinputEventPoster> UinputEventPoster::create(const QRect& desktopBounds,
                                                             QString* failure)
{
    QString reason;
    std::unique_ptr<Device> device;
    if (::access(devicePath, W_OK) != 0)
        reason = QStringLiteral("%1 is not writable (%2)")
                     .arg(QLatin1String(devicePath), QString::fromLocal8Bit(std::strerror(errno)));
    else if (desktopBounds.isEmpty())
        reason = QStringLiteral("the desktop's size is unknown");
    else
        device = makeUinputFile(desktopBounds.size(), &reason);
    if (!device) {
        if (failure)
            *failure = reason;
        return nullptr;
    }
    return std::make_unique<UinputEventPoster>(std::move(device), desktopBounds, makeUinputFile);
}

UinputEventPoster::UinputEventPoster(std::unique_ptr<Device> device, const QRect& desktopBounds,
                                     DeviceMaker makeDevice)
    : m_device(std::move(device)), m_desktop(desktopBounds), m_makeDevice(std::move(makeDevice))
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

// A device's axes are fixed when it is made: a new size needs a new device. The old one lets
// go of its buttons first, as a compositor may keep a button of a vanished device down.
void UinputEventPoster::setDesktop(const QRect& desktopBounds)
{
    if (desktopBounds.isEmpty() || desktopBounds == m_desktop)
        return;
    const bool resized = desktopBounds.size() != m_desktop.size();
    if (!resized && m_device) {
        m_desktop = desktopBounds; // positions already queued keep their old values
        return;
    }
    releaseHeldButtons();
    m_desktop = desktopBounds;
    m_device.reset();
    QString failure;
    m_device = m_makeDevice(m_desktop.size(), &failure);
    if (!m_device) {
        logLine(QStringLiteral("No uinput device for the desktop's new size %1 x %2: %3. Touches "
                               "will be ignored.")
                    .arg(m_desktop.width())
                    .arg(m_desktop.height())
                    .arg(failure));
    }
}

void UinputEventPoster::moveTo(QPointF location)
{
    const QPointF fromEdge = location - m_desktop.topLeft();
    queue(EV_ABS, ABS_X, axisValue(fromEdge.x(), m_desktop.width()));
    queue(EV_ABS, ABS_Y, axisValue(fromEdge.y(), m_desktop.height()));
}

void UinputEventPoster::setButton(Button button, bool down)
{
    queue(EV_KEY, button == Button::Right ? BTN_RIGHT : BTN_LEFT, down ? 1 : 0);
}

// Within the base's limit of 1000 notches, 8 units a pixel stay far inside REL's 32 bits.
void UinputEventPoster::turnWheel(int pixels, int notches)
{
    queue(EV_REL, REL_WHEEL_HI_RES, pixels * hiResUnitsPerPixel);
    if (notches != 0)
        queue(EV_REL, REL_WHEEL, notches);
}

void UinputEventPoster::sendQueued()
{
    if (m_reportStart < m_queue.size())
        endReport();
    if (m_queue.empty())
        return;
    if (m_device)
        m_device->write(m_queue);
    m_queue.clear();
    m_reportStart = 0;
}

// A report is one moment to its readers: it holds each code once and ends after a button.
void UinputEventPoster::queue(unsigned type, unsigned code, int value)
{
    const auto report = std::span(m_queue).subspan(m_reportStart);
    if (std::ranges::any_of(report, [type, code](const input_event& queued) {
            return queued.type == EV_KEY || (queued.type == type && queued.code == code);
        }))
        endReport();
    input_event event{};
    event.type = static_cast<__u16>(type);
    event.code = static_cast<__u16>(code);
    event.value = value;
    m_queue.push_back(event); // the kernel stamps the time
}

void UinputEventPoster::endReport()
{
    input_event sync{};
    sync.type = EV_SYN;
    sync.code = SYN_REPORT;
    m_queue.push_back(sync);
    m_reportStart = m_queue.size();
}

} // namespace platform
