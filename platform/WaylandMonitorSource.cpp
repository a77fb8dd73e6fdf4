#include "platform/WaylandMonitorSource.h"

#include "platform/Log.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <algorithm>
#include <cstring>
#include <optional>
#include <wayland-client.h>
#include <xdg-output-unstable-v1-client-protocol.h>

namespace platform {

namespace {

// The versions this source knows: wl_output 4 names its outputs itself, xdg-output 2 names them
// and 3 leaves the atomic "done" to wl_output.
constexpr uint32_t lowestOutputVersion = 2;
constexpr uint32_t highestOutputVersion = 4;
constexpr uint32_t highestXdgOutputVersion = 3;

} // namespace

// What the compositor has said of one output. Events change `pending`; a done event makes it
// the state in force, so that a change is only ever seen whole.
struct WaylandMonitorSource::Output
{
    struct State
    {
        QString xdgName;
        QString outputName;
        QPoint logicalPosition;
        QSize logicalSize; // empty until xdg-output has told it
        QPoint position;   // wl_output's own, for compositors without xdg-output
        QSize currentMode; // in buffer pixels
        int scale = 1;
        int32_t transform = WL_OUTPUT_TRANSFORM_NORMAL;
    };

    Output(uint32_t globalName, uint32_t version, wl_output* output)
        : globalName(globalName), version(version), output(output)
    {}

    ~Output()
    {
        if (xdgOutput)
            zxdg_output_v1_destroy(xdgOutput);
        if (version >= WL_OUTPUT_RELEASE_SINCE_VERSION)
            wl_output_release(output);
        else
            wl_output_destroy(output);
    }

    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Unknown until the first done, and, with xdg-output, until its logical size came.
    std::optional<Monitor> monitor() const
    {
        if (!described || (xdgOutput && current.logicalSize.isEmpty()))
            return std::nullopt;
        Monitor monitor;
        monitor.name = current.xdgName.isEmpty() ? current.outputName : current.xdgName;
        monitor.geometry = xdgOutput ? QRect(current.logicalPosition, current.logicalSize)
                                     : QRect(current.position, logicalSizeFromMode());
        if (monitor.geometry.isEmpty())
            return std::nullopt;
        return monitor;
    }

    // The mode's size turned as the output is, over its scale.
    QSize logicalSizeFromMode() const
    {
        const bool quarterTurn = current.transform % 2 == 1; // 90, 270 and their flips
        const QSize turned = quarterTurn ? current.currentMode.transposed() : current.currentMode;
        return turned / std::max(1, current.scale);
    }

    void commit()
    {
        current = pending;
        described = true;
    }

    const uint32_t globalName;
    const uint32_t version;
    wl_output* const output;
    zxdg_output_v1* xdgOutput = nullptr;
    State pending;
    State current;
    bool described = false;
};

// The protocol's C callbacks: `data` is the source for the registry and the Output otherwise.
struct WaylandMonitorSource::Listeners
{
    static void global(void* data, wl_registry*, uint32_t name, const char* interface,
                       uint32_t version)
    {
        static_cast<WaylandMonitorSource*>(data)->addGlobal(name, interface, version);
    }
    static void globalRemove(void* data, wl_registry*, uint32_t name)
    {
        static_cast<WaylandMonitorSource*>(data)->removeGlobal(name);
    }

    static void geometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                         const char*, const char*, int32_t transform)
    {
        auto* output = static_cast<Output*>(data);
        output->pending.position = QPoint(x, y);
        output->pending.transform = transform;
    }
    static void mode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t)
    {
        if (flags & WL_OUTPUT_MODE_CURRENT)
            static_cast<Output*>(data)->pending.currentMode = QSize(width, height);
    }
    static void scale(void* data, wl_output*, int32_t factor)
    {
        static_cast<Output*>(data)->pending.scale = factor;
    }
    static void outputName(void* data, wl_output*, const char* name)
    {
        static_cast<Output*>(data)->pending.outputName = QString::fromUtf8(name);
    }
    static void done(void* data, wl_output*) { static_cast<Output*>(data)->commit(); }
    static void description(void*, wl_output*, const char*) {}

    static void logicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y)
    {
        static_cast<Output*>(data)->pending.logicalPosition = QPoint(x, y);
    }
    static void logicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height)
    {
        static_cast<Output*>(data)->pending.logicalSize = QSize(width, height);
    }
    static void xdgDone(void* data, zxdg_output_v1*) { static_cast<Output*>(data)->commit(); }
    static void xdgName(void* data, zxdg_output_v1*, const char* name)
    {
        static_cast<Output*>(data)->pending.xdgName = QString::fromUtf8(name);
    }
    static void xdgDescription(void*, zxdg_output_v1*, const char*) {}

    static constexpr wl_registry_listener registry{global, globalRemove};
    static constexpr wl_output_listener output{geometry, mode,       done,
                                               scale,    outputName, description};
    static constexpr zxdg_output_v1_listener xdgOutput{logicalPosition, logicalSize, xdgDone,
                                                       xdgName, xdgDescription};
};

void WaylandMonitorSource::DisplayDeleter::operator()(wl_display* display) const
{
    wl_display_disconnect(display);
}

std::unique_ptr<WaylandMonitorSource> WaylandMonitorSource::connectToCompositor(QObject* parent)
{
    // Named explicitly: without a name libwayland would try "wayland-0", and would take over
    // a WAYLAND_SOCKET meant for someone else.
    const QByteArray socketName = qgetenv("WAYLAND_DISPLAY");
    if (socketName.isEmpty())
        return nullptr;
    std::unique_ptr<wl_display, DisplayDeleter> display(wl_display_connect(socketName.constData()));
    if (!display)
        return nullptr;
    std::unique_ptr<WaylandMonitorSource> source(
        new WaylandMonitorSource(std::move(display), parent));
    if (!source->learnOutputs())
        return nullptr;
    return source;
}

WaylandMonitorSource::WaylandMonitorSource(std::unique_ptr<wl_display, DisplayDeleter> display,
                                           QObject* parent)
    : MonitorSource(parent), m_display(std::move(display))
{}

WaylandMonitorSource::~WaylandMonitorSource()
{
    m_notifier.reset();
    m_outputs.clear();
    if (m_xdgOutputManager)
        zxdg_output_manager_v1_destroy(m_xdgOutputManager);
    if (m_registry)
        wl_registry_destroy(m_registry);
}

QList<Monitor> WaylandMonitorSource::monitors() const
{
    QList<Monitor> result;
    for (const auto& output : m_outputs) {
        if (std::optional<Monitor> monitor = output->monitor())
            result << *monitor;
    }
    return result;
}

// Two round trips: the first brings the globals (and binds them), the second what each output
// says of itself. From then on the socket is read as it becomes readable.
bool WaylandMonitorSource::learnOutputs()
{
    wl_display* display = m_display.get();
    m_registry = wl_display_get_registry(display);
    wl_registry_add_listener(m_registry, &Listeners::registry, this);
    if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0)
        return false;
    m_reported = monitors();
    m_notifier =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &WaylandMonitorSource::readEvents);
    return true;
}

void WaylandMonitorSource::readEvents()
{
    wl_display* display = m_display.get();
    while (wl_display_prepare_read(display) != 0)
        wl_display_dispatch_pending(display);
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
        return disconnected();
    wl_display_flush(display); // the binds the events asked for
    reportIfChanged();
}

void WaylandMonitorSource::reportIfChanged()
{
    QList<Monitor> now = monitors();
    if (now == m_reported)
        return;
    m_reported = std::move(now);
    emit monitorsChanged();
}

// A connection that failed stays failed: no outputs from now on.
void WaylandMonitorSource::disconnected()
{
    m_notifier->setEnabled(false);
    logLine(QStringLiteral("The Wayland compositor closed the connection (%1): its outputs are "
                           "no longer followed")
                .arg(QString::fromLocal8Bit(std::strerror(wl_display_get_error(m_display.get())))));
    m_outputs.clear();
    reportIfChanged();
}

void WaylandMonitorSource::addGlobal(uint32_t name, const char* interface, uint32_t version)
{
    if (std::strcmp(interface, wl_output_interface.name) == 0 && version >= lowestOutputVersion) {
        const uint32_t bound = std::min(version, highestOutputVersion);
        auto* proxy = static_cast<wl_output*>(
            wl_registry_bind(m_registry, name, &wl_output_interface, bound));
        auto& output = *m_outputs.emplace_back(std::make_unique<Output>(name, bound, proxy));
        wl_output_add_listener(proxy, &Listeners::output, &output);
        if (m_xdgOutputManager)
            followXdgOutput(output);
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 &&
               !m_xdgOutputManager) {
        m_xdgOutputManager = static_cast<zxdg_output_manager_v1*>(
            wl_registry_bind(m_registry, name, &zxdg_output_manager_v1_interface,
                             std::min(version, highestXdgOutputVersion)));
        for (const auto& output : m_outputs)
            followXdgOutput(*output);
    }
}

void WaylandMonitorSource::removeGlobal(uint32_t name)
{
    std::erase_if(m_outputs, [name](const auto& output) { return output->globalName == name; });
}

void WaylandMonitorSource::followXdgOutput(Output& output)
{
    output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(m_xdgOutputManager, output.output);
    zxdg_output_v1_add_listener(output.xdgOutput, &Listeners::xdgOutput, &output);
}

} // namespace platform
