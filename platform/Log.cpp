#include "Log.h"

#include <QByteArray>
#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Characters that may end a line or steer a terminal: C0 controls, DEL, C1 controls (NEL
// among them) and Unicode's line and paragraph separators.
bool needsEscape(char16_t unit)
{
    return unit < 0x20 || (unit >= 0x7f && unit <= 0x9f) || unit == 0x2028 || unit == 0x2029;
}

// The message with each such character written as an escape ("\n", "\x1b", "\u2028"), so
// that text from the network (a tracker's source name) never starts a line of its own.
QString escapedMessage(QStringView message)
{
    QString escaped;
    escaped.reserve(message.size() + 16);
    for (const QChar character : message) {
        const char16_t unit = character.unicode();
        if (!needsEscape(unit)) {
            escaped += character;
            continue;
        }
        switch (unit) {
        case u'\n':
            escaped += QLatin1String("\\n");
            break;
        case u'\r':
            escaped += QLatin1String("\\r");
            break;
        case u'\t':
            escaped += QLatin1String("\\t");
            break;
        default:
            escaped += unit < 0x100
                           ? QStringLiteral("\\x%1").arg(int(unit), 2, 16, QLatin1Char('0'))
                           : QStringLiteral("\\u%1").arg(int(unit), 4, 16, QLatin1Char('0'));
        }
    }
    return escaped;
}

// syslog's priorities, as sd-daemon(3) prefixes take them.
enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

// In the journal: "<4>message" (the journal stamps time, program and pid itself); elsewhere:
// "YYYY-MM-DD hh:mm:ss.mmm Program[pid] message".
QByteArray linePrefix(Priority priority)
{
    if (standardErrorIsJournal())
        return '<' + QByteArray::number(int(priority)) + '>';
    QByteArray prefix =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")).toUtf8();
    prefix += program_invocation_short_name;
    prefix += '[' + QByteArray::number(qint64(getpid())) + "] ";
    return prefix;
}

QByteArray formattedLine(QStringView message, Priority priority)
{
    if (message.endsWith(u'\n')) // the newline this function adds anyway
        message.chop(1);
    QByteArray line = linePrefix(priority);
    // Most lines have nothing to escape: they are not copied.
    if (std::any_of(message.begin(), message.end(),
                    [](QChar character) { return needsEscape(character.unicode()); }))
        line += escapedMessage(message).toUtf8();
    else
        line += message.toUtf8();
    line += '\n';
    return line;
}

// One write() for the whole line, so that lines of processes sharing the journal stream do
// not interleave; the loop only finishes a line the kernel cut short.
void writeToStandardError(const QByteArray& line)
{
    const char* next = line.constData();
    size_t left = size_t(line.size());
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, next, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // standard error is gone: nowhere left to say so
        next += written;
        left -= size_t(written);
    }
}

Priority priorityOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return Priority::Debug;
    case QtInfoMsg:
        return Priority::Info;
    case QtWarningMsg:
        return Priority::Warning;
    case QtCriticalMsg:
    case QtFatalMsg:
        return Priority::Error;
    }
    return Priority::Info;
}

void logQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    writeToStandardError(
        formattedLine(qFormatLogMessage(type, context, message), priorityOf(type)));
}

bool journalStreamIs(const QByteArray& journalStream, int fd)
{
    struct stat status = {};
    if (journalStream.isEmpty() || ::fstat(fd, &status) != 0)
        return false;
    return journalStream == QByteArray::number(quint64(status.st_dev)) + ':' +
                                QByteArray::number(quint64(status.st_ino));
}

} // namespace

bool standardErrorIsJournal()
{
    // Standard error and the environment stay the same for the life of the process.
    static const bool isJournal = journalStreamIs(qgetenv("JOURNAL_STREAM"), STDERR_FILENO);
    return isJournal;
}

void logLine(const QString& message)
{
    writeToStandardError(formattedLine(message, Priority::Info));
}

void logWarning(const QString& message)
{
    writeToStandardError(formattedLine(message, Priority::Warning));
}

void installLogMessageHandler()
{
    qInstallMessageHandler(logQtMessage);
}

} // namespace platform
