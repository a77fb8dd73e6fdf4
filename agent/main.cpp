// Tactalon: the background agent. No window, no options but --help and --version; the
// per-user service launcher starts it and keeps it alive.
#include "CommandLine.h"
#include "Tactalon_Controller.h"
#include "platform/EventPoster.h"
#include "platform/Log.h"
#include "platform/MainScreen.h"
#include "platform/UnixSignalWatcher.h"

#include <QCoreApplication>
#include <csignal>

int main(int argc, char* argv[])
{
    if (const std::optional<int> status = answerCommandLine(argc, argv))
        return *status;

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

    // Measured once: later changes of the display are not seen while the agent runs.
    const QRectF mainScreen = platform::mainScreenFrame();
    const std::unique_ptr<platform::EventPoster> eventPoster =
        platform::makeEventPoster(mainScreen);

    {
        Tactalon_Controller controller({*eventPoster, [mainScreen] { return mainScreen; }});
        controller.setup();
        application.exec();
        // Every press we posted has a release, also when we are told to end mid-drag. It goes
        // out at once, with anything a frame cut short left waiting.
        eventPoster->releaseHeldButtons();
    }
    return 0;
}
