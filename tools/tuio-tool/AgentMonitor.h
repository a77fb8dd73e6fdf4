#pragma once

#include "platform/agentbus/AgentStatusClient.h"

#include <QObject>
#include <QStringList>
#include <QTextStream>

// Prints the running agent's status, a "key: value" line each, then a line per touch frame
// the agent sends its viewers:
//   fingers=[3:(812,400) 4:(900,410.5)] gestures=[right-click:(856,405)]
// Later changes of the status are printed as they come (not those of the counters, which
// change with every frame). When the agent stops it waits for the agent to start again.
class AgentMonitor : public QObject
{
    Q_OBJECT
public:
    explicit AgentMonitor(QObject* parent = nullptr);

    // Unregisters from the agent, then finished(0).
    void stop();

Q_SIGNALS:
    // 1 when there is no agent or no session bus to begin with.
    void finished(int exitCode);

private:
    static constexpr int kUnregisterTimeout = 2000; // ms

    void agentChanged();
    void printStatus();
    void printFrame(const QList<platform::TouchFinger>& fingers,
                    const QList<platform::TouchGesture>& gestures);
    QStringList statusLines() const;

    platform::AgentStatusClient m_client;
    QStringList m_printed; // the status as last printed; empty while no agent runs
    bool m_seenRunning = false;
    bool m_stopping = false;
    QTextStream m_out;
    QTextStream m_err;
};
