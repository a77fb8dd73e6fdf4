#include "NotificationCenter.h"

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
    // Direct: the handler runs on the posting thread, before the post returns.
    connect(
        this, &NotificationCenter::posted, observer ? observer : this,
        [name, handler = std::move(handler)](const Notification& notification) {
            if (name.isEmpty() || notification.name == name)
                handler(notification);
        },
        Qt::DirectConnection);
}

void NotificationCenter::removeObserver(QObject* observer)
{
    if (observer)
        disconnect(this, &NotificationCenter::posted, observer, nullptr);
}

void NotificationCenter::postNotificationName(const QString& name, const QObject* object)
{
    Q_EMIT posted(Notification{name, object});
}

} // namespace platform
