#include "AgentBus.h"

#include "Tactalon_Controller.h"
#include "platform/Log.h"
#include "tuio/TuioClient.h"

#include <QDBusConnectionInterface>
#include <QDBusError>

AgentBus::AgentBus(QObject* parent)
    : QObject(parent), m_bus(QDBusConnection::sessionBus()), m_status(m_bus),
      m_recorder([this] { return currentFingers(); })
{
    m_liveValuesTimer.setSingleShot(true);
    m_liveValuesTimer.setInterval(kLiveValuesIntervalMs);
    connect(&m_liveValuesTimer, &QTimer::timeout, this, &AgentBus::publishLiveValues);
    connect(&m_recorder, &TouchFrameRecorder::touchFrame, &m_status, &AgentStatus::TouchFrame);
    connect(&m_status.viewers(), &ViewerRegistry::activeChanged, this, &AgentBus::setViewersActive);
    m_claim = claimName();
}

AgentBus::Claim AgentBus::claimName()
{
    if (!m_bus.isConnected()) {
        platform::logLine(QStringLiteral("No D-Bus session bus (%1): the agent's status is not "
                                         "published, and a second agent of this user is not "
                                         "kept from running")
                              .arg(m_bus.lastError().message()));
        return Claim::NoBus;
    }
    // The object first: whoever sees the name appear finds the object behind it.
    if (!m_bus.registerObject(platform::kAgentPath, &m_status,
                              QDBusConnection::ExportAllProperties |
                                  QDBusConnection::ExportScriptableSlots |
                                  QDBusConnection::ExportScriptableSignals))
        platform::logLine(QStringLiteral("Could not publish the agent's status at %1 on the "
                                         "session bus: %2")
                              .arg(platform::kAgentPath, m_bus.lastError().message()));

    QDBusConnectionInterface* bus = m_bus.interface();
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus->registerService(platform::kAgentService, QDBusConnectionInterface::DontQueueService,
                             QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        platform::logLine(QStringLiteral("Could not take the name %1 on the session bus (%2): "
                                         "the agent's status is not published")
                              .arg(platform::kAgentService, reply.error().message()));
        return Claim::NoBus;
    }
    if (reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Claim::Owned;

    const QDBusReply<uint> owner = bus->servicePid(platform::kAgentService);
    platform::logLine(
        QStringLiteral("Tactalon is already running for this user: process %1 owns %2 on the "
                       "session bus. This one ends.")
            .arg(owner.isValid() ? QString::number(owner.value()) : QStringLiteral("(unknown)"),
                 platform::kAgentService));
    return Claim::AlreadyRunning;
}

void AgentBus::setEventBackend(const QString& name, const QString& reason, bool waylandSession)
{
    m_status.setEventBackend(name, reason, waylandSession);
    if (name == QLatin1String("none"))
        m_status.setLastError(
            reason.isEmpty()
                ? QStringLiteral("No way to post mouse events: touches are ignored")
                : QStringLiteral("No way to post mouse events (%1): touches are ignored")
                      .arg(reason));
}

void AgentBus::setMonitor(const QString& name, const QRect& geometry)
{
    m_status.setMonitor(name, geometry);
    if (m_poster)
        m_poster->setMonitorOrigin(geometry.topLeft());
}

void AgentBus::follow(Tactalon_Controller& controller, GestureObservingPoster& poster)
{
    m_controller = &controller;
    m_poster = &poster;
    poster.setMonitorOrigin(m_status.monitorGeometry().topLeft());
    connect(&controller, &Tactalon_Controller::tuioClientStarted, this,
            &AgentBus::takeInTuioClient);
    connect(&controller, &Tactalon_Controller::errorReported, &m_status,
            &AgentStatus::setLastError);
    connect(&controller, &Tactalon_Controller::monitorChosen, this, &AgentBus::setMonitor);
    // The controller goes before the bus: nothing may reach it, or its poster, after.
    connect(&controller, &QObject::destroyed, this, [this] {
        setViewersActive(false);
        m_liveValuesTimer.stop();
        m_poster = nullptr;
    });
    if (!m_status.viewers().isEmpty())
        setViewersActive(true);
}

void AgentBus::takeInTuioClient()
{
    TuioClient* client = m_controller ? m_controller->tuioClient() : nullptr;
    if (!client)
        return;
    m_tuioClient = client;
    connect(client, &TuioClient::datagramsRead, this, [this] {
        if (!m_liveValuesTimer.isActive())
            m_liveValuesTimer.start();
    });
    m_status.setListener(client->listenAddresses(), client->port(), client->isListening());
    if (!client->isListening()) {
        m_listenerError = client->errorString();
        m_status.setLastError(m_listenerError);
    } else if (!m_listenerError.isEmpty() && m_status.lastError() == m_listenerError) {
        m_status.setLastError(QString());
        m_listenerError.clear();
    }
    // A new client starts with no sources and no fingers.
    publishLiveValues();
}

void AgentBus::publishLiveValues()
{
    QList<platform::AgentSource> sources;
    if (m_tuioClient) {
        for (const TuioClient::SourceStatistics& each : m_tuioClient->sourceStatistics())
            sources.append({each.name, each.committedFrames, each.lateFrames, each.malformed});
    }
    m_status.setLiveValues(m_controller ? uint(m_controller->cursorCount()) : 0, sources);
}

void AgentBus::setViewersActive(bool active)
{
    TouchFrameRecorder* recorder = active && m_controller ? &m_recorder : nullptr;
    if (m_controller)
        m_controller->setTouchRecorder(recorder);
    if (m_poster)
        m_poster->setRecorder(recorder);
    if (recorder)
        m_recorder.fingersChanged(); // the new viewer sees the fingers down now
    else
        m_recorder.clear();
}

QList<platform::TouchFinger> AgentBus::currentFingers() const
{
    QList<platform::TouchFinger> fingers;
    if (m_controller) {
        m_controller->gestures().forEachFinger([&fingers](qint32 sessionId, QPointF point) {
            fingers.append({quint32(sessionId), point});
        });
    }
    return fingers;
}
