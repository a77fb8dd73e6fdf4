#include "tools/launchctl/Systemctl.h"

#include <QProcess>
#include <QStandardPaths>
#include <cstdio>

namespace launchctl {
namespace {

// systemctl gives up on an unresponsive manager after its own D-Bus timeout (25 s); this only
// guards against a systemctl that never returns at all.
constexpr int runLimitMs = 120'000;

// systemctl's lines, joined into one.
QString oneLine(const QByteArray& text)
{
    return QString::fromLocal8Bit(text)
        .trimmed()
        .split(u'\n', Qt::SkipEmptyParts)
        .join(QLatin1String("; "));
}

// No bus to reach it by, or a session bus on which no user manager answers (D-Bus then fails
// to activate systemd's name for it).
bool saysManagerUnreachable(const QString& said)
{
    return said.contains(QLatin1String("Failed to connect")) ||
           said.contains(QLatin1String("org.freedesktop.systemd1"));
}

} // namespace

std::optional<Systemctl> Systemctl::find(QString* error)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    if (program.isEmpty()) {
        *error = QStringLiteral("cannot reach the user service manager: no systemctl on PATH");
        return std::nullopt;
    }
    return Systemctl(program);
}

bool Systemctl::run(const QStringList& arguments, QString* error) const
{
    return execute(arguments, Output::Forwarded, error).has_value();
}

std::optional<QString> Systemctl::read(const QStringList& arguments, QString* error) const
{
    const std::optional<QByteArray> output = execute(arguments, Output::Captured, error);
    if (!output) {
        return std::nullopt;
    }
    return QString::fromLocal8Bit(*output);
}

std::optional<QByteArray> Systemctl::execute(const QStringList& arguments, Output output,
                                             QString* error) const
{
    const QStringList userArguments = QStringList{QStringLiteral("--user")} + arguments;
    const QString command = QStringLiteral("systemctl ") + userArguments.join(u' ');

    QProcess process;
    if (output == Output::Forwarded) {
        process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    }
    process.start(m_program, userArguments);
    if (!process.waitForStarted()) {
        *error = QStringLiteral("cannot run %1: %2").arg(m_program, process.errorString());
        return std::nullopt;
    }
    if (!process.waitForFinished(runLimitMs)) {
        process.kill();
        process.waitForFinished();
        *error =
            QStringLiteral("%1 did not finish within %2 s").arg(command).arg(runLimitMs / 1000);
        return std::nullopt;
    }

    const QByteArray standardError = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString said = oneLine(standardError);
        const QString why =
            said.isEmpty() ? QStringLiteral("exit status %1").arg(process.exitCode()) : said;
        *error =
            saysManagerUnreachable(said)
                ? QStringLiteral("cannot reach the user service manager (%1: %2)").arg(command, why)
                : QStringLiteral("%1 failed: %2").arg(command, why);
        return std::nullopt;
    }
    std::fwrite(standardError.constData(), 1, standardError.size(), stderr);
    return process.readAllStandardOutput();
}

} // namespace launchctl
