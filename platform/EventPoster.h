#pragma once

#include <QPointF>
#include <QRect>
#include <QString>
#include <memory>

namespace platform {

// The event types and buttons as the gesture engine numbers them.
enum class MouseEventType : int {
    LeftMouseDown = 1,
    LeftMouseUp = 2,
    RightMouseDown = 3,
    RightMouseUp = 4,
    MouseMoved = 5,
    LeftMouseDragged = 6,
};

enum class MouseButton : int { Left = 0, Right = 1 };

// Posts synthetic mouse input into the desktop's input stream, in the order posted. What is
// posted may wait in the poster until the next flush(), so that a whole TUIO frame reaches the
// desktop in one write; releaseHeldButtons() and destruction send at once. Locations are global
// display coordinates: origin at the top-left corner of the whole desktop (the X screen, the
// compositor's layout), y downward, in screen units; a monitor's points are offset by its origin.
class EventPoster
{
public:
    virtual ~EventPoster() = default;

    // "uinput", "XTest", "recording", "none".
    virtual QString backendName() const = 0;
    virtual void postMouseEvent(MouseEventType type, QPointF location, MouseButton button) = 0;
    // A vertical scroll of `pixels`; positive scrolls up (the content moves down).
    virtual void postScrollWheelEvent(qint32 pixels) = 0;
    // Every press we post has a release: lets go of whatever this poster holds down, and sends
    // it, with anything still waiting, at once.
    virtual void releaseHeldButtons() = 0;
    // Sends what was posted since the last flush: the gesture engine calls it once a frame.
    virtual void flush() = 0;
    // The desktop's bounds changed (monitors added, removed, resized or moved), in global
    // display coordinates: a poster whose device spans the desktop remakes it. Nothing for a
    // poster that takes global coordinates as they are.
    virtual void setDesktop(const QRect& desktopBounds) { Q_UNUSED(desktopBounds); }
};

// Which backend the agent's poster uses and, when it is not uinput, why not, in words the user
// reads (in the log, and in the agent's status).
// The desktop is a Wayland session (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE "wayland"), where
// XTest reaches X11 (XWayland) windows only.
bool isWaylandSession();

struct EventBackendChoice
{
    QString backend; // "uinput", "XTest" or "none"
    QString reason;  // why uinput could not be used; empty for uinput
    // "uinput", "XTest: /dev/uinput is not writable (Permission denied)".
    QString text() const;
};

// The agent's poster, by automatic choice: uinput when /dev/uinput is writable, else XTest when
// an X display is reachable, else a poster that drops everything; a uinput device spans
// `desktopBounds`. Writes one log line naming the choice; in a Wayland session (WAYLAND_DISPLAY
// set, or XDG_SESSION_TYPE "wayland") the XTest line warns that clicks reach X11 (XWayland)
// windows only, and how to grant /dev/uinput. Before choosing, lets go of the buttons that agents
// which ended without doing so left held (see HeldButtonRecord), with one log line each; an XTest
// poster records its own. The choice also goes to `choice` when given.
std::unique_ptr<EventPoster> makeEventPoster(const QRect& desktopBounds,
                                             EventBackendChoice* choice = nullptr);

} // namespace platform
