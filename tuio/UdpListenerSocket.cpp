#include "tuio/UdpListenerSocket.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <unistd.h>

DatagramBatch::DatagramBatch()
    : m_buffers(new char[kCapacity * kBufferSize]), m_messages(kCapacity), m_vectors(kCapacity),
      m_senders(kCapacity)
{
    for (std::size_t index = 0; index < kCapacity; ++index) {
        m_vectors[index] = {m_buffers.get() + index * kBufferSize, kBufferSize};
        msghdr& header = m_messages[index].msg_hdr;
        header = {};
        header.msg_iov = &m_vectors[index];
        header.msg_iovlen = 1;
        header.msg_name = &m_senders[index];
    }
}

UdpEndpoint DatagramBatch::sender(std::size_t index) const
{
    return UdpEndpoint::of(reinterpret_cast<const sockaddr&>(m_senders[index]));
}

UdpListenerSocket::UdpListenerSocket(const QHostAddress& address, quint16 port,
                                     int receiveBufferSize)
{
    const bool any = address == QHostAddress(QHostAddress::Any);
    const bool ipv6 = any || address.protocol() == QAbstractSocket::IPv6Protocol;
    m_socket = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        fail("socket");
        return;
    }

    sockaddr_storage storage{};
    socklen_t length = 0;
    if (ipv6) {
        // Every interface is both families on one socket; a given IPv6 address is only itself.
        const int v6Only = any ? 0 : 1;
        ::setsockopt(m_socket, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
        auto& ipv6Address = reinterpret_cast<sockaddr_in6&>(storage);
        ipv6Address.sin6_family = AF_INET6;
        ipv6Address.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address(); // :: for Any
        std::memcpy(&ipv6Address.sin6_addr, bytes.c, sizeof bytes.c);
        ipv6Address.sin6_scope_id = address.scopeId().toUInt();
        length = sizeof ipv6Address;
    } else {
        auto& ipv4Address = reinterpret_cast<sockaddr_in&>(storage);
        ipv4Address.sin_family = AF_INET;
        ipv4Address.sin_port = htons(port);
        ipv4Address.sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof ipv4Address;
    }
    if (::bind(m_socket, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
        fail("bind");
        return;
    }
    // Room for a burst of frames while the event loop is busy elsewhere; the kernel caps it.
    ::setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize, sizeof receiveBufferSize);
    length = sizeof storage;
    ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&storage), &length);
    m_local = UdpEndpoint::of(reinterpret_cast<const sockaddr&>(storage));
}

UdpListenerSocket::~UdpListenerSocket()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

void UdpListenerSocket::fail(const char* step)
{
    const int error = errno;
    m_addressInUse = error == EADDRINUSE;
    m_error = QStringLiteral("%1: %2").arg(QLatin1String(step),
                                           QString::fromLocal8Bit(std::strerror(error)));
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}

void UdpListenerSocket::receive(DatagramBatch& batch)
{
    for (std::size_t index = 0; index < DatagramBatch::kCapacity; ++index)
        batch.m_messages[index].msg_hdr.msg_namelen = sizeof(sockaddr_storage);
    int received = -1;
    do {
        received = ::recvmmsg(m_socket, batch.m_messages.data(), DatagramBatch::kCapacity,
                              MSG_DONTWAIT, nullptr);
    } while (received < 0 && errno == EINTR);
    batch.m_count = received > 0 ? std::size_t(received) : 0;
}
