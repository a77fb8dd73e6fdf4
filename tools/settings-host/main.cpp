// tactalon-settings: shows the Tactalon settings pane in a window of its own, as the
// desktop's settings application would.
//
//   tactalon-settings [BUNDLE]
//
// Without BUNDLE it takes the TactalonPrefs.prefPane beside its own folder (build tree),
// else the installed one.

#include "platform/pane/PreferencePaneHost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
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
    return application.exec();
}
