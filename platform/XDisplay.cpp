#include "platform/XDisplay.h"

#include "platform/Log.h"

#include <QByteArray>
#include <QString>
#include <X11/Xlib.h>
#include <chrono>
#include <mutex>
#include <thread>

namespace platform {

namespace {

using namespace std::chrono_literals;

constexpr int connectionTries = 5;
constexpr auto firstPause = 100ms; // doubled after every failed try: 1.5 s over all 5 tries

// The display given up on; a later call for it does not wait again, nor log again.
std::mutex givenUpMutex;
QByteArray givenUpDisplay;

bool isGivenUp(const QByteArray& name)
{
    const std::lock_guard lock(givenUpMutex);
    return !givenUpDisplay.isNull() && givenUpDisplay == name;
}

void giveUp(const QByteArray& name)
{
    {
        const std::lock_guard lock(givenUpMutex);
        givenUpDisplay = name;
    }
    logLine(QStringLiteral("Cannot connect to the X display %1 (%2 tries over 1.5 s); going on "
                           "without it")
                .arg(QString::fromLocal8Bit(name))
                .arg(connectionTries));
}

// Xlib's default handler of a lost connection ends the process on the spot. This one only says
// so; what follows is up to the connection's exit handler (XSetIOErrorExitHandler), which ends
// the process unless its owner set one that carries on.
int reportLostConnection(Display* display)
{
    logLine(QStringLiteral("Lost the connection to the X display %1")
                .arg(QString::fromLocal8Bit(DisplayString(display))));
    return 0;
}

} // namespace

void XDisplayCloser::operator()(_XDisplay* display) const
{
    XCloseDisplay(display);
}

XDisplayPointer openXDisplay()
{
    // Without DISPLAY there is nothing to try, and Xlib would only complain.
    const QByteArray name = qgetenv("DISPLAY");
    if (name.isEmpty() || isGivenUp(name))
        return nullptr;
    static std::once_flag handlerInstalled;
    std::call_once(handlerInstalled, [] { XSetIOErrorHandler(reportLostConnection); });
    auto pause = firstPause;
    for (int tries = 1;; ++tries) {
        if (XDisplayPointer display{XOpenDisplay(name.constData())})
            return display;
        if (tries == connectionTries)
            break;
        std::this_thread::sleep_for(pause);
        pause *= 2;
    }
    giveUp(name);
    return nullptr;
}

} // namespace platform
