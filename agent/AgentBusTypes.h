#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>

// The structures the agent's bus interface carries (see docs/agent-bus.md), with their D-Bus
// marshalling. registerAgentBusTypes() must run before they cross the bus.

// Sources: a(sttt), one TUIO source and what became of its input.
struct SourceStatus
{
    QString name; // "name@address" or the sender's address
    quint64 frames = 0;
    quint64 lateFrames = 0;
    quint64 malformed = 0; // datagrams

    friend bool operator==(const SourceStatus&, const SourceStatus&) = default;
};

// TouchFrame fingers: a(udd), a finger by TUIO session id, in monitor pixels.
struct TouchFinger
{
    quint32 sessionId = 0;
    double x = 0;
    double y = 0;
};

// TouchFrame gestures: a(sdd), "press", "drag", "release", "right-click", "scroll-up" or
// "scroll-down" at a point in monitor pixels.
struct TouchGesture
{
    QString kind;
    double x = 0;
    double y = 0;
};

Q_DECLARE_METATYPE(SourceStatus)
Q_DECLARE_METATYPE(TouchFinger)
Q_DECLARE_METATYPE(TouchGesture)

QDBusArgument& operator<<(QDBusArgument& argument, const SourceStatus& source);
const QDBusArgument& operator>>(const QDBusArgument& argument, SourceStatus& source);
QDBusArgument& operator<<(QDBusArgument& argument, const TouchFinger& finger);
const QDBusArgument& operator>>(const QDBusArgument& argument, TouchFinger& finger);
QDBusArgument& operator<<(QDBusArgument& argument, const TouchGesture& gesture);
const QDBusArgument& operator>>(const QDBusArgument& argument, TouchGesture& gesture);

// Registers the three structures and their lists with Qt's D-Bus type system; idempotent.
void registerAgentBusTypes();
