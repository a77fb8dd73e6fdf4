#include "platform/MainScreen.h"

#include "platform/DrmMonitorSource.h"
#include "platform/MonitorChoice.h"

namespace platform {

QRectF drmConnectorFrame(const QString& drmClassDirectory)
{
    return DrmMonitorSource(drmClassDirectory).monitors().value(0).geometry;
}

QRectF mainScreenFrame()
{
    return chooseMonitor(makeMonitorSource()->monitors(), {}).monitor.geometry;
}

} // namespace platform
