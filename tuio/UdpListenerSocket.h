#pragma once

#include "tuio/UdpEndpoint.h"

#include <QHostAddress>
#include <QString>
#include <cstddef>
#include <memory>
#include <sys/socket.h>
#include <vector>

// Datagrams read in one system call (recvmmsg), into buffers kept from call to call, so that
// receiving a burst costs one call and no allocation.
class DatagramBatch
{
public:
    static constexpr std::size_t kCapacity = 32;          // datagrams per call
    static constexpr std::size_t kBufferSize = 64 * 1024; // bytes: more than any UDP payload

    DatagramBatch();

    std::size_t count() const { return m_count; }
    const char* data(std::size_t index) const { return m_buffers.get() + index * kBufferSize; }
    std::size_t size(std::size_t index) const { return m_messages[index].msg_len; }
    UdpEndpoint sender(std::size_t index) const;

private:
    friend class UdpListenerSocket;

    // Pages of the buffers are only touched by what the kernel writes: an idle agent keeps
    // little of them resident.
    std::unique_ptr<char[]> m_buffers;
    std::vector<mmsghdr> m_messages;
    std::vector<iovec> m_vectors;
    std::vector<sockaddr_storage> m_senders;
    std::size_t m_count = 0;
};

// A non-blocking UDP socket bound to one address and port: exclusive (a port already taken
// fails here rather than split the datagrams), close-on-exec, with a large receive buffer.
// Closed when destroyed.
class UdpListenerSocket
{
public:
    UdpListenerSocket(const QHostAddress& address, quint16 port, int receiveBufferSize);
    ~UdpListenerSocket();
    UdpListenerSocket(const UdpListenerSocket&) = delete;
    UdpListenerSocket& operator=(const UdpListenerSocket&) = delete;

    bool isOpen() const { return m_socket >= 0; }
    int descriptor() const { return m_socket; }
    // Why it is not open: the system's words, and whether the port was taken.
    const QString& errorString() const { return m_error; }
    bool addressInUse() const { return m_addressInUse; }
    const UdpEndpoint& localEndpoint() const { return m_local; }

    // Fills `batch` with what is waiting, without blocking; its count() is 0 when nothing is.
    void receive(DatagramBatch& batch);

private:
    void fail(const char* step);

    int m_socket = -1;
    QString m_error;
    bool m_addressInUse = false;
    UdpEndpoint m_local;
};
