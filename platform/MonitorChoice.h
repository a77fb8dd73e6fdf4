#pragma once

#include "platform/MonitorSource.h"

#include <QList>
#include <QRect>
#include <QString>

namespace platform {

// The monitor touches go to, and the log line the choice calls for.
struct MonitorChoice
{
    Monitor monitor; // an empty geometry when there is no monitor at all
    // Empty, or one line telling that the monitor asked for is not there and which are.
    QString notice;
};

// The monitor named `outputName` ("HDMI-1", exactly as the display server names it); without a
// name, or with a name no monitor has, the main screen: the primary monitor, else the first.
MonitorChoice chooseMonitor(const QList<Monitor>& monitors, const QString& outputName);

// The smallest rectangle holding every monitor: the desktop an absolute pointer spans.
QRect desktopBounds(const QList<Monitor>& monitors);

} // namespace platform
