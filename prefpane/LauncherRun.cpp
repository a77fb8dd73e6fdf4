#include "prefpane/LauncherRun.h"

#include "platform/Log.h"

#include <QFileInfo>
#include <cstdio>

namespace {
constexpr qsizetype kKeptErrorOutput = 4096; // bytes: enough for the tool's last lines
constexpr qsizetype kShownErrorLine = 300;   // characters of it told in the window
} // namespace

LauncherRun::LauncherRun(const QString& toolPath, const QString& propertyListPath,
                         std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent), m_toolPath(toolPath), m_propertyListPath(propertyListPath)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(timeout);
    connect(&m_timer, &QTimer::timeout, this, &LauncherRun::onTimeout);
}

LauncherRun::~LauncherRun()
{
    // A run still going when the window closes ends with it and reports to no one.
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished();
    }
}

void LauncherRun::start(const QStringList& verbs)
{
    m_pending = verbs;
    m_failures.clear();
    startNext();
}

void LauncherRun::startNext()
{
    if (m_pending.isEmpty()) {
        emit finished(m_failures);
        return;
    }
    m_verb = m_pending.takeFirst();
    m_errorOutput.clear();
    m_timedOut = false;
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    connect(m_process, &QProcess::readyReadStandardError, this, &LauncherRun::forwardErrorOutput);
    connect(m_process, &QProcess::finished, this, &LauncherRun::onFinished);
    connect(m_process, &QProcess::errorOccurred, this, &LauncherRun::onErrorOccurred);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->start(m_toolPath, {m_verb, m_propertyListPath});
    m_timer.start();
}

void LauncherRun::forwardErrorOutput()
{
    const QByteArray chunk = m_process->readAllStandardError();
    std::fwrite(chunk.constData(), 1, size_t(chunk.size()), stderr);
    std::fflush(stderr);
    m_errorOutput.append(chunk);
    if (m_errorOutput.size() > kKeptErrorOutput)
        m_errorOutput = m_errorOutput.right(kKeptErrorOutput);
}

void LauncherRun::onFinished(int exitCode, QProcess::ExitStatus status)
{
    forwardErrorOutput();
    if (m_timedOut)
        fail(FailureKind::TimedOut, lastErrorLine());
    else if (status == QProcess::CrashExit)
        fail(FailureKind::Crashed, lastErrorLine());
    else if (exitCode != 0)
        fail(FailureKind::ExitStatus, lastErrorLine(), exitCode);
    endRun(true);
}

void LauncherRun::onErrorOccurred(QProcess::ProcessError error)
{
    // Every other error is followed by finished().
    if (error != QProcess::FailedToStart)
        return;
    const bool missing = !QFileInfo::exists(m_toolPath);
    platform::logLine(
        QStringLiteral("Cannot run %1 %2: %3").arg(m_toolPath, m_verb, m_process->errorString()));
    fail(missing ? FailureKind::Missing : FailureKind::NotStartable, m_process->errorString());
    endRun(false);
}

void LauncherRun::onTimeout()
{
    if (!m_process)
        return;
    m_timedOut = true;
    m_process->kill(); // finished() follows
}

void LauncherRun::endRun(bool continueWithNext)
{
    m_timer.stop();
    m_process->disconnect(this);
    m_process->deleteLater();
    m_process = nullptr;
    if (!continueWithNext)
        m_pending.clear();
    startNext();
}

void LauncherRun::fail(FailureKind kind, const QString& detail, int exitStatus)
{
    m_failures.append({m_verb, kind, exitStatus, detail});
    switch (kind) {
    case FailureKind::ExitStatus:
        platform::logLine(QStringLiteral("%1 %2 failed with exit status %3")
                              .arg(m_toolPath, m_verb)
                              .arg(exitStatus));
        break;
    case FailureKind::Crashed:
        platform::logLine(QStringLiteral("%1 %2 crashed").arg(m_toolPath, m_verb));
        break;
    case FailureKind::TimedOut:
        platform::logLine(QStringLiteral("%1 %2 did not finish within %3 ms and was stopped")
                              .arg(m_toolPath, m_verb)
                              .arg(m_timer.interval()));
        break;
    case FailureKind::Missing:
    case FailureKind::NotStartable:
        break; // logged where it was found
    }
}

QString LauncherRun::lastErrorLine() const
{
    const QList<QByteArray> lines = m_errorOutput.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString text = QString::fromLocal8Bit(line->trimmed());
        if (!text.isEmpty())
            return text.size() > kShownErrorLine ? text.left(kShownErrorLine) + u'…' : text;
    }
    return {};
}
