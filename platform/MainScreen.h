#pragma once

#include <QRectF>
#include <QString>

namespace platform {

// The main screen's frame in global display coordinates (origin top-left, y downward), measured
// once from makeMonitorSource(): the primary monitor, else the first; an empty rectangle when no
// monitor is known.
QRectF mainScreenFrame();

// The current mode of the first connected connector below a DRM class folder (normally
// /sys/class/drm), origin (0, 0); an empty rectangle when none is connected or readable.
QRectF drmConnectorFrame(const QString& drmClassDirectory);

} // namespace platform
