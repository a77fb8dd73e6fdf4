#pragma once

#include <QFile>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// A FIFO made at a path, with no writer. Whoever still blocks opening it for reading when the
// deadline passes is let go (a writer opens it), so that a read that should never block fails
// the test that made it instead of hanging it.
class FifoAtPath
{
public:
    explicit FifoAtPath(const QString& path,
                        std::chrono::milliseconds deadline = std::chrono::seconds(15))
        : m_path(QFile::encodeName(path))
    {
        m_made = ::mkfifo(m_path.constData(), 0600) == 0;
        if (m_made)
            m_watchdog = std::thread([this, deadline] { watch(deadline); });
    }
    ~FifoAtPath()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_watchdog.joinable())
            m_watchdog.join();
    }
    FifoAtPath(const FifoAtPath&) = delete;
    FifoAtPath& operator=(const FifoAtPath&) = delete;

    bool made() const { return m_made; }
    // Whether the deadline passed: someone was left blocking on it until then.
    bool blocked() const
    {
        const std::lock_guard lock(m_mutex);
        return m_blocked;
    }

private:
    void watch(std::chrono::milliseconds deadline)
    {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, deadline, [this] { return m_done; }))
            return;
        m_blocked = true;
        // Opening the write end releases a reader blocked in open(); closing it gives EOF.
        // Again and again: the reader may try once more.
        do {
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
        } while (!m_wake.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_done; }));
    }

    QByteArray m_path;
    bool m_made = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_blocked = false;
    std::thread m_watchdog;
};
