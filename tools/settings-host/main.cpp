// tactalon-settings: shows the Tactalon settings pane in a window of its own, as the
// desktop's settings application would.
//
//   tactalon-settings [--screenshot FILE] [BUNDLE]
//   tactalon-settings --help | --version
//
// Without BUNDLE it takes the TactalonPrefs.prefPane beside its own folder (build tree),
// else the one installed with it (../lib/tactalon/ from its own folder). --screenshot saves a
// picture of the window, once it has settled, and quits (scripts/screenshot).

#include "platform/pane/PreferencePaneHost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <optional>

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

QCommandLineOption screenshotOption()
{
    return QCommandLineOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Saves a picture of the window as <file> (PNG) and quits."),
        QStringLiteral("file"));
}

void describeCommandLine(QCommandLineParser& parser)
{
    QCoreApplication::setApplicationName(QStringLiteral("tactalon-settings"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TACTALON_VERSION));
    parser.setApplicationDescription(QStringLiteral("Shows the Tactalon settings."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("bundle"),
        QStringLiteral("The settings pane bundle (TactalonPrefs.prefPane)."),
        QStringLiteral("[bundle]"));
    parser.addOption(screenshotOption());
}

// --help and --version are answered before QApplication starts: it needs a display, they do not.
std::optional<int> answerWithoutDisplay(int argc, char* argv[])
{
    const auto asked = [argc, argv](std::initializer_list<const char*> options) {
        for (int index = 1; index < argc; ++index) {
            for (const char* option : options) {
                if (qstrcmp(argv[index], option) == 0)
                    return true;
            }
        }
        return false;
    };
    const bool help = asked({"--help", "-h", "-?"});
    if (!help && !asked({"--version", "-v"}))
        return std::nullopt;
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    describeCommandLine(parser);
    const QString text =
        help ? parser.helpText() : QStringLiteral("tactalon-settings %1\n").arg(TACTALON_VERSION);
    std::fputs(qPrintable(text), stdout);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const std::optional<int> status = answerWithoutDisplay(argc, argv))
        return *status;

    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Tactalon"));

    QCommandLineParser parser;
    describeCommandLine(parser);
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
    if (const QCommandLineOption screenshot = screenshotOption(); parser.isSet(screenshot))
        saveScreenshotLater(host.window(), parser.value(screenshot));
    return application.exec();
}
