#include "AgentStatus.h"

#include <QDBusMetaType>
#include <functional>

namespace platform {

namespace {

template <typename T> bool takeBasic(const QVariant& value, T& field)
{
    if (value.metaType() != QMetaType::fromType<T>())
        return false;
    field = value.value<T>();
    return true;
}

// Values of container types arrive unread, as a QDBusArgument: read them only when their
// signature is the one documented, so that a wrong type cannot be half read.
template <typename T> bool takeComposite(const QVariant& value, const char* signature, T& field)
{
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return false;
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String(signature))
        return false;
    T read;
    argument >> read;
    field = std::move(read);
    return true;
}

using Taker = std::function<bool(AgentStatus&, const QVariant&)>;

const QHash<QString, Taker>& takers()
{
    static const QHash<QString, Taker> table = {
        {QStringLiteral("Version"),
         [](AgentStatus& s, const QVariant& v) { return takeBasic(v, s.version); }},
        {QStringLiteral("EventBackend"),
         [](AgentStatus& s, const QVariant& v) { return takeBasic(v, s.eventBackend); }},
        {QStringLiteral("EventBackendReason"),
         [](AgentStatus& s, const QVariant& v) { return takeBasic(v, s.eventBackendReason); }},
        {QStringLiteral("WaylandSession"),
         [](AgentStatus& s, const QVariant& v) { return takeBasic(v, s.waylandSession); }},
        {QStringLiteral("ListenAddresses"),
         [](AgentStatus& s, const QVariant& v) { return takeBasic(v, s.listenAddresses); }},
        {QStringLiteral("Port"),
         [](AgentStatus& s, const QVariant& v) { return takeBasic(v, s.port); }},
        {QStringLiteral("Listening"),
         [](AgentStatus& s, const QVariant& v) { return takeBasic(v, s.listening); }},
        {QStringLiteral("MonitorName"),
         [](AgentStatus& s, const QVariant& v) { return takeBasic(v, s.monitorName); }},
        {QStringLiteral("MonitorGeometry"),
         [](AgentStatus& s, const QVariant& v) {
             return takeComposite(v, "(iiii)", s.monitorGeometry);
         }},
        {QStringLiteral("FingersDown"),
         [](AgentStatus& s, const QVariant& v) { return takeBasic(v, s.fingersDown); }},
        {QStringLiteral("Sources"),
         [](AgentStatus& s, const QVariant& v) { return takeComposite(v, "a(sttt)", s.sources); }},
        {QStringLiteral("LastError"),
         [](AgentStatus& s, const QVariant& v) { return takeBasic(v, s.lastError); }},
    };
    return table;
}

} // namespace

PropertyTaken applyAgentProperty(AgentStatus& status, const QString& name, const QVariant& value)
{
    const auto taker = takers().constFind(name);
    if (taker == takers().constEnd())
        return PropertyTaken::UnknownName;
    return (*taker)(status, value) ? PropertyTaken::Taken : PropertyTaken::WrongType;
}

QDBusArgument& operator<<(QDBusArgument& argument, const AgentSource& source)
{
    argument.beginStructure();
    argument << source.name << qulonglong(source.framesReceived) << qulonglong(source.framesLate)
             << qulonglong(source.datagramsMalformed);
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, AgentSource& source)
{
    qulonglong received = 0;
    qulonglong late = 0;
    qulonglong malformed = 0;
    argument.beginStructure();
    argument >> source.name >> received >> late >> malformed;
    argument.endStructure();
    source.framesReceived = received;
    source.framesLate = late;
    source.datagramsMalformed = malformed;
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const TouchFinger& finger)
{
    argument.beginStructure();
    argument << uint(finger.id) << finger.position.x() << finger.position.y();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TouchFinger& finger)
{
    uint id = 0;
    double x = 0;
    double y = 0;
    argument.beginStructure();
    argument >> id >> x >> y;
    argument.endStructure();
    finger = {id, {x, y}};
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const TouchGesture& gesture)
{
    argument.beginStructure();
    argument << gesture.kind << gesture.position.x() << gesture.position.y();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TouchGesture& gesture)
{
    double x = 0;
    double y = 0;
    argument.beginStructure();
    argument >> gesture.kind >> x >> y;
    argument.endStructure();
    gesture.position = {x, y};
    return argument;
}

void registerAgentBusTypes()
{
    qDBusRegisterMetaType<AgentSource>();
    qDBusRegisterMetaType<QList<AgentSource>>();
    qDBusRegisterMetaType<TouchFinger>();
    qDBusRegisterMetaType<QList<TouchFinger>>();
    qDBusRegisterMetaType<TouchGesture>();
    qDBusRegisterMetaType<QList<TouchGesture>>();
}

} // namespace platform
