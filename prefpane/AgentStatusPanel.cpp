#include "AgentStatusPanel.h"

#include "platform/agentbus/AgentStatusClient.h"
#include "platform/agentbus/ServiceStateWatcher.h"
#include "prefpane/MakeRoom.h"

#include <QFormLayout>
#include <QLabel>

using platform::AgentStatusClient;

AgentStatusPanel::AgentStatusPanel(AgentStatusClient* client, QWidget* parent)
    : QWidget(parent), m_client(client), m_layout(new QFormLayout(this))
{
    m_agent = addRow(tr("Agent:"), QStringLiteral("agent"));
    m_service = addRow(tr("Service:"), QStringLiteral("service"));
    m_input = addRow(tr("Input:"), QStringLiteral("input"));
    m_hint = addRow(QString(), QStringLiteral("hint"));
    m_listening = addRow(tr("Listening on:"), QStringLiteral("listening"));
    m_monitor = addRow(tr("Monitor:"), QStringLiteral("monitor"));
    m_fingers = addRow(tr("Fingers down:"), QStringLiteral("fingers"));
    m_trackers = addRow(tr("Trackers:"), QStringLiteral("trackers"));
    m_error = addRow(tr("Last error:"), QStringLiteral("error"));
    connect(m_client, &AgentStatusClient::changed, this, &AgentStatusPanel::refresh);
    refresh();
}

QLabel* AgentStatusPanel::line(const QString& name) const
{
    return findChild<QLabel*>(name, Qt::FindDirectChildrenOnly);
}

QLabel* AgentStatusPanel::addRow(const QString& title, const QString& name)
{
    auto* line = new QLabel(this);
    line->setObjectName(name);
    line->setTextFormat(Qt::PlainText); // tracker names are the sender's text
    line->setWordWrap(true);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse); // for copying into a bug report
    m_layout->addRow(title, line);
    return line;
}

void AgentStatusPanel::setRow(QLabel* line, const QString& text)
{
    line->setText(text);
    m_layout->setRowVisible(line, !text.isEmpty());
    makeRoomForWrappedText(line);
}

void AgentStatusPanel::refresh()
{
    setRow(m_agent, agentText());
    setRow(m_service, serviceText());
    updateAgentRows();
    QString error = m_client->status().lastError;
    if (error.isEmpty() && !m_client->problem().isEmpty() && m_client->running())
        error = tr("The agent's status cannot be read: %1").arg(m_client->problem());
    setRow(m_error, m_client->running() && error.isEmpty() ? tr("None") : error);
}

// The rows only a running agent can fill; hidden while none runs.
void AgentStatusPanel::updateAgentRows()
{
    const bool running = m_client->running();
    const platform::AgentStatus& status = m_client->status();

    QString input = status.eventBackend;
    if (!status.eventBackendReason.isEmpty())
        input = tr("%1 (%2)").arg(input, status.eventBackendReason);
    setRow(m_input, running ? input : QString());
    setRow(m_hint, running ? inputHint() : QString());

    const QString addresses = status.listenAddresses.isEmpty()
                                  ? tr("no address")
                                  : status.listenAddresses.join(QStringLiteral(", "));
    setRow(m_listening, !running ? QString()
                        : status.listening
                            ? tr("%1, UDP port %2 (open)").arg(addresses).arg(status.port)
                            : tr("%1, UDP port %2 (not open)").arg(addresses).arg(status.port));

    const QRect geometry = status.monitorGeometry;
    const QString monitorName = status.monitorName.isEmpty() ? tr("unnamed") : status.monitorName;
    setRow(m_monitor, running ? tr("%1, %2 × %3 pixels at %4, %5")
                                    .arg(monitorName)
                                    .arg(geometry.width())
                                    .arg(geometry.height())
                                    .arg(geometry.x())
                                    .arg(geometry.y())
                              : QString());
    setRow(m_fingers, running ? QString::number(status.fingersDown) : QString());
    setRow(m_trackers, running ? trackersText() : QString());
}

QString AgentStatusPanel::agentText() const
{
    switch (m_client->state()) {
    case AgentStatusClient::State::Unknown:
        return tr("Checking…");
    case AgentStatusClient::State::NoSessionBus:
        return tr("Unknown: there is no session bus to ask (%1)").arg(m_client->problem());
    case AgentStatusClient::State::NotRunning:
        return tr("Not running");
    case AgentStatusClient::State::Running:
        break;
    }
    const QString version = m_client->status().version;
    return version.isEmpty() ? tr("Running") : tr("Running, version %1").arg(version);
}

QString AgentStatusPanel::serviceText() const
{
    const QString state = m_client->serviceState();
    if (state.isEmpty())
        return tr("Checking…");
    if (state == QLatin1String("active"))
        return tr("Active: the service manager keeps the agent running");
    if (state == QLatin1String("inactive"))
        return tr("Inactive: the service manager has not started the agent");
    if (state == QLatin1String("failed"))
        return tr("Failed: see journalctl --user -u quillonworks.Tactalon");
    if (state == QLatin1String("activating"))
        return tr("Starting");
    if (state == QLatin1String("deactivating"))
        return tr("Stopping");
    if (state == platform::ServiceStateWatcher::kNoServiceManager)
        return tr("No service manager on the session bus");
    return state;
}

QString AgentStatusPanel::inputHint() const
{
    const platform::AgentStatus& status = m_client->status();
    if (status.eventBackend == QLatin1String("XTest") && status.waylandSession)
        return tr("Clicks reach X11 windows only: grant access to /dev/uinput, see \"Using it "
                  "for real\" in the README.");
    if (status.eventBackend == QLatin1String("none"))
        return tr("The agent cannot post input: grant access to /dev/uinput (see \"Using it for "
                  "real\" in the README), or log in to an X11 session.");
    return {};
}

QString AgentStatusPanel::trackersText() const
{
    QStringList lines;
    for (const platform::AgentSource& source : m_client->status().sources)
        lines << tr("%1: %2 frames received, %3 dropped as late, %4 malformed datagrams")
                     .arg(source.name)
                     .arg(source.framesReceived)
                     .arg(source.framesLate)
                     .arg(source.datagramsMalformed);
    return lines.isEmpty() ? tr("None has sent touches yet") : lines.join(QLatin1Char('\n'));
}
