#pragma once

#include "AgentStatus.h"
#include "GestureObservingPoster.h"
#include "TouchFrameRecorder.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

class Tactalon_Controller;
class TuioClient;

// The agent on the session bus: it owns the name quillonworks.Tactalon, which also keeps a
// second agent of the same user from running, and publishes the agent's status (AgentStatus)
// from the parts that know it. Made before anything opens a port or a device. Without a
// session bus it says so in one line and the agent runs as before.
class AgentBus : public QObject
{
    Q_OBJECT
public:
    // FingersDown and Sources change with every frame: announced at most this often.
    static constexpr int kLiveValuesIntervalMs = 500;

    enum class Claim {
        Owned,          // this agent holds the name
        AlreadyRunning, // another agent of the user holds it: this one must end
        NoBus,          // no session bus, or the bus refused: the agent goes on unpublished
    };

    explicit AgentBus(QObject* parent = nullptr);

    Claim claim() const { return m_claim; }

    void setEventBackend(const QString& name, const QString& reason, bool waylandSession);
    // The monitor touches are mapped to: `name` "" when the desktop reports none.
    void setMonitor(const QString& name, const QRect& geometry);
    // Publishes what the controller does from now on; `poster` is the one it posts through.
    void follow(Tactalon_Controller& controller, GestureObservingPoster& poster);

private:
    Claim claimName();
    void takeInTuioClient();
    void publishLiveValues();
    void setViewersActive(bool active);
    QList<platform::TouchFinger> currentFingers() const;

    QDBusConnection m_bus;
    AgentStatus m_status;
    TouchFrameRecorder m_recorder;
    Claim m_claim = Claim::NoBus;
    QPointer<Tactalon_Controller> m_controller;
    GestureObservingPoster* m_poster = nullptr;
    QPointer<TuioClient> m_tuioClient;
    QTimer m_liveValuesTimer;
    QString m_listenerError; // the LastError the listener set, cleared when it listens again
};
