#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace launchctl {

// One launch-agent job, as its property list describes it.
struct LaunchJob
{
    QString label;                // also the unit's file name, so checked by isValidLabel
    QStringList programArguments; // the program (an absolute path) and its arguments
    bool keepAlive = false;       // run now and restart whenever it exits
};

// Reads and checks the job in the property list at `path` (XML or binary).
// Returns nothing and sets `error` to one line saying what is wrong.
std::optional<LaunchJob> readLaunchJob(const QString& path, QString* error);

// Reads and checks only the label: all that unloading needs, so that a job whose program
// arguments went bad can still be stopped.
std::optional<QString> readLaunchJobLabel(const QString& path, QString* error);

// A label names a file and a systemd unit: letters, digits, '.', '_' and '-', starting with
// a letter or digit (no hidden file, nothing systemctl takes for an option), never "..".
bool isValidLabel(const QString& label);

} // namespace launchctl
