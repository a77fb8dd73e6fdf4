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

} // namespace

std::unique_ptr<EventPoster> makeEventPoster(const QRect& desktopBounds)
{
    std::unique_ptr<HeldButtonRecord> record = HeldButtonRecord::inRuntimeFolder();
    if (record)
        letGoOfLeftOverButtons(*record);

    QString uinputFailure;
    if (auto uinput = UinputEventPoster::create(desktopBounds, &uinputFailure)) {
        logLine(QStringLiteral("Mouse events go through uinput (%1): works on X11 and Wayland")
                    .arg(QLatin1String(UinputEventPoster::devicePath)));
        return uinput;
    }
    QString xtestFailure;
    if (auto xtest = XTestEventPoster::create(&xtestFailure, std::move(record))) {
        logLine(QStringLiteral("Mouse events go through XTest on X display %1 (%2: see README)")
                    .arg(xtest->displayName(), uinputFailure));
        return xtest;
    }
    logLine(QStringLiteral("No way to post mouse events: %1 and %2. Touches will be ignored.")
                .arg(uinputFailure, xtestFailure));
    return std::make_unique<NullEventPoster>();
}

} // namespace platform
