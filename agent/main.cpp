// Tactalon: the background agent. No window, no options but --help and --version; the
// per-user service launcher starts it and keeps it alive.
#include "AgentBus.h"
#include "CommandLine.h"
#include "GestureObservingPoster.h"
#include "Tactalon_Controller.h"
#include "platform/EventPoster.h"
#include "platform/Log.h"
#include "platform/MonitorChoice.h"
#include "platform/MonitorSource.h"
#include "platform/UnixSignalWatcher.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <sysexits.h>

namespace {

// Without a way to post input the agent is of no use, as at an early login before the desktop
// is up. It ends after this wait with EX_UNAVAILABLE, so that the service manager's restart
// brings it back once there is a display; the wait keeps that from becoming a tight loop.
constexpr std::chrono::seconds kNoBackendExitDelay{5};

void endLaterWithoutBackend(QCoreApplication& application)
{
    platform::logWarning(QStringLiteral("Nothing to do without a way to post mouse events: "
                                        "ending in %1 s, to be started again once the desktop "
                                        "is there")
                             .arg(kNoBackendExitDelay.count()));
    QTimer::singleShot(kNoBackendExitDelay, &application,
                       [&application] { application.exit(EX_UNAVAILABLE); });
}

} // namespace

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

    // Before any port or device is opened: a second agent of the same user ends here.
    AgentBus bus;
    if (bus.claim() == AgentBus::Claim::AlreadyRunning)
        return 1;

    // Followed while the agent runs: the controller measures again when the monitors change.
    const std::unique_ptr<platform::MonitorSource> monitorSource = platform::makeMonitorSource();
    platform::EventBackendChoice backendChoice;
    const std::unique_ptr<platform::EventPoster> eventPoster = platform::makeEventPoster(
        platform::desktopBounds(monitorSource->monitors()), &backendChoice);
    GestureObservingPoster observedPoster(*eventPoster);
    bus.setEventBackend(backendChoice.backend, backendChoice.reason, platform::isWaylandSession());

    if (eventPoster->backendName() == QLatin1String("none"))
        endLaterWithoutBackend(application);

    int status = 0;
    {
        Tactalon_Controller controller(
            {observedPoster, [&monitorSource] { return monitorSource->monitors(); }});
        QObject::connect(monitorSource.get(), &platform::MonitorSource::monitorsChanged,
                         &controller, &Tactalon_Controller::handleMonitorsChange);
        bus.follow(controller, observedPoster);
        controller.setup();
        status = application.exec();
        // Every press we posted has a release, also when we are told to end mid-drag. It goes
        // out at once, with anything a frame cut short left waiting.
        eventPoster->releaseHeldButtons();
    }
    return status;
}
