#pragma once

#include <QString>

namespace platform {

// Writes one line to the system log: standard error, in the form
// "YYYY-MM-DD hh:mm:ss.mmm Program[pid] message". One call is always exactly one line: a
// newline ending the message is the line's own, and every other control character (line
// breaks, terminal escapes, Unicode line separators) is written as an escape such as "\n".
// Under the service launcher standard error goes to the user's journal: there (JOURNAL_STREAM
// names standard error) the journal adds the time and program itself, so a line is only the
// message, with a syslog priority prefix ("<4>") where it is a warning.
void logLine(const QString& message);

// A line about something that keeps the agent from doing its whole job (no display, a port that
// cannot be opened): in the journal it carries the warning priority, elsewhere it is a logLine.
void logWarning(const QString& message);

// Routes Qt's own messages (qWarning and friends, also those of libTUIO) through logLine,
// so that every line of a process has the same form.
void installLogMessageHandler();

// Whether standard error is the journal's stream: JOURNAL_STREAM ("device:inode") names the
// very file standard error is. A child that inherited the variable but writes elsewhere is not.
bool standardErrorIsJournal();

} // namespace platform
