#include "AgentMonitor.h"

#include "Printable.h"

#include <QTimer>
#include <cstdio>

using platform::AgentStatusClient;

namespace {

// Counters change with every frame: printed with the status, not each time they change.
bool isCounter(const QString& line)
{
    return line.startsWith(QLatin1String("fingers down:")) ||
           line.startsWith(QLatin1String("source:"));
}

QString point(const QPointF& position)
{
    return QStringLiteral("(%1,%2)").arg(position.x(), 0, 'g', 7).arg(position.y(), 0, 'g', 7);
}

} // namespace

AgentMonitor::AgentMonitor(QObject* parent)
    : QObject(parent), m_client(this), m_out(stdout), m_err(stderr)
{
    connect(&m_client, &AgentStatusClient::changed, this, &AgentMonitor::agentChanged);
    connect(&m_client, &AgentStatusClient::touchFrame, this, &AgentMonitor::printFrame);
    // The first answers come through the event loop; a missing bus is known already.
    QTimer::singleShot(0, this, &AgentMonitor::agentChanged);
}

void AgentMonitor::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    if (!m_client.watchingTouches() || !m_client.running()) {
        Q_EMIT finished(0);
        return;
    }
    connect(&m_client, &AgentStatusClient::viewerRequestAnswered, this,
            [this] { Q_EMIT finished(0); });
    QTimer::singleShot(kUnregisterTimeout, this, [this] { Q_EMIT finished(0); });
    m_client.setWatchingTouches(false);
}

void AgentMonitor::agentChanged()
{
    if (m_stopping)
        return;
    switch (m_client.state()) {
    case AgentStatusClient::State::Unknown:
        return;
    case AgentStatusClient::State::NoSessionBus:
        m_err << "tactalon-tuio: no D-Bus session bus (" << m_client.problem()
              << "): cannot ask the agent" << Qt::endl;
        Q_EMIT finished(1);
        return;
    case AgentStatusClient::State::NotRunning:
        if (!m_seenRunning) {
            m_err << "tactalon-tuio: the Tactalon agent is not running (nobody owns "
                  << platform::kAgentService << " on the session bus)" << Qt::endl;
            Q_EMIT finished(1);
        } else if (!m_printed.isEmpty()) {
            m_out << "agent: stopped; waiting for it to start again" << Qt::endl;
            m_printed.clear();
        }
        return;
    case AgentStatusClient::State::Running:
        if (!m_client.serviceState().isEmpty()) // printed together with the rest
            printStatus();
        return;
    }
}

void AgentMonitor::printStatus()
{
    const QStringList lines = statusLines();
    for (const QString& line : lines) {
        if (m_printed.isEmpty() || (!isCounter(line) && !m_printed.contains(line)))
            m_out << line << "\n";
    }
    m_out.flush();
    m_printed = lines;
    if (!m_seenRunning) {
        m_seenRunning = true;
        m_client.setWatchingTouches(true);
    }
}

QStringList AgentMonitor::statusLines() const
{
    const platform::AgentStatus& status = m_client.status();
    QStringList lines;
    lines << QStringLiteral("agent: running, version %1").arg(printable(status.version))
          << QStringLiteral("service: %1").arg(m_client.serviceState());
    lines << QStringLiteral("input: %1 (%2)")
                 .arg(printable(status.eventBackend), printable(status.eventBackendReason));
    if (status.eventBackend == QLatin1String("XTest") && status.waylandSession)
        lines << QStringLiteral("hint: clicks reach X11 windows only: grant access to "
                                "/dev/uinput (see \"Using it for real\" in the README)");
    else if (status.eventBackend == QLatin1String("none"))
        lines << QStringLiteral("hint: the agent cannot post input: grant access to /dev/uinput "
                                "(see \"Using it for real\" in the README)");
    lines << QStringLiteral("listening: %1 port %2 (%3)")
                 .arg(printable(status.listenAddresses.join(QStringLiteral(", "))))
                 .arg(status.port)
                 .arg(status.listening ? QStringLiteral("open") : QStringLiteral("not open"));
    const QRect geometry = status.monitorGeometry;
    lines << QStringLiteral("monitor: %1 %2x%3+%4+%5")
                 .arg(status.monitorName.isEmpty() ? QStringLiteral("(unnamed)")
                                                   : printable(status.monitorName))
                 .arg(geometry.width())
                 .arg(geometry.height())
                 .arg(geometry.x())
                 .arg(geometry.y());
    lines << QStringLiteral("fingers down: %1").arg(status.fingersDown);
    for (const platform::AgentSource& source : status.sources)
        lines << QStringLiteral("source: %1 frames=%2 late=%3 malformed=%4")
                     .arg(printable(source.name))
                     .arg(source.framesReceived)
                     .arg(source.framesLate)
                     .arg(source.datagramsMalformed);
    const QString error = !m_client.problem().isEmpty() ? m_client.problem() : status.lastError;
    lines << QStringLiteral("last error: %1")
                 .arg(error.isEmpty() ? QStringLiteral("none") : printable(error));
    return lines;
}

void AgentMonitor::printFrame(const QList<platform::TouchFinger>& fingers,
                              const QList<platform::TouchGesture>& gestures)
{
    QStringList fingerWords;
    for (const platform::TouchFinger& finger : fingers)
        fingerWords << QString::number(finger.id) + QLatin1Char(':') + point(finger.position);
    QStringList gestureWords;
    for (const platform::TouchGesture& gesture : gestures)
        gestureWords << printable(gesture.kind) + QLatin1Char(':') + point(gesture.position);
    m_out << "fingers=[" << fingerWords.join(' ') << "] gestures=[" << gestureWords.join(' ') << "]"
          << Qt::endl;
}
