#pragma once

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <memory>

namespace platform {

// One monitor of the desktop as the display server reports it: its output's name ("HDMI-1",
// "eDP-1", a virtual monitor's name), its place in global display coordinates (origin at the
// top-left of the whole desktop, y downward, in the units mouse events take) and whether it is
// the primary one.
struct Monitor
{
    QString name;
    QRect geometry;
    bool primary = false;

    friend bool operator==(const Monitor&, const Monitor&) = default;
};

// Where the agent learns the desktop's monitors. monitorsChanged() is emitted, from the event
// loop, when the display server announces that monitors were added, removed, resized or
// rearranged; a source that cannot hear such notices never emits it.
class MonitorSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual QList<Monitor> monitors() const = 0;

signals:
    void monitorsChanged();
};

// The agent's source, by what answers: the X server of $DISPLAY when one is reachable (XWayland
// included), else the Wayland compositor of $WAYLAND_DISPLAY, else the kernel's DRM connectors.
std::unique_ptr<MonitorSource> makeMonitorSource();

} // namespace platform
