#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QStringList>

// Watches the distributed notices on the session bus, as another process of the user would.
class NoticeWatcher : public QObject
{
    Q_OBJECT
public:
    NoticeWatcher()
    {
        m_connected = QDBusConnection::sessionBus().connect(
            {}, QStringLiteral("/quillonworks/DistributedNotification"),
            QStringLiteral("quillonworks.DistributedNotification"), QStringLiteral("Posted"), this,
            SLOT(onPosted(QString)));
    }

    static bool post(const QString& name)
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/quillonworks/DistributedNotification"),
            QStringLiteral("quillonworks.DistributedNotification"), QStringLiteral("Posted"));
        return QDBusConnection::sessionBus().send(signal << name);
    }

    bool isConnected() const { return m_connected; }
    int count(const QString& name) const { return int(m_names.count(name)); }
    void clear() { m_names.clear(); }

    // Posts a marker and waits for it. The bus keeps one sender's messages in order and this
    // process delivers them in order, so everything this process posted before has been
    // delivered to every observer in it by then.
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
