#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QSignalSpy>
#include <QStringList>

// Watches the distributed notices on the session bus, as any other process of the user would,
// and tells when everything posted so far has arrived.
class NoticeWatcher : public QObject
{
    Q_OBJECT
public:
    NoticeWatcher()
    {
        m_connected = QDBusConnection::sessionBus().connect(QString(), path(), interface(),
                                                            QStringLiteral("Posted"), this,
                                                            SLOT(onPosted(QString)));
    }

    static QString path() { return QStringLiteral("/quillonworks/DistributedNotification"); }
    static QString interface() { return QStringLiteral("quillonworks.DistributedNotification"); }

    static bool post(const QString& name)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal(path(), interface(), QStringLiteral("Posted"));
        signal << name;
        return QDBusConnection::sessionBus().send(signal);
    }

    bool isConnected() const { return m_connected; }
    int count(const QString& name) const { return int(m_names.count(name)); }
    void clear() { m_names.clear(); }

    // Posts a marker of its own and waits for it: notices posted before it, from this
    // process, have arrived by then (the bus keeps one sender's messages in order).
    bool settle()
    {
        const QString marker = QStringLiteral("TactalonTestMarker%1").arg(++m_markers);
        QSignalSpy spy(this, &NoticeWatcher::posted);
        if (!post(marker))
            return false;
        while (!m_names.contains(marker)) {
            if (!spy.wait(10000))
                return false;
        }
        return true;
    }

signals:
    void posted(const QString& name);

private slots:
    void onPosted(const QString& name)
    {
        m_names.append(name);
        emit posted(name);
    }

private:
    bool m_connected = false;
    int m_markers = 0;
    QStringList m_names;
};
