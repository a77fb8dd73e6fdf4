#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

struct _XDisplay;

// One pointer event as the X server delivered it, in root-window pixels.
struct XPointerEvent
{
    // Not ButtonPress/ButtonRelease: Xlib defines those as macros.
    enum Type { Motion, Press, Release };

    Type type = Motion;
    unsigned button = 0; // 0 for Motion; 1 left, 2 middle, 3 right, 4 wheel up, 5 wheel down
    int rootX = 0;
    int rootY = 0;

    friend bool operator==(const XPointerEvent&, const XPointerEvent&) = default;
    // "Motion(10,20)", "Press1(10,20)", "Release3(10,20)".
    QString toString() const;

    // Predicates for XEventObserver::waitFor.
    static auto press(unsigned button)
    {
        return [button](const XPointerEvent& e) { return e.type == Press && e.button == button; };
    }
    static auto release(unsigned button)
    {
        return [button](const XPointerEvent& e) { return e.type == Release && e.button == button; };
    }
};

// Watches the pointer of the X display of $DISPLAY, for tests that check what really reached
// the server. start() maps an override-redirect input-only window over the whole root window
// at (0, 0), on top of everything, and returns once the server has mapped it, so that no event
// after start() is lost. Events are read from the X queue only inside waitFor/collect; there is
// no background thread.
//
// Keep one observer for a whole test case: Xvfb resets when its last client leaves, and a
// connection opened during that reset fails. Events from another client arrive in that client's
// order only; to know that everything it posted has arrived, have it post one last motion to a
// spot of your choosing and waitFor that Motion.
class XEventObserver
{
public:
    XEventObserver();
    ~XEventObserver();
    XEventObserver(const XEventObserver&) = delete;
    XEventObserver& operator=(const XEventObserver&) = delete;

    // Connects, maps and raises the window. False, with error() telling why, when there is no
    // display or the window does not get mapped within 5 seconds.
    bool start();
    QString error() const { return m_error; }

    // True as soon as one collected event (earlier ones included) satisfies `predicate`; reads
    // the X queue until then, false after `timeoutMs` milliseconds.
    bool waitFor(const std::function<bool(const XPointerEvent&)>& predicate, int timeoutMs = 5000);
    // Waits until at least `count` events have been collected.
    bool waitForCount(std::size_t count, int timeoutMs = 5000)
    {
        return waitFor(
            [&, seen = std::size_t(0)](const XPointerEvent&) mutable { return ++seen >= count; },
            timeoutMs);
    }
    // Takes in what the server has sent so far (after a round trip), without waiting for more.
    void collect();

    const std::vector<XPointerEvent>& events() const { return m_events; }
    void clear() { m_events.clear(); }
    // All events, each as XPointerEvent::toString, joined with ", ".
    QString toString() const;

    // The pointer's button mask (Button1Mask ... Button5Mask) as the server knows it now.
    unsigned buttonMask() const;
    bool isLeftButtonDown() const { return buttonMask() & (1u << 8); } // Button1Mask

private:
    struct DisplayCloser
    {
        void operator()(_XDisplay* display) const;
    };

    bool readPending();
    bool waitForInput(int timeoutMs);
    bool waitForMap(int timeoutMs);

    std::unique_ptr<_XDisplay, DisplayCloser> m_display;
    unsigned long m_window = 0;
    std::vector<XPointerEvent> m_events;
    QString m_error;
};
