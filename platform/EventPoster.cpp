#include "platform/EventPoster.h"

#include "platform/Log.h"
#include "platform/NullEventPoster.h"
#include "platform/UinputEventPoster.h"
#include "platform/XTestEventPoster.h"

namespace platform {

std::unique_ptr<EventPoster> makeEventPoster(const QRectF& mainScreenFrame)
{
    QString uinputFailure;
    if (auto uinput = UinputEventPoster::create(mainScreenFrame, &uinputFailure)) {
        logLine(QStringLiteral("Mouse events go through uinput (%1): works on X11 and Wayland")
                    .arg(QLatin1String(UinputEventPoster::devicePath)));
        return uinput;
    }
    QString xtestFailure;
    if (auto xtest = XTestEventPoster::create(mainScreenFrame, &xtestFailure)) {
        logLine(QStringLiteral("Mouse events go through XTest on X display %1 (%2: see README)")
                    .arg(xtest->displayName(), uinputFailure));
        return xtest;
    }
    logLine(QStringLiteral("No way to post mouse events: %1 and %2. Touches will be ignored.")
                .arg(uinputFailure, xtestFailure));
    return std::make_unique<NullEventPoster>();
}

} // namespace platform
