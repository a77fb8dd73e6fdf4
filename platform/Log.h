#pragma once

#include <QString>

namespace platform {

// Writes one line to the system log: standard error, in the form
// "YYYY-MM-DD hh:mm:ss.mmm Program[pid] message". One call is always exactly one line: a
// newline ending the message is the line's own, and every other control character (line
// breaks, terminal escapes, Unicode line separators) is written as an escape such as "\n".
// Under the service launcher standard error goes to the user's journal.
void logLine(const QString& message);

// Routes Qt's own messages (qWarning and friends, also those of libTUIO) through logLine,
// so that every line of a process has the same form.
void installLogMessageHandler();

} // namespace platform
