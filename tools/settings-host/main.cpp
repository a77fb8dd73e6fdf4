// tactalon-settings: shows the Tactalon settings pane in a window of its own, as the
// desktop's settings application would.
//
//   tactalon-settings [--screenshot FILE] [BUNDLE]
//
// Without BUNDLE it takes the TactalonPrefs.prefPane beside its own folder (build tree),
// else the installed one. --screenshot saves a picture of the window, once it has settled,
// and quits (scripts/screenshot).

#include "platform/pane/PreferencePaneHost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace {

QString defaultBundlePath()
{
    const QDir programFolder(QCoreApplication::applicationDirPath());
    const QStringList candidates = {
        programFolder.filePath(QStringLiteral("../" TACTALON_BUNDLE_NAME)),
        programFolder.filePath(QStringLiteral(TACTALON_BUNDLE_FROM_BIN_DIR)),
    };
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate);
    }
    return QDir::cleanPath(candidates.last());
}

// Time for what fills the window from the session bus to arrive before the picture.
constexpr int kScreenshotDelay = 1500; // milliseconds

void saveScreenshotLater(QWidget* window, const QString& path)
{
    QTimer::singleShot(kScreenshotDelay, window, [window, path] {
        const bool saved = window->grab().save(path);
        if (!saved)
            std::fprintf(stderr, "tactalon-settings: cannot save the picture %s\n",
                         qPrintable(path));
        QCoreApplication::exit(saved ? 0 : 1);
    });
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tactalon-settings"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tactalon"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows the Tactalon settings."));
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("bundle"),
        QStringLiteral("The settings pane bundle (TactalonPrefs.prefPane)."),
        QStringLiteral("[bundle]"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Saves a picture of the window as <file> (PNG) and quits."),
        QStringLiteral("file"));
    parser.addOption(screenshot);
    parser.process(application);
    const QStringList arguments = parser.positionalArguments();
    const QString bundlePath = arguments.isEmpty() ? defaultBundlePath() : arguments.first();

    PreferencePaneHost host;
    if (!host.load(bundlePath)) {
        std::fprintf(stderr, "tactalon-settings: %s\n", qPrintable(host.errorString()));
        return 1;
    }
    host.window()->setWindowTitle(QStringLiteral("Tactalon"));
    host.window()->show();
    if (parser.isSet(screenshot))
        saveScreenshotLater(host.window(), parser.value(screenshot));
    return application.exec();
}
