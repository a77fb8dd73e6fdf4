#pragma once

#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>

// Runs the bundle's launcher tool once per verb ("unload", "load") on the launch-agent file,
// one run after the other, on the event loop: nothing waits for it. Each run's standard output
// and error go on to this process's own (the journal under the service manager, the terminal
// otherwise); the error output is also kept, so that a failure can be told in plain words.
class LauncherRun : public QObject
{
    Q_OBJECT
public:
    enum class FailureKind { Missing, NotStartable, ExitStatus, Crashed, TimedOut };
    struct Failure
    {
        QString verb;
        FailureKind kind = FailureKind::ExitStatus;
        int exitStatus = 0;
        QString detail; // the last line of its error output, or why it could not start
    };

    LauncherRun(const QString& toolPath, const QString& propertyListPath,
                std::chrono::milliseconds timeout, QObject* parent = nullptr);
    ~LauncherRun() override;

    // Runs the verbs in order. A tool that cannot be started ends the sequence: every later
    // run would fail the same way.
    void start(const QStringList& verbs);
    bool isRunning() const { return m_process != nullptr; }

signals:
    // Once all runs are over; empty when each exited with status 0.
    void finished(const QList<LauncherRun::Failure>& failures);

private:
    void startNext();
    void forwardErrorOutput();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onErrorOccurred(QProcess::ProcessError error);
    void onTimeout();
    void endRun(bool continueWithNext);
    void fail(FailureKind kind, const QString& detail, int exitStatus = 0);
    QString lastErrorLine() const;

    QString m_toolPath;
    QString m_propertyListPath;
    QTimer m_timer;
    QStringList m_pending;
    QString m_verb;
    QProcess* m_process = nullptr;
    QByteArray m_errorOutput; // the latest few KiB of the running tool's
    bool m_timedOut = false;
    QList<Failure> m_failures;
};
