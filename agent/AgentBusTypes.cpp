#include "AgentBusTypes.h"

#include <QDBusMetaType>

QDBusArgument& operator<<(QDBusArgument& argument, const SourceStatus& source)
{
    argument.beginStructure();
    argument << source.name << source.frames << source.lateFrames << source.malformed;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SourceStatus& source)
{
    argument.beginStructure();
    argument >> source.name >> source.frames >> source.lateFrames >> source.malformed;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const TouchFinger& finger)
{
    argument.beginStructure();
    argument << finger.sessionId << finger.x << finger.y;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TouchFinger& finger)
{
    argument.beginStructure();
    argument >> finger.sessionId >> finger.x >> finger.y;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const TouchGesture& gesture)
{
    argument.beginStructure();
    argument << gesture.kind << gesture.x << gesture.y;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TouchGesture& gesture)
{
    argument.beginStructure();
    argument >> gesture.kind >> gesture.x >> gesture.y;
    argument.endStructure();
    return argument;
}

void registerAgentBusTypes()
{
    qDBusRegisterMetaType<SourceStatus>();
    qDBusRegisterMetaType<QList<SourceStatus>>();
    qDBusRegisterMetaType<TouchFinger>();
    qDBusRegisterMetaType<QList<TouchFinger>>();
    qDBusRegisterMetaType<TouchGesture>();
    qDBusRegisterMetaType<QList<TouchGesture>>();
}
