// Tactalon: the background agent. No window, no options; the per-user service launcher
// starts it and keeps it alive.
#include "Tactalon_Controller.h"
#include "platform/EventPoster.h"
#include "platform/Log.h"
#include "platform/MainScreen.h"
#include "platform/UnixSignalWatcher.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    platform::installLogMessageHandler();

    // Measured once: later changes of the display are not seen while the agent runs.
    const QRectF mainScreen = platform::mainScreenFrame();
    const std::unique_ptr<platform::EventPoster> eventPoster =
        platform::makeEventPoster(mainScreen);

    platform::UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &platform::UnixSignalWatcher::terminationRequested,
                     &application, &QCoreApplication::quit);

    {
        Tactalon_Controller controller({*eventPoster, [mainScreen] { return mainScreen; }});
        controller.setup();
        application.exec();
        // Every press we posted has a release, also when the launcher stops us mid-drag.
        eventPoster->releaseHeldButtons();
    }
    return 0;
}
