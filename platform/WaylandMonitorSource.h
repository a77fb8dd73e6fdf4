#pragma once

#include "platform/MonitorSource.h"

#include <QSocketNotifier>
#include <cstdint>
#include <memory>
#include <vector>

struct wl_display;
struct wl_registry;
struct zxdg_output_manager_v1;

namespace platform {

// The outputs of a Wayland compositor, as a client of its own sees them: each wl_output (version
// 2 or later) with its name and its logical position and size from xdg-output, the units in
// which the compositor places the pointer. Without xdg-output, the wl_output's position and its
// current mode divided by its scale stand in. Wayland has no primary output: none is flagged, and
// the outputs keep the order the compositor announced them in.
//
// The connection's events are read when its socket is readable, on the event loop; a batch of
// them that adds, removes or changes an output emits monitorsChanged() once. A compositor that
// goes away leaves no outputs, with one notice.
class WaylandMonitorSource final : public MonitorSource
{
    Q_OBJECT
public:
    // Connects to the compositor of $WAYLAND_DISPLAY (a socket name below $XDG_RUNTIME_DIR, or
    // an absolute path) and learns its outputs. nullptr when the variable is empty or no
    // compositor answers there.
    static std::unique_ptr<WaylandMonitorSource> connectToCompositor(QObject* parent = nullptr);

    ~WaylandMonitorSource() override;

    QList<Monitor> monitors() const override;

private:
    struct Output;    // one wl_output and its xdg_output
    struct Listeners; // the protocol's callbacks, which reach into this class
    friend struct Listeners;

    struct DisplayDeleter
    {
        void operator()(wl_display* display) const;
    };

    WaylandMonitorSource(std::unique_ptr<wl_display, DisplayDeleter> display, QObject* parent);

    bool learnOutputs();
    void readEvents();
    void reportIfChanged();
    void disconnected();

    void addGlobal(uint32_t name, const char* interface, uint32_t version);
    void removeGlobal(uint32_t name);
    void followXdgOutput(Output& output);

    std::unique_ptr<wl_display, DisplayDeleter> m_display;
    // Destroyed before the display: protocol objects and the notifier of its socket.
    wl_registry* m_registry = nullptr;
    zxdg_output_manager_v1* m_xdgOutputManager = nullptr;
    std::vector<std::unique_ptr<Output>> m_outputs; // in the order announced
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<Monitor> m_reported; // as monitorsChanged() last announced them
};

} // namespace platform
