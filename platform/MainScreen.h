#pragma once

#include <QRectF>

namespace platform {

// The main screen's frame in global display coordinates (origin top-left, y downward):
// the X server's primary monitor (Xrandr), else its default screen, when a display is
// reachable; else the current mode of the first connected DRM connector (origin 0, 0);
// else an empty rectangle.
QRectF mainScreenFrame();

} // namespace platform
