#include "platform/MonitorSource.h"

#include "platform/DrmMonitorSource.h"
#include "platform/WaylandMonitorSource.h"
#include "platform/X11MonitorSource.h"

namespace platform {

std::unique_ptr<MonitorSource> makeMonitorSource()
{
    if (auto x11 = X11MonitorSource::create())
        return x11;
    // A Wayland session without XWayland: the compositor's outputs, in its logical pixels.
    if (auto wayland = WaylandMonitorSource::connectToCompositor())
        return wayland;
    return std::make_unique<DrmMonitorSource>();
}

} // namespace platform
