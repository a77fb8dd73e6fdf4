#include "Log.h"

#include <QByteArray>
#include <QDateTime>
#include <algorithm>
#include <cerrno>
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

QByteArray formattedLine(QStringView message)
{
    if (message.endsWith(u'\n')) // the newline this function adds anyway
        message.chop(1);
    QByteArray line =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")).toUtf8();
    line += program_invocation_short_name;
    line += '[' + QByteArray::number(qint64(getpid())) + "] ";
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

void logQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    logLine(qFormatLogMessage(type, context, message));
}

} // namespace

void logLine(const QString& message)
{
    writeToStandardError(formattedLine(message));
}

void installLogMessageHandler()
{
    qInstallMessageHandler(logQtMessage);
}

} // namespace platform
