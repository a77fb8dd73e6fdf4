#pragma once

#include "platform/MonitorSource.h"
#include "platform/XDisplay.h"

#include <QTimer>
#include <memory>

class QSocketNotifier;

namespace platform {

// The monitors of the X display of $DISPLAY, as RandR 1.5 lists them (XRRGetMonitors): one per
// lit output or group of outputs, and the virtual ones made with `xrandr --setmonitor`, each
// named by its atom. A server without RandR 1.5 gives its default screen as one primary monitor.
//
// It follows the server's RandR notices (screen, output and CRTC changes) on a connection of its
// own, read on the event loop when the connection's socket turns readable: no polling. A burst
// of notices (one mode switch brings several) settles for 100 ms before the monitors are read
// again, and monitorsChanged() is emitted once, and only when they did change. If the server
// goes away, the last monitors are kept, with one log line, and the agent goes on.
class X11MonitorSource final : public MonitorSource
{
    Q_OBJECT
public:
    // nullptr when no X display is reachable (see openXDisplay).
    static std::unique_ptr<X11MonitorSource> create(QObject* parent = nullptr);
    ~X11MonitorSource() override;

    QList<Monitor> monitors() const override { return m_monitors; }

private:
    X11MonitorSource(XDisplayPointer display, QObject* parent);

    void listenForChanges();
    void readNotices();
    void measure();
    QList<Monitor> readMonitors() const;
    void connectionLost();

    XDisplayPointer m_display;
    int m_randrEventBase = -1;     // -1: the server has no RandR
    bool m_hasMonitorList = false; // RandR 1.5 or later
    bool m_lost = false;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_settle;
    QList<Monitor> m_monitors;
};

} // namespace platform
