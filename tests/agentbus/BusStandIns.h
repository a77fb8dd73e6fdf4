#pragma once

#include "platform/agentbus/AgentStatus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

// A program on the session bus, on a connection of its own (so a unique name of its own)
// that owns `service` and answers at `path` (and below) through handle().
class BusStandIn : public QDBusVirtualObject
{
public:
    BusStandIn(const QString& service, const QString& path) : m_service(service), m_path(path) {}
    ~BusStandIn() override { stop(); }

    // A new connection each time, as a restarted program has.
    bool start()
    {
        static int connections = 0;
        m_connection = QStringLiteral("stand-in-%1").arg(++connections);
        m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connection);
        return m_bus.registerVirtualObject(m_path, this, QDBusConnection::SubPath) &&
               m_bus.registerService(m_service);
    }
    void stop()
    {
        if (m_connection.isEmpty())
            return;
        m_bus.unregisterService(m_service);
        m_bus.unregisterObject(m_path, QDBusConnection::UnregisterTree);
        m_bus = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(m_connection);
        m_connection.clear();
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        QDBusMessage reply = handle(message);
        if (reply.type() == QDBusMessage::InvalidMessage)
            return false;
        return connection.send(reply);
    }

    void emitSignal(const QString& path, const QString& interface, const QString& name,
                    const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
        signal.setArguments(arguments);
        m_bus.send(signal);
    }
    void emitPropertiesChanged(const QString& path, const QString& interface,
                               const QVariantMap& changed)
    {
        emitSignal(path, QStringLiteral("org.freedesktop.DBus.Properties"),
                   QStringLiteral("PropertiesChanged"), {interface, changed, QStringList()});
    }

protected:
    virtual QDBusMessage handle(const QDBusMessage& message) = 0;

private:
    QString m_service;
    QString m_path;
    QString m_connection;
    QDBusConnection m_bus{QString()};
};

// The agent's side of quillonworks.Tactalon.Agent, as the agent documents it.
class AgentStandIn : public BusStandIn
{
public:
    explicit AgentStandIn(QVariantMap properties = runningOnUinput())
        : BusStandIn(platform::kAgentService, platform::kAgentPath),
          m_properties(std::move(properties))
    {
        platform::registerAgentBusTypes();
    }

    static QVariantMap runningOnUinput()
    {
        return {
            {"Version", "1.0.0"},
            {"EventBackend", "uinput"},
            {"EventBackendReason", "/dev/uinput is writable"},
            {"WaylandSession", false},
            {"ListenAddresses", QStringList{"127.0.0.1", "::1"}},
            {"Port", 3333},
            {"Listening", true},
            {"MonitorName", "HDMI-1"},
            {"MonitorGeometry", QRect(1920, 0, 1920, 1080)},
            {"FingersDown", 2u},
            {"Sources",
             QVariant::fromValue(QList<platform::AgentSource>{{"tracker@10.0.0.2", 120, 3, 1}})},
            {"LastError", ""},
        };
    }

    void setProperty(const QString& name, const QVariant& value)
    {
        m_properties[name] = value;
        emitPropertiesChanged(platform::kAgentPath, platform::kAgentInterface, {{name, value}});
    }
    void sendTouchFrame(const QList<platform::TouchFinger>& fingers,
                        const QList<platform::TouchGesture>& gestures)
    {
        emitSignal(platform::kAgentPath, platform::kAgentInterface, "TouchFrame",
                   {QVariant::fromValue(fingers), QVariant::fromValue(gestures)});
    }

    QStringList viewers; // unique names of the registered viewers

protected:
    QDBusMessage handle(const QDBusMessage& message) override
    {
        const QString method = message.interface() + '.' + message.member();
        if (method == "org.freedesktop.DBus.Properties.GetAll")
            return message.createReply(QVariant::fromValue(m_properties));
        if (method == platform::kAgentInterface + ".RegisterViewer")
            viewers << message.service();
        else if (method == platform::kAgentInterface + ".UnregisterViewer")
            viewers.removeAll(message.service());
        else
            return {};
        return message.createReply();
    }

private:
    QVariantMap m_properties;
};

// The user's systemd, as much of it as tells one unit's ActiveState; an empty state is a
// unit it has not loaded.
class ServiceManagerStandIn : public BusStandIn
{
public:
    static inline const QString kUnitPath =
        QStringLiteral("/org/freedesktop/systemd1/unit/quillonworks_2eTactalon_2eservice");

    explicit ServiceManagerStandIn(QString state)
        : BusStandIn("org.freedesktop.systemd1", "/org/freedesktop/systemd1"),
          m_state(std::move(state))
    {}

    void setState(const QString& state)
    {
        m_state = state;
        emitPropertiesChanged(kUnitPath, "org.freedesktop.systemd1.Unit",
                              {{"ActiveState", state}, {"SubState", "whatever"}});
    }

protected:
    QDBusMessage handle(const QDBusMessage& message) override
    {
        if (message.member() == "Subscribe")
            return message.createReply();
        if (message.member() == "GetUnit") {
            if (m_state.isEmpty() ||
                message.arguments().value(0).toString() != platform::kAgentUnit)
                return message.createErrorReply("org.freedesktop.systemd1.NoSuchUnit",
                                                "Unit not loaded.");
            return message.createReply(QVariant::fromValue(QDBusObjectPath(kUnitPath)));
        }
        if (message.member() == "Get" && message.path() == kUnitPath &&
            message.arguments() == QVariantList{"org.freedesktop.systemd1.Unit", "ActiveState"})
            return message.createReply(QVariant::fromValue(QDBusVariant(m_state)));
        return {};
    }

private:
    QString m_state;
};
