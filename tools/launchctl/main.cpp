// launchctl: loads and unloads a launch-agent property list on systemd's per-user manager.
//   launchctl load PLIST    writes the job's unit; enables and starts it when "KeepAlive" is
//                           true, else leaves it registered but disabled and stopped
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
    const QString unitPath = serviceUnitPath(job->label);
    if (!writeServiceUnit(unitPath, renderServiceUnit(*job), &error)) {
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
    const QStringList registration =
        job->keepAlive ? QStringList{QStringLiteral("enable"), QStringLiteral("--now")}
                       : QStringList{QStringLiteral("disable")};
    if (!systemctl->run(registration + QStringList{serviceName(*job)}, &error)) {
        return fail(error);
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
