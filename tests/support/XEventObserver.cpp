#include "XEventObserver.h"

#include <QDeadlineTimer>
#include <QStringList>
#include <X11/Xlib.h>
#include <algorithm>
#include <poll.h>

QString XPointerEvent::toString() const
{
    const QString position = QStringLiteral("(%1,%2)").arg(rootX).arg(rootY);
    switch (type) {
    case Motion:
        return QStringLiteral("Motion") + position;
    case Press:
        return QStringLiteral("Press%1").arg(button) + position;
    case Release:
        return QStringLiteral("Release%1").arg(button) + position;
    }
    return {};
}

void XEventObserver::DisplayCloser::operator()(_XDisplay* display) const
{
    XCloseDisplay(display);
}

XEventObserver::XEventObserver() = default;

XEventObserver::~XEventObserver()
{
    if (m_display && m_window != 0)
        XDestroyWindow(m_display.get(), m_window);
}

bool XEventObserver::start()
{
    m_display.reset(XOpenDisplay(nullptr));
    if (!m_display) {
        m_error = QStringLiteral("cannot open the X display \"%1\"")
                      .arg(QString::fromLocal8Bit(qgetenv("DISPLAY")));
        return false;
    }
    Display* display = m_display.get();
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.event_mask =
        ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;
    m_window =
        XCreateWindow(display, RootWindow(display, screen), 0, 0, DisplayWidth(display, screen),
                      DisplayHeight(display, screen), 0, CopyFromParent, InputOnly, CopyFromParent,
                      CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(display, m_window);
    XSync(display, False);
    if (!waitForMap(5000)) {
        m_error = QStringLiteral("the observer window was not mapped");
        return false;
    }
    return true;
}

bool XEventObserver::waitFor(const std::function<bool(const XPointerEvent&)>& predicate,
                             int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    std::size_t checked = 0;
    while (true) {
        for (; checked < m_events.size(); ++checked) {
            if (predicate(m_events[checked]))
                return true;
        }
        if (deadline.hasExpired())
            return false;
        if (!readPending())
            waitForInput(int(deadline.remainingTime()));
    }
}

void XEventObserver::collect()
{
    if (!m_display)
        return;
    XSync(m_display.get(), False);
    readPending();
}

QString XEventObserver::toString() const
{
    QStringList parts;
    for (const XPointerEvent& event : m_events)
        parts << event.toString();
    return parts.join(QStringLiteral(", "));
}

unsigned XEventObserver::buttonMask() const
{
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned mask = 0;
    XQueryPointer(m_display.get(), DefaultRootWindow(m_display.get()), &root, &child, &rootX,
                  &rootY, &x, &y, &mask);
    return mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask);
}

// Moves every queued pointer event into m_events; true when anything was read.
bool XEventObserver::readPending()
{
    if (!m_display)
        return false;
    bool any = false;
    while (XPending(m_display.get()) > 0) {
        XEvent event;
        XNextEvent(m_display.get(), &event);
        any = true;
        switch (event.type) {
        case MotionNotify:
            m_events.push_back(
                {XPointerEvent::Motion, 0, event.xmotion.x_root, event.xmotion.y_root});
            break;
        case ButtonPress:
        case ButtonRelease:
            m_events.push_back(
                {event.type == ButtonPress ? XPointerEvent::Press : XPointerEvent::Release,
                 event.xbutton.button, event.xbutton.x_root, event.xbutton.y_root});
            break;
        default:
            break;
        }
    }
    return any;
}

bool XEventObserver::waitForInput(int timeoutMs)
{
    pollfd descriptor = {ConnectionNumber(m_display.get()), POLLIN, 0};
    return ::poll(&descriptor, 1, std::max(timeoutMs, 0)) > 0;
}

bool XEventObserver::waitForMap(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        XEvent event;
        if (XCheckTypedWindowEvent(m_display.get(), m_window, MapNotify, &event))
            return true;
        waitForInput(int(deadline.remainingTime()));
    }
    return false;
}
