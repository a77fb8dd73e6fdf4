#include "AgentStatus.h"

#include <QDBusMessage>

// Collects the properties a setter changed, then announces them together.
class AgentStatus::Changes
{
public:
    explicit Changes(AgentStatus& status) : m_status(status) {}
    ~Changes()
    {
        if (!m_changed.isEmpty())
            m_status.announce(m_changed);
    }
    Changes(const Changes&) = delete;
    Changes& operator=(const Changes&) = delete;

    template <typename T> void set(T& field, const T& value, const char* property)
    {
        if (field == value)
            return;
        field = value;
        m_changed.insert(QLatin1String(property), QVariant::fromValue(value));
    }

private:
    AgentStatus& m_status;
    QVariantMap m_changed;
};

AgentStatus::AgentStatus(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus), m_viewers(bus), m_version(QStringLiteral(TACTALON_VERSION))
{
    platform::registerAgentBusTypes();
}

void AgentStatus::setEventBackend(const QString& name, const QString& reason, bool waylandSession)
{
    Changes changes(*this);
    changes.set(m_eventBackend, name, "EventBackend");
    changes.set(m_eventBackendReason, reason, "EventBackendReason");
    changes.set(m_waylandSession, waylandSession, "WaylandSession");
}

void AgentStatus::setListener(const QStringList& addresses, int port, bool listening)
{
    Changes changes(*this);
    changes.set(m_listenAddresses, addresses, "ListenAddresses");
    changes.set(m_port, port, "Port");
    changes.set(m_listening, listening, "Listening");
}

void AgentStatus::setMonitor(const QString& name, const QRect& geometry)
{
    Changes changes(*this);
    changes.set(m_monitorName, name, "MonitorName");
    changes.set(m_monitorGeometry, geometry, "MonitorGeometry");
}

void AgentStatus::setLiveValues(uint fingersDown, const QList<platform::AgentSource>& sources)
{
    Changes changes(*this);
    changes.set(m_fingersDown, fingersDown, "FingersDown");
    changes.set(m_sources, sources, "Sources");
}

void AgentStatus::setLastError(const QString& error)
{
    Changes changes(*this);
    changes.set(m_lastError, error, "LastError");
}

void AgentStatus::RegisterViewer()
{
    if (calledFromDBus())
        m_viewers.add(message().service());
}

void AgentStatus::UnregisterViewer()
{
    if (calledFromDBus())
        m_viewers.remove(message().service());
}

// QtDBus serves Get and GetAll from the properties but never announces their changes itself.
void AgentStatus::announce(const QVariantMap& changed)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        platform::kAgentPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << platform::kAgentInterface << changed << QStringList();
    m_bus.send(signal);
}
