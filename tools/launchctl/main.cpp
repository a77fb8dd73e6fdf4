// launchctl: loads and unloads a launch-agent property list on systemd's per-user manager.
//   launchctl load PLIST    writes the job's unit; enables and starts it when "KeepAlive" is
//                           true, else leaves it registered but disabled and stopped; refuses
//                           a job whose program is missing
//   launchctl unload PLIST  stops and disables the job's unit (the unit file stays)
//   launchctl --help | --version
// Exit status: 0 done, 1 failed (message on standard error), 2 usage.

#include "tools/launchctl/LaunchJob.h"
#include "tools/launchctl/ServiceUnit.h"
#include "tools/launchctl/Systemctl.h"

#include <QCoreApplication>
#include <cstdio>

using namespace launchctl;

namespace {

enum ExitStatus { Done = 0, Failed = 1, Usage = 2 };

ExitStatus fail(const QString& message)
{
    // One line, whatever a path or label holds.
    const QString line = QString(message).replace(u'\n', QLatin1String("\\n"));
    std::fprintf(stderr, "launchctl: %s\n", qPrintable(line));
    return Failed;
}

// The session's display, handed to the user manager so that the agent it starts finds the
// desktop to post into: not every session imports it into the manager itself.
QStringList displayVariables()
{
    QStringList present;
    for (const char* name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY"}) {
        if (qEnvironmentVariableIsSet(name))
            present << QString::fromLatin1(name);
    }
    return present;
}

// GNOME and Plasma start graphical-session.target with the desktop; other desktops never do,
// and a job wanted only by it would never start there. Asked of the manager of the session
// the job is loaded from.
std::optional<LoginTarget> loginTargetOf(const Systemctl& systemctl, QString* error)
{
    const std::optional<QString> state =
        systemctl.read({QStringLiteral("show"), QStringLiteral("--property=ActiveState"),
                        QStringLiteral("--value"), QStringLiteral("graphical-session.target")},
                       error);
    if (!state) {
        return std::nullopt;
    }
    return state->trimmed() == u"active" ? LoginTarget::GraphicalSession : LoginTarget::Default;
}

// Enabled (with only the symlinks of the unit's present [Install] section) and started, also
// when the manager had given up on it after too many restarts; else disabled and stopped.
QList<QStringList> registrationOf(const LaunchJob& job)
{
    const QString unit = serviceName(job);
    if (!job.keepAlive) {
        return {{QStringLiteral("disable"), QStringLiteral("--now"), unit}};
    }
    return {{QStringLiteral("reenable"), unit},
            {QStringLiteral("reset-failed"), unit},
            {QStringLiteral("start"), unit}};
}

ExitStatus load(const QString& propertyListPath)
{
    QString error;
    const std::optional<LaunchJob> job = readLaunchJob(propertyListPath, &error);
    if (!job) {
        return fail(error);
    }
    const std::optional<Systemctl> systemctl = Systemctl::find(&error);
    if (!systemctl) {
        return fail(error);
    }
    const std::optional<LoginTarget> loginTarget = loginTargetOf(*systemctl, &error);
    if (!loginTarget) {
        return fail(error);
    }
    const QString unitPath = serviceUnitPath(job->label);
    if (!writeServiceUnit(unitPath, renderServiceUnit(*job, *loginTarget), &error)) {
        return fail(error);
    }
    const QStringList display = displayVariables();
    if (job->keepAlive && !display.isEmpty() &&
        !systemctl->run(QStringList{QStringLiteral("import-environment")} + display, &error)) {
        return fail(error);
    }
    if (!systemctl->run({QStringLiteral("daemon-reload")}, &error)) {
        return fail(error);
    }
    for (const QStringList& step : registrationOf(*job)) {
        if (!systemctl->run(step, &error)) {
            return fail(error);
        }
    }
    return Done;
}

ExitStatus unload(const QString& propertyListPath)
{
    QString error;
    const std::optional<QString> label = readLaunchJobLabel(propertyListPath, &error);
    if (!label) {
        return fail(error);
    }
    const std::optional<Systemctl> systemctl = Systemctl::find(&error);
    if (!systemctl) {
        return fail(error);
    }
    const QStringList arguments{QStringLiteral("disable"), QStringLiteral("--now"),
                                serviceName(*label)};
    if (!systemctl->run(arguments, &error)) {
        return fail(error);
    }
    return Done;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.value(0);
    constexpr const char* usage = "usage: launchctl load PLIST\n"
                                  "       launchctl unload PLIST\n"
                                  "       launchctl --help | --version\n";
    if (arguments == QStringList{QStringLiteral("--help")}) {
        std::fputs(usage, stdout);
        return Done;
    }
    if (arguments == QStringList{QStringLiteral("--version")}) {
        std::printf("launchctl (Tactalon) %s\n", TACTALON_VERSION);
        return Done;
    }
    if (arguments.size() != 2 || (command != u"load" && command != u"unload")) {
        std::fputs(usage, stderr);
        return Usage;
    }
    return command == u"load" ? load(arguments.at(1)) : unload(arguments.at(1));
}
