#include "ViewerRegistry.h"

#include <QDBusConnectionInterface>

ViewerRegistry::ViewerRegistry(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus),
      m_watcher(QString(), m_bus, QDBusServiceWatcher::WatchForUnregistration)
{
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &ViewerRegistry::remove);
}

void ViewerRegistry::add(const QString& uniqueName)
{
    if (uniqueName.isEmpty() || m_names.contains(uniqueName))
        return;
    m_watcher.addWatchedService(uniqueName);
    // A client that left between its call and the watch would never be seen leaving: the bus
    // answers this question after it has taken in the watch.
    if (!m_bus.interface()->isServiceRegistered(uniqueName).value()) {
        m_watcher.removeWatchedService(uniqueName);
        return;
    }
    m_names.insert(uniqueName);
    if (m_names.size() == 1)
        emit activeChanged(true);
}

void ViewerRegistry::remove(const QString& uniqueName)
{
    if (!m_names.remove(uniqueName))
        return;
    m_watcher.removeWatchedService(uniqueName);
    if (m_names.isEmpty())
        emit activeChanged(false);
}
