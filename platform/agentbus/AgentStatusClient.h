#pragma once

#include "AgentStatus.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusMessage;
class QDBusServiceWatcher;

namespace platform {

class ServiceStateWatcher;

// The running agent as its settings window and tools see it: watches the name
// quillonworks.Tactalon on the session bus, reads the agent's properties when it appears
// (GetAll) and follows their PropertiesChanged, and reports the state of its user service.
// setWatchingTouches(true) registers this process as a viewer of the agent's touches (again
// after the agent restarts) and turns its TouchFrame signals into touchFrame(). Nothing here
// waits for the agent: every call is answered through the event loop.
class AgentStatusClient : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Unknown,      // the first answer has not come yet
        NoSessionBus, // nothing to ask
        NotRunning,   // nobody owns the agent's name
        Running,      // the agent owns its name; status() holds what it said
    };

    explicit AgentStatusClient(QObject* parent = nullptr); // on the session bus
    AgentStatusClient(const QDBusConnection& bus, QObject* parent);
    ~AgentStatusClient() override;

    State state() const { return m_state; }
    bool running() const { return m_state == State::Running; }
    // Why there is no session bus, or why a running agent's status could not be read; ""
    // when neither.
    QString problem() const { return m_problem; }
    // Defaults while the agent does not run.
    const AgentStatus& status() const { return m_status; }
    // The user service quillonworks.Tactalon.service: "active", "inactive", "failed", ...,
    // ServiceStateWatcher::kNoServiceManager, or "" until known.
    QString serviceState() const;

    bool watchingTouches() const { return m_watchingTouches; }
    // Registers (true) or unregisters (false) with the agent as a viewer of its touches.
    void setWatchingTouches(bool watching);

Q_SIGNALS:
    // Any of state(), problem(), status() or serviceState() changed.
    void changed();
    // The agent's TouchFrame: the fingers down and what they did since its last frame.
    void touchFrame(const QList<platform::TouchFinger>& fingers,
                    const QList<platform::TouchGesture>& gestures);
    // The agent answered a RegisterViewer (registered true) or UnregisterViewer.
    void viewerRequestAnswered(bool registered);

private Q_SLOTS:
    void propertiesChanged(const QDBusMessage& message);
    void touchFrameReceived(const QDBusMessage& message);

private:
    void ownerChanged(const QString& newOwner);
    void readAllProperties();
    void takeAllProperties(const QDBusMessage& reply);
    bool applyProperties(const QVariantMap& properties);
    void callViewerMethod(bool registering);
    void listenForTouchFrames(bool listening);
    void setState(State state, const QString& problem = {}); // the caller emits changed()

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_nameWatcher = nullptr;
    ServiceStateWatcher* m_serviceWatcher = nullptr;
    State m_state = State::Unknown;
    QString m_problem;
    AgentStatus m_status;
    bool m_watchingTouches = false;
    bool m_listeningForTouchFrames = false;
    // Counts the name's owner changes: answers that come from an earlier owner are dropped.
    quint64 m_ownerGeneration = 0;
};

} // namespace platform
