#pragma once

#include "ViewerRegistry.h"
#include "platform/agentbus/AgentStatus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QRect>
#include <QStringList>
#include <QVariantMap>

// The agent's live status as the object /quillonworks/Tactalon, interface
// quillonworks.Tactalon.Agent (docs/agent-bus.md): read-only properties, whose changes it
// announces with org.freedesktop.DBus.Properties.PropertiesChanged, the methods by which
// viewers ask for touch frames, and the TouchFrame signal. It only holds and announces values;
// AgentBus feeds them.
class AgentStatus : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "quillonworks.Tactalon.Agent")
    Q_PROPERTY(QString Version READ version)
    Q_PROPERTY(QString EventBackend READ eventBackend)
    Q_PROPERTY(QString EventBackendReason READ eventBackendReason)
    Q_PROPERTY(bool WaylandSession READ waylandSession)
    Q_PROPERTY(QStringList ListenAddresses READ listenAddresses)
    Q_PROPERTY(int Port READ port)
    Q_PROPERTY(bool Listening READ listening)
    Q_PROPERTY(QString MonitorName READ monitorName)
    Q_PROPERTY(QRect MonitorGeometry READ monitorGeometry)
    Q_PROPERTY(uint FingersDown READ fingersDown)
    Q_PROPERTY(QList<platform::AgentSource> Sources READ sources)
    Q_PROPERTY(QString LastError READ lastError)

public:
    explicit AgentStatus(const QDBusConnection& bus, QObject* parent = nullptr);

    QString version() const { return m_version; }
    QString eventBackend() const { return m_eventBackend; }
    QString eventBackendReason() const { return m_eventBackendReason; }
    bool waylandSession() const { return m_waylandSession; }
    QStringList listenAddresses() const { return m_listenAddresses; }
    int port() const { return m_port; }
    bool listening() const { return m_listening; }
    QString monitorName() const { return m_monitorName; }
    QRect monitorGeometry() const { return m_monitorGeometry; }
    uint fingersDown() const { return m_fingersDown; }
    QList<platform::AgentSource> sources() const { return m_sources; }
    QString lastError() const { return m_lastError; }

    void setEventBackend(const QString& name, const QString& reason, bool waylandSession);
    void setListener(const QStringList& addresses, int port, bool listening);
    void setMonitor(const QString& name, const QRect& geometry);
    void setLiveValues(uint fingersDown, const QList<platform::AgentSource>& sources);
    void setLastError(const QString& error);

    ViewerRegistry& viewers() { return m_viewers; }

public slots:
    // The caller gets TouchFrame signals until it unregisters or leaves the bus.
    Q_SCRIPTABLE void RegisterViewer();
    Q_SCRIPTABLE void UnregisterViewer();

signals:
    Q_SCRIPTABLE void TouchFrame(const QList<platform::TouchFinger>& fingers,
                                 const QList<platform::TouchGesture>& gestures);

private:
    // Sets each field that differs and announces those in one PropertiesChanged.
    class Changes;
    void announce(const QVariantMap& changed);

    QDBusConnection m_bus;
    ViewerRegistry m_viewers;
    QString m_version;
    QString m_eventBackend;
    QString m_eventBackendReason;
    bool m_waylandSession = false;
    QStringList m_listenAddresses;
    int m_port = 0;
    bool m_listening = false;
    QString m_monitorName;
    QRect m_monitorGeometry;
    uint m_fingersDown = 0;
    QList<platform::AgentSource> m_sources;
    QString m_lastError;
};
