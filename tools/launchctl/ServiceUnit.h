#pragma once

#include "tools/launchctl/LaunchJob.h"

#include <QString>

namespace launchctl {

// The target of the user's service manager that starts an enabled job at each login.
enum class LoginTarget {
    // graphical-session.target, which desktops such as GNOME and Plasma start once their
    // display is up (and stop at logout): the job starts after the display is there.
    GraphicalSession,
    // default.target, for desktops that never start graphical-session.target.
    Default,
};

// The systemd unit that stands for a job: "<Label>.service".
QString serviceName(const LaunchJob& job);
QString serviceName(const QString& label);

// Where the unit goes: $XDG_CONFIG_HOME/systemd/user/<Label>.service (~/.config by default),
// the folder systemd's per-user manager reads the user's own units from.
QString serviceUnitPath(const QString& label);

// The unit file's text: the job's program and arguments, started with `loginTarget` once
// enabled, restarted at a bounded rate when it is to be kept alive, and never started while
// its program is missing.
QString renderServiceUnit(const LaunchJob& job, LoginTarget loginTarget);

// One ExecStart word, double-quoted so that systemd reads it back unchanged: C escapes for
// backslashes, quotes and control characters, "%%" for '%' (specifiers), and for arguments
// but not the program path "$$" for '$' (environment variables are expanded in arguments only).
QString quoteExecWord(const QString& word, bool isProgram);

// Writes the unit atomically, creating its folder; false and `error` set when it cannot.
bool writeServiceUnit(const QString& path, const QString& text, QString* error);

} // namespace launchctl
