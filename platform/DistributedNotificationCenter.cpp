#include "DistributedNotificationCenter.h"

#include "Log.h"

#include <QDBusError>
#include <QDBusMessage>

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
    listenFor(name);
    const bool ofAll = name.isEmpty();
    connect(
        this, &DistributedNotificationCenter::received, observer ? observer : this,
        [name, ofAll, handler = std::move(handler)](const QString& posted, bool throughMatchOfAll) {
            // A notice comes once through each match it fits: take it through ours only.
            if (throughMatchOfAll == ofAll && (ofAll || posted == name))
                handler(Notification{posted, nullptr});
        });
}

void DistributedNotificationCenter::removeObserver(QObject* observer)
{
    if (observer)
        disconnect(this, &DistributedNotificationCenter::received, observer, nullptr);
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
    if (m_listening.contains(name))
        return;
    const bool connected = name.isEmpty()
                               ? m_bus.connect(QString(), kPath, kInterface, kSignal, {},
                                               kSignature, this, SLOT(postedToAll(QString)))
                               : m_bus.connect(QString(), kPath, kInterface, kSignal, {name},
                                               kSignature, this, SLOT(postedNamed(QString)));
    if (connected)
        m_listening.insert(name);
    else
        logLine(QStringLiteral("Could not observe \"%1\" on the session bus: %2")
                    .arg(name, m_bus.lastError().message()));
}

void DistributedNotificationCenter::postedNamed(const QString& name)
{
    Q_EMIT received(name, false);
}

void DistributedNotificationCenter::postedToAll(const QString& name)
{
    Q_EMIT received(name, true);
}

} // namespace platform
