// Tactalon: the background agent. No window, no options; the per-user service launcher
// starts it and keeps it alive.
#include "AgentBus.h"
#include "GestureObservingPoster.h"
#include "Tactalon_Controller.h"
#include "platform/EventPoster.h"
#include "platform/Log.h"
#include "platform/MainScreen.h"
#include "platform/UnixSignalWatcher.h"

#include <QCoreApplication>
#include <csignal>

int main(int argc, char* argv[])
{
    // A write to a closed standard error, or to an X server that dropped the connection, then
    // fails with EPIPE instead of ending the agent on the spot with a button held. (systemd
    // starts its services with SIGPIPE ignored for the same reason.)
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication application(argc, argv);
    platform::installLogMessageHandler();

    // Made first, so that a request to end during start-up waits for the event loop instead of
    // ending the agent halfway; gone last, so that none ends it while it lets go of buttons.
    platform::UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &platform::UnixSignalWatcher::terminationRequested,
                     &application, &QCoreApplication::quit);

    // Before any port or device is opened: a second agent of the same user ends here.
    AgentBus bus;
    if (bus.claim() == AgentBus::Claim::AlreadyRunning)
        return 1;

    // Measured once: later changes of the display are not seen while the agent runs.
    const QRectF mainScreen = platform::mainScreenFrame();
    const std::unique_ptr<platform::EventPoster> eventPoster =
        platform::makeEventPoster(mainScreen);
    GestureObservingPoster observedPoster(*eventPoster);
    bus.setEventBackend(eventPoster->backendName(), QString(),
                        AgentBus::waylandSessionFromEnvironment());
    bus.setMonitor(QString(), mainScreen.toRect());

    {
        Tactalon_Controller controller({observedPoster, [mainScreen] { return mainScreen; }});
        bus.follow(controller, observedPoster);
        controller.setup();
        application.exec();
        // Every press we posted has a release, also when we are told to end mid-drag. It goes
        // out at once, with anything a frame cut short left waiting.
        eventPoster->releaseHeldButtons();
    }
    return 0;
}
