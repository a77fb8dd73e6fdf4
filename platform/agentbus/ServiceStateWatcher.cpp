#include "ServiceStateWatcher.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QVariantMap>

namespace platform {

namespace {

const QString kSystemd = QStringLiteral("org.freedesktop.systemd1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
const QString kUnitInterface = QStringLiteral("org.freedesktop.systemd1.Unit");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kActiveState = QStringLiteral("ActiveState");
constexpr int kReplyTimeout = 5000; // ms

QDBusMessage systemdCall(const QString& path, const QString& interface, const QString& method,
                         const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kSystemd, path, interface, method);
    call.setArguments(arguments);
    // A session bus without systemd must not try to start one for us.
    call.setAutoStartService(false);
    return call;
}

} // namespace

ServiceStateWatcher::ServiceStateWatcher(const QDBusConnection& bus, const QString& unit,
                                         QObject* parent)
    : QObject(parent), m_bus(bus), m_unit(unit)
{
    if (!m_bus.isConnected()) {
        m_state = kNoServiceManager;
        return;
    }
    // systemd announces unit changes only while some client has subscribed; it ends our
    // subscription itself when we leave the bus.
    m_bus.send(systemdCall(kManagerPath, kManagerInterface, QStringLiteral("Subscribe"), {}));
    m_bus.connect(kSystemd, unitPath(unit), kPropertiesInterface,
                  QStringLiteral("PropertiesChanged"), this,
                  SLOT(unitPropertiesChanged(QDBusMessage)));
    refresh();
}

QString ServiceStateWatcher::unitPath(const QString& unit)
{
    QString path = QStringLiteral("/org/freedesktop/systemd1/unit/");
    for (const char byte : unit.toUtf8()) {
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9'))
            path += QLatin1Char(byte);
        else
            path += QStringLiteral("_%1").arg(uchar(byte), 2, 16, QLatin1Char('0'));
    }
    return path;
}

void ServiceStateWatcher::refresh()
{
    if (!m_bus.isConnected())
        return;
    const quint64 query = ++m_query;
    ask(systemdCall(kManagerPath, kManagerInterface, QStringLiteral("GetUnit"), {m_unit}), query,
        [this, query](const QDBusMessage& reply) {
            if (reply.type() != QDBusMessage::ReplyMessage)
                setState(reply.errorName() == QStringLiteral("org.freedesktop.systemd1.NoSuchUnit")
                             ? QStringLiteral("inactive") // what systemctl is-active says too
                             : kNoServiceManager);
            else if (const auto path = reply.arguments().value(0).value<QDBusObjectPath>();
                     !path.path().isEmpty())
                readActiveState(path.path(), query);
            else
                setState(kNoServiceManager);
        });
}

void ServiceStateWatcher::readActiveState(const QString& path, quint64 query)
{
    ask(systemdCall(path, kPropertiesInterface, QStringLiteral("Get"),
                    {kUnitInterface, kActiveState}),
        query, [this](const QDBusMessage& reply) {
            const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
            setState(value.metaType() == QMetaType::fromType<QString>() ? value.toString()
                                                                        : kNoServiceManager);
        });
}

void ServiceStateWatcher::ask(const QDBusMessage& call, quint64 query,
                              std::function<void(const QDBusMessage&)> answered)
{
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kReplyTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, query, answered = std::move(answered)] {
                watcher->deleteLater();
                if (query == m_query)
                    answered(watcher->reply());
            });
}

void ServiceStateWatcher::unitPropertiesChanged(const QDBusMessage& message)
{
    const QVariantList arguments = message.arguments();
    if (message.signature() != QLatin1String("sa{sv}as") ||
        arguments.value(0).toString() != kUnitInterface)
        return;
    const QVariant state = qdbus_cast<QVariantMap>(arguments.value(1)).value(kActiveState);
    if (state.metaType() == QMetaType::fromType<QString>()) {
        ++m_query; // newer than any answer still on its way
        setState(state.toString());
    } else if (arguments.value(2).toStringList().contains(kActiveState)) {
        refresh();
    }
}

void ServiceStateWatcher::setState(const QString& state)
{
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(m_state);
}

} // namespace platform
