#pragma once

#include <QObject>
#include <csignal>
#include <memory>

class QSocketNotifier;

namespace platform {

// Turns the signals that would end the process on the spot into the Qt signal
// terminationRequested, delivered on the event loop of the watcher's thread: the handler itself
// only writes the signal's number into a pipe, the one thing that is safe to do there. Not
// watched: SIGKILL and SIGSTOP, which cannot be; the signals of a fault (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGABRT, SIGTRAP, SIGSYS), after which the process cannot safely go on; SIGPROF, which
// profilers use; and SIGPIPE, better ignored, so that a write to a closed pipe fails with EPIPE
// where it is made. The previous handlers come back when the watcher is destroyed. One watcher
// at a time receives the signals: a newer one takes over and hands back when it goes (destroy
// watchers in the reverse order of their making).
class UnixSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignalWatcher(QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

    // False when the pipe or a handler could not be set up; no signal is watched then.
    bool isWatching() const { return m_watching; }

signals:
    void terminationRequested(int signal);

private:
    void readSignals();
    void restoreHandlers();

    // SIGXCPU and SIGXFSZ: a soft CPU-time or file-size limit reached.
    static constexpr int watchedSignals[] = {SIGTERM, SIGINT,  SIGHUP,  SIGQUIT, SIGUSR1,
                                             SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ};

    int m_readFd = -1;
    int m_writeFd = -1;
    int m_previousWriteFd = -1;
    struct sigaction m_previousActions[std::size(watchedSignals)] = {};
    bool m_watching = false;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace platform
