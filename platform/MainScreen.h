#pragma once

#include <QRectF>
#include <QString>

namespace platform {

// The main screen's frame in global display coordinates (origin top-left, y downward):
// the X server's primary monitor (Xrandr), else its default screen, when a display is
// reachable; else the current mode of the first connected DRM connector (origin 0, 0);
// else an empty rectangle.
QRectF mainScreenFrame();

// The current mode of the first connected connector below a DRM class folder (normally
// /sys/class/drm), origin (0, 0); an empty rectangle when none is connected or readable.
QRectF drmConnectorFrame(const QString& drmClassDirectory);

} // namespace platform
