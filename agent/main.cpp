// Tactalon: the background agent. No window, no options; the per-user service launcher
// starts it and keeps it alive.
#include "Tactalon_Controller.h"
#include "platform/EventPoster.h"
#include "platform/Log.h"
#include "platform/MonitorChoice.h"
#include "platform/MonitorSource.h"
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

    // Followed while the agent runs: the controller measures again when the monitors change.
    const std::unique_ptr<platform::MonitorSource> monitorSource = platform::makeMonitorSource();
    const std::unique_ptr<platform::EventPoster> eventPoster =
        platform::makeEventPoster(platform::desktopBounds(monitorSource->monitors()));

    {
        Tactalon_Controller controller(
            {*eventPoster, [&monitorSource] { return monitorSource->monitors(); }});
        QObject::connect(monitorSource.get(), &platform::MonitorSource::monitorsChanged,
                         &controller, &Tactalon_Controller::handleMonitorsChange);
        controller.setup();
        application.exec();
        // Every press we posted has a release, also when we are told to end mid-drag. It goes
        // out at once, with anything a frame cut short left waiting.
        eventPoster->releaseHeldButtons();
    }
    return 0;
}
