#pragma once

#include "platform/EventPoster.h"
#include "platform/HeldButtonRecord.h"
#include "platform/XDisplay.h"

#include <QList>
#include <QString>
#include <memory>

namespace platform {

// Posts through the XTest extension of an X display: no privileges needed, X11 sessions only.
// Locations are turned into root-window pixels by adding the main screen's origin. Down and up
// events take their button from the event type (left 1, right 3), as the original platform
// does; the wheel is buttons 4 (up) and 5 (down). The display is flushed after every event.
// An X server keeps an XTest button down after its client has gone, so the buttons held are
// also kept in a HeldButtonRecord when the poster has one, for the next agent to let go.
class XTestEventPoster final : public EventPoster
{
public:
    static constexpr int pixelsPerClick = 15; // pixels of scrolling per wheel click
    // More clicks than this in one scroll are dropped: a runaway amount must not flood the server.
    static constexpr int maximumClicksPerScroll = 1000;

    // Connects to the display of $DISPLAY (see openXDisplay). nullptr, with the reason in
    // `failure`, when no display is reachable or it lacks XTest. The buttons held are kept in
    // `record` when there is one.
    static std::unique_ptr<XTestEventPoster>
    create(const QRectF& mainScreenFrame, QString* failure,
           std::unique_ptr<HeldButtonRecord> record = nullptr);
    ~XTestEventPoster() override;

    // Lets go of `buttons` (X button numbers) on the display `displayName` through a connection
    // of its own, whoever pressed them: for the buttons an agent that has ended left held. False
    // when that display cannot be reached or lacks XTest.
    static bool releaseButtons(const QString& displayName, const QList<unsigned>& buttons);

    // The display's name, e.g. ":0".
    QString displayName() const;

    QString backendName() const override;
    void postMouseEvent(MouseEventType type, QPointF location, MouseButton button) override;
    void postScrollWheelEvent(qint32 pixels) override;
    void releaseHeldButtons() override;

private:
    XTestEventPoster(XDisplayPointer display, QPointF origin,
                     std::unique_ptr<HeldButtonRecord> record);

    void postMotion(QPointF location);
    void postPress(unsigned button, QPointF location);
    void postRelease(unsigned button, QPointF location);
    bool moveTo(QPointF location);
    void setButton(unsigned button, bool down);
    void click(unsigned button, qint64 times);
    bool& heldFlag(unsigned button);
    void recordHeldButtons();

    XDisplayPointer m_display;
    QPointF m_origin;
    std::unique_ptr<HeldButtonRecord> m_record; // may be null
    // Pixels scrolled but not yet a whole click; |value| < 15.
    qint64 m_scrollRemainder = 0;
    bool m_leftHeld = false;
    bool m_rightHeld = false;
};

} // namespace platform
