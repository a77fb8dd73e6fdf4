#pragma once

#include "NotificationCenter.h"

#include <QObject>
#include <QString>

namespace platform {

// Notices between the processes of the logged-in user: the D-Bus signal
// quillonworks.DistributedNotification.Posted(string name) on /quillonworks/DistributedNotification
// on the session bus. Notices arrive through the event loop of the observing thread.
// Without a session bus, one log line says so and posting and observing do nothing.
class DistributedNotificationCenter : public QObject
{
    Q_OBJECT
public:
    static DistributedNotificationCenter& defaultCenter();

    bool isConnected() const;
    void addObserver(QObject* observer, const QString& name, NotificationHandler handler);
    void removeObserver(QObject* observer);
    // The object is not sent; notices carry the name only.
    void postNotificationName(const QString& name, const QObject* object = nullptr);
};

} // namespace platform
