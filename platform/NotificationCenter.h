#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <vector>

namespace platform {

struct Notification
{
    QString name;
    const QObject* object = nullptr;

    // The form a log line shows, with the sender's address (0x0 for none), e.g.
    //   Notification 0x0 {name = QuillonworksTactalonPortDidChangeNotification}
    QString description() const;
};

using NotificationHandler = std::function<void(const Notification&)>;

// In-process notices, delivered synchronously on the posting thread in the order observers
// were added. An observer's registrations end when it is destroyed or removed.
class NotificationCenter : public QObject
{
    Q_OBJECT
public:
    static NotificationCenter& defaultCenter();

    // An empty name observes every notice.
    void addObserver(QObject* observer, const QString& name, NotificationHandler handler);
    void removeObserver(QObject* observer);
    void postNotificationName(const QString& name, const QObject* object = nullptr);

private:
    struct Registration
    {
        QObject* observer;
        QString name;
        NotificationHandler handler;
        quint64 id; // tells a registration still in place from one removed during delivery
    };
    void watchForDestruction(QObject* observer);
    void forget(QObject* observer);

    mutable QMutex m_mutex; // posts may come from any thread
    std::vector<Registration> m_registrations;
    std::map<QObject*, QMetaObject::Connection> m_destructionWatches;
    quint64 m_nextId = 1;
};

} // namespace platform
