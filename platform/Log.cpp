#include "Log.h"

#include <QByteArray>
#include <QDateTime>
#include <cerrno>
#include <unistd.h>

namespace platform {

namespace {

QByteArray formattedLine(const QString& message)
{
    QByteArray line =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")).toUtf8();
    line += program_invocation_short_name;
    line += '[' + QByteArray::number(qint64(getpid())) + "] ";
    line += message.toUtf8();
    if (!line.endsWith('\n'))
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
