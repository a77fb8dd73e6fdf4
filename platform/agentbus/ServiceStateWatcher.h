#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

class QDBusMessage;

class QDBusMessage;

namespace platform {

// The state of one unit of the user's service manager, read from systemd on the session bus
// (org.freedesktop.systemd1: GetUnit, then the unit's ActiveState) and followed through the
// unit's PropertiesChanged. state() is systemd's word ("active", "inactive", "failed",
// "activating", "deactivating", ...), "inactive" for a unit systemd has not loaded, and
// kNoServiceManager when no systemd answers on the bus; empty until the first answer.
// Nothing here waits for a reply.
class ServiceStateWatcher : public QObject
{
    Q_OBJECT
public:
    static inline const QString kNoServiceManager = QStringLiteral("no service manager");

    ServiceStateWatcher(const QDBusConnection& bus, const QString& unit, QObject* parent = nullptr);

    QString state() const { return m_state; }
    // Asks systemd again; stateChanged() follows if the answer differs.
    void refresh();

    // systemd's object path of a unit: its name with every byte other than [A-Za-z0-9]
    // written as _xx (hex).
    static QString unitPath(const QString& unit);

Q_SIGNALS:
    void stateChanged(const QString& state);

private Q_SLOTS:
    void unitPropertiesChanged(const QDBusMessage& message);

private:
    void readActiveState(const QString& path, quint64 query);
    // Sends `call` without waiting; `answered` gets the reply unless a newer query began since.
    void ask(const QDBusMessage& call, quint64 query,
             std::function<void(const QDBusMessage&)> answered);
    void setState(const QString& state);

    QDBusConnection m_bus;
    QString m_unit;
    QString m_state;
    quint64 m_query = 0; // answers to an older query than this are stale
};

} // namespace platform
