#pragma once

#include <QObject>
#include <QString>
#include <functional>

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
// were added. Each registration is a Qt connection with the observer as its context, so it ends
// when the observer is destroyed or removed, and a handler may add or remove observers or post
// again: one removed meanwhile is skipped, one added meanwhile waits for the next notice.
class NotificationCenter : public QObject
{
    Q_OBJECT
public:
    static NotificationCenter& defaultCenter();

    // An empty name observes every notice.
    void addObserver(QObject* observer, const QString& name, NotificationHandler handler);
    void removeObserver(QObject* observer);
    void postNotificationName(const QString& name, const QObject* object = nullptr);

Q_SIGNALS:
    void posted(const platform::Notification& notification);
};

} // namespace platform
