#pragma once

#include "NotificationCenter.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <map>
#include <vector>

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

private:
    DistributedNotificationCenter();

    struct Registration
    {
        QObject* observer;
        QString name;
        NotificationHandler handler;
        quint64 id;
    };
    void listenFor(const QString& name);
    void stopListeningFor(const QString& name);
    void forget(QObject* observer);
    void deliver(const QString& postedName, bool toObserversOfAll);

private Q_SLOTS:
    // One bus match per observed name (arg0 = name), one without a match for observers of all.
    void postedNamed(const QString& name);
    void postedToAll(const QString& name);

private:
    QDBusConnection m_bus;
    std::vector<Registration> m_registrations;
    std::map<QString, int> m_listeners; // name -> registrations using its bus match
    std::map<QObject*, QMetaObject::Connection> m_destructionWatches;
    quint64 m_nextId = 1;
};

} // namespace platform
