#include "platform/EventPoster.h"

#include "platform/HeldButtonRecord.h"
#include "platform/Log.h"
#include "platform/NullEventPoster.h"
#include "platform/UinputEventPoster.h"
#include "platform/XTestEventPoster.h"

#include <QStringList>

namespace platform {

namespace {

// "the left button", "the left and right buttons".
QString buttonNames(const QList<unsigned>& buttons)
{
    QStringList names;
    for (unsigned button : buttons) {
        names << (button == 1   ? QStringLiteral("left")
                  : button == 2 ? QStringLiteral("middle")
                                : QStringLiteral("right"));
    }
    return QStringLiteral("the %1 button%2")
        .arg(names.join(QStringLiteral(" and ")), names.size() > 1 ? QStringLiteral("s") : "");
}

// Agents that ended without letting go (killed, crashed) left their buttons down in the X
// server: let them go on the display they were held on, whichever backend this agent uses,
// with one log line each, and only then remove their records.
void letGoOfLeftOverButtons(const HeldButtonRecord& record)
{
    for (const HeldButtonRecord::LeftOver& leftOver : record.leftOvers()) {
        if (leftOver.display.isEmpty()) {
            logLine(QStringLiteral("Removed %1: not a record of held buttons that can be read")
                        .arg(leftOver.filePath));
        } else if (XTestEventPoster::releaseButtons(leftOver.display, leftOver.buttons)) {
            logLine(QStringLiteral("Let go of %1 that an agent which ended (pid %2) left held on "
                                   "X display %3")
                        .arg(buttonNames(leftOver.buttons))
                        .arg(leftOver.pid)
                        .arg(leftOver.display));
        } else {
            logLine(QStringLiteral("An agent which ended (pid %1) left %2 held on X display %3, "
                                   "which cannot be reached any more: its record is removed")
                        .arg(leftOver.pid)
                        .arg(buttonNames(leftOver.buttons), leftOver.display));
        }
        HeldButtonRecord::remove(leftOver);
    }
}

// A Wayland compositor takes XTest's input only for its X11 windows (through XWayland): the
// line says so where that matters, with the way to the backend that reaches every window.
QString xtestLine(const QString& displayName, const QString& uinputFailure)
{
    if (!isWaylandSession()) {
        return QStringLiteral(
                   "Mouse events go through XTest on X display %1 because %2: see README")
            .arg(displayName, uinputFailure);
    }
    return QStringLiteral("Clicks will reach X11 (XWayland) windows only: this is a Wayland "
                          "session and %1, so mouse events go through XTest on X display %2. To "
                          "reach every window, give the agent access to /dev/uinput with the udev "
                          "rule data/70-tactalon-uinput.rules (see README)")
        .arg(uinputFailure, displayName);
}

} // namespace

bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == QStringLiteral("wayland");
}

QString EventBackendChoice::text() const
{
    return reason.isEmpty() ? backend : backend + QStringLiteral(": ") + reason;
}

std::unique_ptr<EventPoster> makeEventPoster(const QRect& desktopBounds, EventBackendChoice* choice)
{
    std::unique_ptr<HeldButtonRecord> record = HeldButtonRecord::inRuntimeFolder();
    if (record)
        letGoOfLeftOverButtons(*record);

    auto chose = [choice](std::unique_ptr<EventPoster> poster, const QString& reason) {
        if (choice)
            *choice = {poster->backendName(), reason};
        return poster;
    };
    QString uinputFailure;
    if (auto uinput = UinputEventPoster::create(desktopBounds, &uinputFailure)) {
        logLine(QStringLiteral("Mouse events go through uinput (%1): works on X11 and Wayland")
                    .arg(QLatin1String(UinputEventPoster::devicePath)));
        return chose(std::move(uinput), {});
    }
    QString xtestFailure;
    if (auto xtest = XTestEventPoster::create(&xtestFailure, std::move(record))) {
        logLine(xtestLine(xtest->displayName(), uinputFailure));
        return chose(std::move(xtest), uinputFailure);
    }
    const QString reason = QStringLiteral("%1 and %2").arg(uinputFailure, xtestFailure);
    logLine(
        QStringLiteral("No way to post mouse events: %1. Touches will be ignored.").arg(reason));
    return chose(std::make_unique<NullEventPoster>(), reason);
}

} // namespace platform
