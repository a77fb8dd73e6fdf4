#include "platform/X11MonitorSource.h"

#include "platform/Log.h"

#include <QSocketNotifier>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <chrono>

namespace platform {

namespace {

using namespace std::chrono_literals;

constexpr auto settleTime = 100ms; // after the last notice of a burst

// Xlib's default error handler ends the process; an output unplugged between two of our
// requests must not. Errors are ignored while this lives; the previous handler comes back after.
class IgnoreXErrors
{
public:
    explicit IgnoreXErrors(Display* display) : m_display(display)
    {
        m_previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    ~IgnoreXErrors()
    {
        XSync(m_display, False);
        XSetErrorHandler(m_previous);
    }
    IgnoreXErrors(const IgnoreXErrors&) = delete;
    IgnoreXErrors& operator=(const IgnoreXErrors&) = delete;

private:
    Display* m_display;
    XErrorHandler m_previous;
};

struct MonitorsDeleter
{
    void operator()(XRRMonitorInfo* monitors) const { XRRFreeMonitors(monitors); }
};

QString atomName(Display* display, Atom atom)
{
    char* name = XGetAtomName(display, atom);
    if (!name)
        return {};
    const QString result = QString::fromUtf8(name);
    XFree(name);
    return result;
}

} // namespace

std::unique_ptr<X11MonitorSource> X11MonitorSource::create(QObject* parent)
{
    XDisplayPointer display = openXDisplay();
    if (!display)
        return nullptr;
    return std::unique_ptr<X11MonitorSource>(new X11MonitorSource(std::move(display), parent));
}

X11MonitorSource::X11MonitorSource(XDisplayPointer display, QObject* parent)
    : MonitorSource(parent), m_display(std::move(display))
{
    // Xlib ends the process when the server goes away, unless told otherwise: the agent outlives
    // its display, keeping the monitors it last saw.
    XSetIOErrorExitHandler(
        m_display.get(),
        [](Display*, void* source) { static_cast<X11MonitorSource*>(source)->m_lost = true; },
        this);
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleTime);
    connect(&m_settle, &QTimer::timeout, this, &X11MonitorSource::measure);

    int errorBase = 0, major = 0, minor = 0;
    if (XRRQueryExtension(m_display.get(), &m_randrEventBase, &errorBase) &&
        XRRQueryVersion(m_display.get(), &major, &minor)) {
        m_hasMonitorList = major > 1 || (major == 1 && minor >= 5);
        listenForChanges();
    } else {
        m_randrEventBase = -1;
    }
    m_monitors = readMonitors();
    if (m_lost)
        connectionLost();
    else
        readNotices();
}

X11MonitorSource::~X11MonitorSource() = default;

void X11MonitorSource::listenForChanges()
{
    XRRSelectInput(m_display.get(), DefaultRootWindow(m_display.get()),
                   RRScreenChangeNotifyMask | RROutputChangeNotifyMask | RRCrtcChangeNotifyMask);
    m_notifier =
        new QSocketNotifier(ConnectionNumber(m_display.get()), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11MonitorSource::readNotices);
}

// Takes every event Xlib has read or can read without waiting, also those an earlier reply
// brought along: the socket alone does not show those.
void X11MonitorSource::readNotices()
{
    if (m_lost)
        return;
    bool changed = false;
    while (!m_lost && XPending(m_display.get()) > 0) {
        XEvent event;
        XNextEvent(m_display.get(), &event);
        XRRUpdateConfiguration(&event);
        changed = changed || event.type == m_randrEventBase + RRScreenChangeNotify ||
                  event.type == m_randrEventBase + RRNotify;
    }
    if (m_lost)
        return connectionLost();
    if (changed)
        m_settle.start();
}

void X11MonitorSource::measure()
{
    QList<Monitor> monitors = readMonitors();
    if (m_lost)
        return connectionLost();
    readNotices();
    if (m_lost || monitors == m_monitors)
        return;
    m_monitors = std::move(monitors);
    emit monitorsChanged();
}

QList<Monitor> X11MonitorSource::readMonitors() const
{
    Display* display = m_display.get();
    if (!m_hasMonitorList) {
        const int screen = DefaultScreen(display);
        return {Monitor{QStringLiteral("screen %1").arg(screen),
                        QRect(0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)),
                        true}};
    }
    const IgnoreXErrors ignoreErrors(display);
    int count = 0;
    const std::unique_ptr<XRRMonitorInfo, MonitorsDeleter> list(
        XRRGetMonitors(display, DefaultRootWindow(display), True, &count));
    QList<Monitor> monitors;
    for (int index = 0; list && index < count; ++index) {
        const XRRMonitorInfo& info = list.get()[index];
        if (info.width > 0 && info.height > 0) {
            monitors << Monitor{atomName(display, info.name),
                                QRect(info.x, info.y, info.width, info.height),
                                info.primary != False};
        }
    }
    return monitors;
}

void X11MonitorSource::connectionLost()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    m_settle.stop();
    logLine(QStringLiteral("The monitors of X display %1 are no longer followed: touches keep "
                           "going to the monitor they went to")
                .arg(QString::fromLocal8Bit(DisplayString(m_display.get()))));
}

} // namespace platform
