#include "DistributedNotificationCenter.h"

#include "Log.h"

#include <QDBusError>
#include <QDBusMessage>
#include <algorithm>

namespace platform {

namespace {

const QString kPath = QStringLiteral("/quillonworks/DistributedNotification");
const QString kInterface = QStringLiteral("quillonworks.DistributedNotification");
const QString kSignal = QStringLiteral("Posted");
const QString kSignature = QStringLiteral("s"); // signals with other arguments are not ours

} // namespace

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter()
{
    static DistributedNotificationCenter center;
    return center;
}

DistributedNotificationCenter::DistributedNotificationCenter()
    : m_bus(QDBusConnection::sessionBus())
{
    if (!m_bus.isConnected())
        logLine(QStringLiteral("No D-Bus session bus (%1): settings changes from other programs "
                               "will not be noticed, nor sent to them")
                    .arg(m_bus.lastError().message()));
}

bool DistributedNotificationCenter::isConnected() const
{
    return m_bus.isConnected();
}

void DistributedNotificationCenter::addObserver(QObject* observer, const QString& name,
                                                NotificationHandler handler)
{
    if (!handler || !isConnected())
        return;
    m_registrations.push_back({observer, name, std::move(handler), m_nextId++});
    listenFor(name);
    if (observer && !m_destructionWatches.count(observer)) {
        m_destructionWatches[observer] = connect(
            observer, &QObject::destroyed, this, [this, observer] { forget(observer); },
            Qt::DirectConnection);
    }
}

void DistributedNotificationCenter::removeObserver(QObject* observer)
{
    forget(observer);
}

void DistributedNotificationCenter::postNotificationName(const QString& name, const QObject*)
{
    if (!isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, kSignal);
    signal << name;
    if (!m_bus.send(signal))
        logLine(QStringLiteral("Could not post \"%1\" on the session bus: %2")
                    .arg(name, m_bus.lastError().message()));
}

void DistributedNotificationCenter::listenFor(const QString& name)
{
    if (++m_listeners[name] > 1)
        return;
    const bool connected = name.isEmpty()
                               ? m_bus.connect(QString(), kPath, kInterface, kSignal, {},
                                               kSignature, this, SLOT(postedToAll(QString)))
                               : m_bus.connect(QString(), kPath, kInterface, kSignal, {name},
                                               kSignature, this, SLOT(postedNamed(QString)));
    if (!connected)
        logLine(QStringLiteral("Could not observe \"%1\" on the session bus: %2")
                    .arg(name, m_bus.lastError().message()));
}

void DistributedNotificationCenter::stopListeningFor(const QString& name)
{
    const auto listener = m_listeners.find(name);
    if (listener == m_listeners.end() || --listener->second > 0)
        return;
    m_listeners.erase(listener);
    if (name.isEmpty())
        m_bus.disconnect(QString(), kPath, kInterface, kSignal, {}, kSignature, this,
                         SLOT(postedToAll(QString)));
    else
        m_bus.disconnect(QString(), kPath, kInterface, kSignal, {name}, kSignature, this,
                         SLOT(postedNamed(QString)));
}

void DistributedNotificationCenter::forget(QObject* observer)
{
    QStringList released;
    std::erase_if(m_registrations, [&](const Registration& registration) {
        if (registration.observer != observer)
            return false;
        released.append(registration.name);
        return true;
    });
    for (const QString& name : released)
        stopListeningFor(name);
    const auto watch = m_destructionWatches.find(observer);
    if (watch != m_destructionWatches.end()) {
        disconnect(watch->second);
        m_destructionWatches.erase(watch);
    }
}

void DistributedNotificationCenter::postedNamed(const QString& name)
{
    deliver(name, false);
}

void DistributedNotificationCenter::postedToAll(const QString& name)
{
    deliver(name, true);
}

void DistributedNotificationCenter::deliver(const QString& postedName, bool toObserversOfAll)
{
    const Notification notification{postedName, nullptr};
    std::vector<quint64> recipients;
    for (const Registration& registration : m_registrations) {
        if (toObserversOfAll ? registration.name.isEmpty() : registration.name == postedName)
            recipients.push_back(registration.id);
    }
    // Looked up afresh before each call: a handler may remove observers or add new ones.
    for (const quint64 id : recipients) {
        const auto found =
            std::find_if(m_registrations.begin(), m_registrations.end(),
                         [id](const Registration& registration) { return registration.id == id; });
        if (found == m_registrations.end())
            continue;
        const NotificationHandler handler = found->handler;
        handler(notification);
    }
}

} // namespace platform
