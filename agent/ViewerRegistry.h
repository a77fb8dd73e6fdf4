#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QSet>
#include <QString>

// The bus clients that asked for touch frames, by unique name. A client that leaves the bus
// (ends, crashes, closes its connection) is dropped as if it had unregistered.
class ViewerRegistry : public QObject
{
    Q_OBJECT
public:
    explicit ViewerRegistry(const QDBusConnection& bus, QObject* parent = nullptr);

    void add(const QString& uniqueName);
    void remove(const QString& uniqueName);
    bool isEmpty() const { return m_names.isEmpty(); }

signals:
    // The first viewer came (true) or the last one went (false).
    void activeChanged(bool active);

private:
    QDBusConnection m_bus;
    QDBusServiceWatcher m_watcher;
    QSet<QString> m_names;
};
