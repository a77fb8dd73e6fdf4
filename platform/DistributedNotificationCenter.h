#pragma once

#include "NotificationCenter.h"

#include <QDBusConnection>
#include <QObject>
#include <QSet>
#include <QString>

namespace platform {

// Notices between the processes of the logged-in user: the D-Bus signal
// quillonworks.DistributedNotification.Posted(string name) on /quillonworks/DistributedNotification
// on the session bus. Notices arrive through the event loop of the observing thread. As with the
// in-process centre, a registration is a Qt connection with the observer as its context.
// Without a session bus, one log line says so and posting and observing do nothing.
class DistributedNotificationCenter : public QObject
{
    Q_OBJECT
public:
    static DistributedNotificationCenter& defaultCenter();

    bool isConnected() const;
    // An empty name observes every notice.
    void addObserver(QObject* observer, const QString& name, NotificationHandler handler);
    void removeObserver(QObject* observer);
    // The object is not sent; notices carry the name only.
    void postNotificationName(const QString& name, const QObject* object = nullptr);

Q_SIGNALS:
    // A notice that came through the bus match of its name, or through the match of all names.
    void received(const QString& name, bool throughMatchOfAll);

private:
    DistributedNotificationCenter();
    void listenFor(const QString& name);

private Q_SLOTS:
    // One bus match per observed name (arg0 = name), one without a match for observers of all.
    void postedNamed(const QString& name);
    void postedToAll(const QString& name);

private:
    QDBusConnection m_bus;
    // Names whose bus match is in place. A match stays once made: these programs observe a
    // couple of names for their whole life, and an unobserved notice costs one filtered call.
    QSet<QString> m_listening;
};

} // namespace platform
