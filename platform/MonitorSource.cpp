#include "platform/MonitorSource.h"

#include "platform/DrmMonitorSource.h"
#include "platform/X11MonitorSource.h"

namespace platform {

std::unique_ptr<MonitorSource> makeMonitorSource()
{
    if (auto x11 = X11MonitorSource::create())
        return x11;
    // A Wayland compositor's outputs (xdg-output) belong here: a session with no X server.
    return std::make_unique<DrmMonitorSource>();
}

} // namespace platform
