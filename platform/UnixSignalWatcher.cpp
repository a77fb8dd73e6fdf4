#include "platform/UnixSignalWatcher.h"

#include <QPointer>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// The write end of the current watcher's pipe, for the handler; -1 when none watches.
std::atomic<int> signalPipeWriteFd{-1};

void writeSignalNumber(int signal)
{
    const int savedErrno = errno;
    const int fd = signalPipeWriteFd.load();
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // A full pipe already holds a pending termination request: losing this one is harmless.
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(QObject* parent) : QObject(parent)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readFd = fds[0];
    m_writeFd = fds[1];
    m_previousWriteFd = signalPipeWriteFd.exchange(m_writeFd);

    struct sigaction action = {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool installed = true;
    for (std::size_t i = 0; i < std::size(watchedSignals); ++i)
        installed = sigaction(watchedSignals[i], &action, &m_previousActions[i]) == 0 && installed;
    m_watching = installed;

    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalWatcher::readSignals);
}

UnixSignalWatcher::~UnixSignalWatcher()
{
    if (m_readFd < 0)
        return;
    restoreHandlers();
    delete m_notifier;
    ::close(m_readFd);
    ::close(m_writeFd);
}

void UnixSignalWatcher::restoreHandlers()
{
    for (std::size_t i = 0; i < std::size(watchedSignals); ++i)
        sigaction(watchedSignals[i], &m_previousActions[i], nullptr);
    signalPipeWriteFd.store(m_previousWriteFd);
}

void UnixSignalWatcher::readSignals()
{
    unsigned char numbers[64];
    const ssize_t count = ::read(m_readFd, numbers, sizeof numbers);
    // A slot may destroy the watcher: stop as soon as it is gone.
    const QPointer<UnixSignalWatcher> self(this);
    for (ssize_t i = 0; i < count && self; ++i)
        emit terminationRequested(numbers[i]);
}

} // namespace platform
