#pragma once

#include <QDBusArgument>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace platform {

// The running agent on the session bus: its name, object, interface and service unit.
inline const QString kAgentService = QStringLiteral("quillonworks.Tactalon");
inline const QString kAgentPath = QStringLiteral("/quillonworks/Tactalon");
inline const QString kAgentInterface = QStringLiteral("quillonworks.Tactalon.Agent");
inline const QString kAgentUnit = QStringLiteral("quillonworks.Tactalon.service");

// One TUIO source as the agent counts it (D-Bus (sttt)).
struct AgentSource
{
    QString name; // "name@address", or the sender's address
    quint64 framesReceived = 0;
    quint64 framesLate = 0; // dropped as late
    quint64 datagramsMalformed = 0;

    friend bool operator==(const AgentSource&, const AgentSource&) = default;
};

// The properties of quillonworks.Tactalon.Agent, as last read.
struct AgentStatus
{
    QString version;
    QString eventBackend; // "uinput", "XTest" or "none"
    QString eventBackendReason;
    bool waylandSession = false;
    QStringList listenAddresses;
    int port = 0;
    bool listening = false;
    QString monitorName;   // "" when the desktop reports no names
    QRect monitorGeometry; // global display coordinates, pixels
    quint32 fingersDown = 0;
    QList<AgentSource> sources;
    QString lastError; // "" when none

    friend bool operator==(const AgentStatus&, const AgentStatus&) = default;
};

// A finger down, at its place on the mapped monitor (D-Bus (udd)): monitor pixels from its
// top-left corner, after the inversion settings, as the mouse sees it.
struct TouchFinger
{
    quint32 id = 0; // TUIO session id
    QPointF position;

    friend bool operator==(const TouchFinger&, const TouchFinger&) = default;
};

// What fingers did, and where (D-Bus (sdd)): "press", "drag", "release", "right-click",
// "scroll-up" or "scroll-down", at a point in monitor pixels.
struct TouchGesture
{
    QString kind;
    QPointF position;

    friend bool operator==(const TouchGesture&, const TouchGesture&) = default;
};

enum class PropertyTaken { Taken, UnknownName, WrongType };
// Takes one property's value as it came over the bus into `status`; `status` stays as it was
// for a name it does not hold or a value of another type than the documented one.
PropertyTaken applyAgentProperty(AgentStatus& status, const QString& name, const QVariant& value);

QDBusArgument& operator<<(QDBusArgument& argument, const AgentSource& source);
const QDBusArgument& operator>>(const QDBusArgument& argument, AgentSource& source);
QDBusArgument& operator<<(QDBusArgument& argument, const TouchFinger& finger);
const QDBusArgument& operator>>(const QDBusArgument& argument, TouchFinger& finger);
QDBusArgument& operator<<(QDBusArgument& argument, const TouchGesture& gesture);
const QDBusArgument& operator>>(const QDBusArgument& argument, TouchGesture& gesture);

// Makes the types above (and lists of them) known to Qt D-Bus, for code that sends them.
void registerAgentBusTypes();

} // namespace platform

Q_DECLARE_METATYPE(platform::AgentSource)
Q_DECLARE_METATYPE(platform::TouchFinger)
Q_DECLARE_METATYPE(platform::TouchGesture)
