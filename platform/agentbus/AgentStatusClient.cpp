#include "AgentStatusClient.h"

#include "ServiceStateWatcher.h"
#include "platform/Log.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QVariantMap>
#include <cmath>

namespace platform {

namespace {

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kTouchFrame = QStringLiteral("TouchFrame");
constexpr int kReplyTimeout = 5000; // ms

QDBusMessage agentCall(const QString& interface, const QString& method,
                       const QVariantList& arguments = {})
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(kAgentService, kAgentPath, interface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false); // the service manager starts the agent, never a call
    return call;
}

bool nameHasNoOwner(const QDBusMessage& reply)
{
    return QDBusError(reply).type() == QDBusError::ServiceUnknown ||
           reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

bool finite(const QPointF& point)
{
    return std::isfinite(point.x()) && std::isfinite(point.y());
}

} // namespace

AgentStatusClient::AgentStatusClient(QObject* parent)
    : AgentStatusClient(QDBusConnection::sessionBus(), parent)
{}

AgentStatusClient::AgentStatusClient(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus)
{
    if (!m_bus.isConnected()) {
        m_state = State::NoSessionBus;
        m_problem = m_bus.lastError().message();
        return;
    }
    m_nameWatcher = new QDBusServiceWatcher(kAgentService, m_bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_nameWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                ownerChanged(newOwner);
            });
    // Matched by the name: Qt D-Bus follows its owner, so nobody else's signals get through.
    m_bus.connect(kAgentService, kAgentPath, kPropertiesInterface,
                  QStringLiteral("PropertiesChanged"), this, SLOT(propertiesChanged(QDBusMessage)));
    m_serviceWatcher = new ServiceStateWatcher(m_bus, kAgentUnit, this);
    connect(m_serviceWatcher, &ServiceStateWatcher::stateChanged, this,
            &AgentStatusClient::changed);
    readAllProperties();
}

AgentStatusClient::~AgentStatusClient()
{
    // Not waited for: the agent also lets go of viewers that leave the bus.
    if (m_watchingTouches && running())
        m_bus.send(agentCall(kAgentInterface, QStringLiteral("UnregisterViewer")));
}

QString AgentStatusClient::serviceState() const
{
    return m_serviceWatcher ? m_serviceWatcher->state() : ServiceStateWatcher::kNoServiceManager;
}

void AgentStatusClient::setWatchingTouches(bool watching)
{
    if (watching == m_watchingTouches || m_state == State::NoSessionBus)
        return;
    m_watchingTouches = watching;
    listenForTouchFrames(watching);
    if (running())
        callViewerMethod(watching);
}

void AgentStatusClient::ownerChanged(const QString& newOwner)
{
    // A new owner is a new agent: it is Running once it has answered, and has no viewers yet.
    ++m_ownerGeneration;
    m_status = {};
    setState(State::NotRunning);
    if (!newOwner.isEmpty())
        readAllProperties();
    m_serviceWatcher->refresh();
    Q_EMIT changed();
}

void AgentStatusClient::readAllProperties()
{
    const quint64 generation = m_ownerGeneration;
    auto* watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(
            agentCall(kPropertiesInterface, QStringLiteral("GetAll"), {kAgentInterface}),
            kReplyTimeout),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation == m_ownerGeneration)
            takeAllProperties(watcher->reply());
    });
}

void AgentStatusClient::takeAllProperties(const QDBusMessage& reply)
{
    if (nameHasNoOwner(reply)) {
        setState(State::NotRunning);
        Q_EMIT changed();
        return;
    }
    const bool wasRunning = running();
    m_status = {};
    if (reply.type() == QDBusMessage::ErrorMessage) {
        setState(State::Running, reply.errorMessage());
    } else if (reply.signature() != QLatin1String("a{sv}")) {
        setState(State::Running,
                 QStringLiteral("GetAll answered with type %1").arg(reply.signature()));
    } else {
        applyProperties(qdbus_cast<QVariantMap>(reply.arguments().constFirst()));
        setState(State::Running);
    }
    Q_EMIT changed();
    if (!wasRunning && m_watchingTouches)
        callViewerMethod(true);
}

bool AgentStatusClient::applyProperties(const QVariantMap& properties)
{
    bool taken = false;
    for (auto property = properties.cbegin(); property != properties.cend(); ++property) {
        switch (applyAgentProperty(m_status, property.key(), property.value())) {
        case PropertyTaken::Taken:
            taken = true;
            break;
        case PropertyTaken::WrongType:
            logLine(QStringLiteral("The agent's property %1 is not of the type it should be; "
                                   "it is ignored")
                        .arg(property.key()));
            break;
        case PropertyTaken::UnknownName: // a newer agent's: nothing to show it with
            break;
        }
    }
    return taken;
}

void AgentStatusClient::propertiesChanged(const QDBusMessage& message)
{
    const QVariantList arguments = message.arguments();
    if (message.signature() != QLatin1String("sa{sv}as") ||
        arguments.constFirst().toString() != kAgentInterface || !running())
        return;
    const bool taken = applyProperties(qdbus_cast<QVariantMap>(arguments.at(1)));
    if (!arguments.at(2).toStringList().isEmpty())
        readAllProperties(); // announced without their values
    if (taken)
        Q_EMIT changed();
}

void AgentStatusClient::touchFrameReceived(const QDBusMessage& message)
{
    if (message.signature() != QLatin1String("a(udd)a(sdd)")) {
        logLine(QStringLiteral("The agent sent a touch frame of type %1; it is ignored")
                    .arg(message.signature()));
        return;
    }
    auto fingers = qdbus_cast<QList<TouchFinger>>(message.arguments().at(0));
    auto gestures = qdbus_cast<QList<TouchGesture>>(message.arguments().at(1));
    fingers.removeIf([](const TouchFinger& finger) { return !finite(finger.position); });
    gestures.removeIf([](const TouchGesture& gesture) { return !finite(gesture.position); });
    Q_EMIT touchFrame(fingers, gestures);
}

void AgentStatusClient::callViewerMethod(bool registering)
{
    const QString method =
        registering ? QStringLiteral("RegisterViewer") : QStringLiteral("UnregisterViewer");
    auto* watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(agentCall(kAgentInterface, method), kReplyTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, registering] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ErrorMessage && !nameHasNoOwner(reply))
            logLine(
                QStringLiteral("The agent refused to %1 this viewer: %2")
                    .arg(registering ? QStringLiteral("register") : QStringLiteral("unregister"),
                         reply.errorMessage()));
        Q_EMIT viewerRequestAnswered(registering);
    });
}

void AgentStatusClient::listenForTouchFrames(bool listening)
{
    if (listening == m_listeningForTouchFrames)
        return;
    // Matched only while watching, so that another process's viewing wakes nobody else.
    m_listeningForTouchFrames =
        listening ? m_bus.connect(kAgentService, kAgentPath, kAgentInterface, kTouchFrame, this,
                                  SLOT(touchFrameReceived(QDBusMessage)))
                  : !m_bus.disconnect(kAgentService, kAgentPath, kAgentInterface, kTouchFrame, this,
                                      SLOT(touchFrameReceived(QDBusMessage)));
}

void AgentStatusClient::setState(State state, const QString& problem)
{
    m_state = state;
    m_problem = problem;
}

} // namespace platform
