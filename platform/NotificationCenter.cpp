#include "NotificationCenter.h"

#include <QMutexLocker>
#include <algorithm>

namespace platform {

QString Notification::description() const
{
    return QStringLiteral("Notification 0x%1 {name = %2}").arg(quintptr(object), 0, 16).arg(name);
}

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(QObject* observer, const QString& name,
                                     NotificationHandler handler)
{
    if (!handler)
        return;
    QMutexLocker lock(&m_mutex);
    m_registrations.push_back({observer, name, std::move(handler), m_nextId++});
    watchForDestruction(observer);
}

void NotificationCenter::removeObserver(QObject* observer)
{
    forget(observer);
}

void NotificationCenter::postNotificationName(const QString& name, const QObject* object)
{
    const Notification notification{name, object};
    std::vector<quint64> recipients;
    {
        QMutexLocker lock(&m_mutex);
        for (const Registration& registration : m_registrations) {
            if (registration.name.isEmpty() || registration.name == name)
                recipients.push_back(registration.id);
        }
    }
    // A handler may add or remove observers, or post again: each recipient is looked up afresh,
    // so one removed meanwhile is skipped and one added meanwhile waits for the next notice.
    for (const quint64 id : recipients) {
        NotificationHandler handler;
        {
            QMutexLocker lock(&m_mutex);
            const auto found = std::find_if(
                m_registrations.begin(), m_registrations.end(),
                [id](const Registration& registration) { return registration.id == id; });
            if (found == m_registrations.end())
                continue;
            handler = found->handler;
        }
        handler(notification);
    }
}

// Called with m_mutex held.
void NotificationCenter::watchForDestruction(QObject* observer)
{
    if (!observer || m_destructionWatches.count(observer))
        return;
    // Direct, so that the registrations are gone before the address can be reused.
    m_destructionWatches[observer] = connect(
        observer, &QObject::destroyed, this, [this, observer] { forget(observer); },
        Qt::DirectConnection);
}

void NotificationCenter::forget(QObject* observer)
{
    QMutexLocker lock(&m_mutex);
    std::erase_if(m_registrations, [observer](const Registration& registration) {
        return registration.observer == observer;
    });
    const auto watch = m_destructionWatches.find(observer);
    if (watch != m_destructionWatches.end()) {
        disconnect(watch->second);
        m_destructionWatches.erase(watch);
    }
}

} // namespace platform
