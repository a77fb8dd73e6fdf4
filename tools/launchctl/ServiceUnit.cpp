#include "tools/launchctl/ServiceUnit.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace launchctl {
namespace {

// The agent, when it finds no desktop to post into (early in a login), waits about 5 s and
// exits non-zero; with 5 s between starts a try takes about 10 s. 25 starts within 300 s keep
// it trying for about 4 minutes, enough for a desktop that comes up a couple of minutes after
// the login. A program that fails at once (a try every 5 s) is given up after about 2 minutes,
// not restarted every second for ever; the next load or login starts it afresh.
constexpr int restartDelaySeconds = 5;
constexpr int startLimitIntervalSeconds = 300;
constexpr int startLimitBurst = 25;

bool isAgent(const QString& program)
{
    return QFileInfo(program).fileName() == QLatin1String("Tactalon");
}

// What the journal and `systemctl status` call the job: the agent this tool ships with by
// what it does, any other program by its label.
QString descriptionOf(const LaunchJob& job)
{
    return isAgent(job.programArguments.first()) ? QStringLiteral("Tactalon touch input agent")
                                                 : job.label;
}

// A Condition...= path is taken unquoted, with specifiers expanded and its "." and ".."
// steps refused; the job's program is checked to hold no control character and to end in
// neither a space nor a backslash, which a unit line cannot carry.
QString conditionPath(const QString& program)
{
    return QDir::cleanPath(program).replace(u'%', QLatin1String("%%"));
}

} // namespace

QString serviceName(const QString& label)
{
    return label + QLatin1String(".service");
}

QString serviceName(const LaunchJob& job)
{
    return serviceName(job.label);
}

QString serviceUnitPath(const QString& label)
{
    const QString configHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(configHome).filePath(QLatin1String("systemd/user/") + serviceName(label));
}

QString quoteExecWord(const QString& word, bool isProgram)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : word) {
        switch (c.unicode()) {
        case u'\\':
            quoted += QLatin1String("\\\\");
            break;
        case u'"':
            quoted += QLatin1String("\\\"");
            break;
        case u'\n':
            quoted += QLatin1String("\\n");
            break;
        case u'\t':
            quoted += QLatin1String("\\t");
            break;
        case u'\r':
            quoted += QLatin1String("\\r");
            break;
        case u'%':
            quoted += QLatin1String("%%");
            break;
        case u'$':
            quoted += isProgram ? QLatin1String("$") : QLatin1String("$$");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
                quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            } else {
                quoted += c;
            }
        }
    }
    return quoted + u'"';
}

QString renderServiceUnit(const LaunchJob& job, LoginTarget loginTarget)
{
    const QString& program = job.programArguments.first();
    QStringList execWords;
    for (qsizetype i = 0; i < job.programArguments.size(); ++i) {
        execWords.append(quoteExecWord(job.programArguments.at(i), i == 0));
    }
    const bool graphical = loginTarget == LoginTarget::GraphicalSession;

    // The label is checked to hold no line break, specifier or space, so it goes in as it is.
    QString unit = QStringLiteral("# The launch agent %1, written by \"launchctl load\": "
                                  "edits here are replaced at the next load.\n")
                       .arg(job.label);
    unit += QStringLiteral("[Unit]\nDescription=%1\n").arg(descriptionOf(job));
    if (isAgent(program)) {
        unit += QLatin1String("Documentation=man:Tactalon(1)\n");
    }
    if (graphical) {
        // Started once the desktop has handed its display to the manager, stopped at logout.
        unit += QLatin1String("PartOf=graphical-session.target\nAfter=graphical-session.target\n");
    }
    // A program removed since (its package uninstalled) leaves the unit inactive at its next
    // start instead of failing over and over.
    unit += QStringLiteral("ConditionFileIsExecutable=%1\n").arg(conditionPath(program));
    if (job.keepAlive) {
        unit += QStringLiteral("StartLimitIntervalSec=%1\nStartLimitBurst=%2\n")
                    .arg(startLimitIntervalSeconds)
                    .arg(startLimitBurst);
    }

    unit += QStringLiteral("\n[Service]\nExecStart=%1\n").arg(execWords.join(u' '));
    unit += job.keepAlive
                ? QStringLiteral("Restart=always\nRestartSec=%1\n").arg(restartDelaySeconds)
                : QStringLiteral("Restart=no\n");
    unit += QStringLiteral("\n[Install]\nWantedBy=%1\n")
                .arg(graphical ? QLatin1String("graphical-session.target")
                               : QLatin1String("default.target"));
    return unit;
}

bool writeServiceUnit(const QString& path, const QString& text, QString* error)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the folder %1").arg(folder);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace launchctl
