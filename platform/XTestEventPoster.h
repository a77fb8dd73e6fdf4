#pragma once

#include "platform/DeviceEventPoster.h"
#include "platform/HeldButtonRecord.h"
#include "platform/XDisplay.h"

#include <QList>
#include <QString>
#include <memory>

namespace platform {

// Posts through the XTest extension of an X display: no privileges needed, X11 sessions only.
// Locations are root-window pixels: the root window spans every monitor of the screen. The left
// button is X button 1, the right one 3; the wheel is buttons 4 (up) and 5 (down). Requests
// wait in Xlib's buffer until the frame's flush, so that a frame costs one write to the server.
// An X server keeps an XTest button down after its client has gone, so the buttons held are
// also kept in a HeldButtonRecord when the poster has one, for the next agent to let go.
class XTestEventPoster final : public DeviceEventPoster
{
public:
    // Connects to the display of $DISPLAY (see openXDisplay). nullptr, with the reason in
    // `failure`, when no display is reachable or it lacks XTest. The buttons held are kept in
    // `record` when there is one.
    static std::unique_ptr<XTestEventPoster>
    create(QString* failure, std::unique_ptr<HeldButtonRecord> record = nullptr);
    ~XTestEventPoster() override;

    // Lets go of `buttons` (X button numbers) on the display `displayName` through a connection
    // of its own, whoever pressed them: for the buttons an agent that has ended left held. False
    // when that display cannot be reached or lacks XTest.
    static bool releaseButtons(const QString& displayName, const QList<unsigned>& buttons);

    // The display's name, e.g. ":0".
    QString displayName() const;

    QString backendName() const override;

private:
    XTestEventPoster(XDisplayPointer display, std::unique_ptr<HeldButtonRecord> record);

    void moveTo(QPointF location) override;
    void setButton(Button button, bool down) override;
    void turnWheel(int pixels, int notches) override;
    void sendQueued() override;

    void recordHeldButtons();

    XDisplayPointer m_display;
    std::unique_ptr<HeldButtonRecord> m_record; // may be null
};

} // namespace platform
