#pragma once

#include "platform/EventPoster.h"

#include <QString>
#include <memory>

struct _XDisplay;

namespace platform {

// Posts through the XTest extension of an X display: no privileges needed, X11 sessions only.
// Locations are turned into root-window pixels by adding the main screen's origin. Down and up
// events take their button from the event type (left 1, right 3), as the original platform
// does; the wheel is buttons 4 (up) and 5 (down). The display is flushed after every event.
class XTestEventPoster final : public EventPoster
{
public:
    static constexpr int pixelsPerClick = 15; // pixels of scrolling per wheel click
    // More clicks than this in one scroll are dropped: a runaway amount must not flood the server.
    static constexpr int maximumClicksPerScroll = 1000;

    // Connects to the display of $DISPLAY. nullptr, with the reason in `failure`, when no display
    // is reachable or it lacks XTest.
    static std::unique_ptr<XTestEventPoster> create(const QRectF& mainScreenFrame,
                                                    QString* failure);
    ~XTestEventPoster() override;

    // The display's name, e.g. ":0".
    QString displayName() const;

    QString backendName() const override;
    void postMouseEvent(MouseEventType type, QPointF location, MouseButton button) override;
    void postScrollWheelEvent(qint32 pixels) override;
    void releaseHeldButtons() override;

private:
    struct DisplayCloser
    {
        void operator()(_XDisplay* display) const;
    };

    XTestEventPoster(std::unique_ptr<_XDisplay, DisplayCloser> display, QPointF origin);

    void postMotion(QPointF location);
    void postPress(unsigned button, QPointF location);
    void postRelease(unsigned button, QPointF location);
    bool moveTo(QPointF location);
    void setButton(unsigned button, bool down);
    void click(unsigned button, qint64 times);
    bool& heldFlag(unsigned button);

    std::unique_ptr<_XDisplay, DisplayCloser> m_display;
    QPointF m_origin;
    // Pixels scrolled but not yet a whole click; |value| < 15.
    qint64 m_scrollRemainder = 0;
    bool m_leftHeld = false;
    bool m_rightHeld = false;
};

} // namespace platform
