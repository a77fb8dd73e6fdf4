#include "platform/MonitorChoice.h"

#include <QStringList>
#include <algorithm>

namespace platform {

namespace {

Monitor mainScreen(const QList<Monitor>& monitors)
{
    const auto primary = std::ranges::find_if(monitors, &Monitor::primary);
    if (primary != monitors.end())
        return *primary;
    return monitors.value(0);
}

QString names(const QList<Monitor>& monitors)
{
    QStringList result;
    for (const Monitor& monitor : monitors)
        result << monitor.name;
    return result.join(QStringLiteral(", "));
}

} // namespace

MonitorChoice chooseMonitor(const QList<Monitor>& monitors, const QString& outputName)
{
    if (!outputName.isEmpty()) {
        const auto named = std::ranges::find(monitors, outputName, &Monitor::name);
        if (named != monitors.end())
            return {*named, {}};
    }
    MonitorChoice choice{mainScreen(monitors), {}};
    if (!outputName.isEmpty() && !monitors.isEmpty()) {
        choice.notice = QStringLiteral("No monitor named \"%1\": touches go to the main screen "
                                       "%2. Monitors: %3")
                            .arg(outputName, choice.monitor.name, names(monitors));
    }
    return choice;
}

QRect desktopBounds(const QList<Monitor>& monitors)
{
    QRect bounds;
    for (const Monitor& monitor : monitors)
        bounds |= monitor.geometry;
    return bounds;
}

} // namespace platform
