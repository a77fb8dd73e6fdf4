#pragma once

#include <QWidget>

class QFormLayout;
class QLabel;

namespace platform {
class AgentStatusClient;
}

// What the running agent says about itself, kept up to date: whether it runs and its service's
// state, how it posts input (with a hint in plain words when clicks cannot reach every
// window), where it listens, the monitor touches map to, fingers down and frames per tracker,
// and the last error. Drop it into any layout: new AgentStatusPanel(client, parent).
class AgentStatusPanel : public QWidget
{
    Q_OBJECT
public:
    explicit AgentStatusPanel(platform::AgentStatusClient* client, QWidget* parent = nullptr);

    // The line of a row, by its object name: "agent", "service", "input", "hint", "listening",
    // "monitor", "fingers", "trackers", "error". For tests and for hosts that rearrange rows.
    QLabel* line(const QString& name) const;

private:
    QLabel* addRow(const QString& title, const QString& name);
    void setRow(QLabel* line, const QString& text);
    void refresh();
    void updateAgentRows();
    QString agentText() const;
    QString serviceText() const;
    QString inputHint() const;
    QString trackersText() const;

    platform::AgentStatusClient* m_client;
    QFormLayout* m_layout;
    QLabel* m_agent;
    QLabel* m_service;
    QLabel* m_input;
    QLabel* m_hint;
    QLabel* m_listening;
    QLabel* m_monitor;
    QLabel* m_fingers;
    QLabel* m_trackers;
    QLabel* m_error;
};
