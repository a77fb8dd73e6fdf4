#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <algorithm>
#include <cstring>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

// A child process running as `user` that sends `datagram` `count` times to `to`:`port` from one
// UDP socket on the loopback address of that family (at `fromPort`, or one the kernel picks),
// and keeps that socket open until close() or destruction. Switching users needs root.
class SenderProcess
{
public:
    static constexpr uid_t kNobody = 65534;

    SenderProcess(uid_t user, const QHostAddress& to, quint16 port, const QByteArray& datagram,
                  int count, quint16 fromPort = 0)
    {
        sockaddr_storage target{};
        sockaddr_storage source{};
        const socklen_t length = fill(target, to, port);
        fill(source,
             QHostAddress(to.protocol() == QAbstractSocket::IPv6Protocol
                              ? QHostAddress::LocalHostIPv6
                              : QHostAddress::LocalHost),
             fromPort);
        int report[2];
        int hold[2];
        if (::pipe(report) != 0 || ::pipe(hold) != 0)
            return;
        m_child = ::fork();
        if (m_child == 0) {
            ::close(report[0]);
            ::close(hold[1]);
            run(user, target, source, length, datagram, count, report[1], hold[0]);
        }
        ::close(report[1]);
        ::close(hold[0]);
        m_hold = hold[1];
        m_sent = m_child > 0 && ::read(report[0], &m_port, sizeof m_port) == sizeof m_port;
        ::close(report[0]);
    }
    ~SenderProcess() { close(); }
    SenderProcess(const SenderProcess&) = delete;
    SenderProcess& operator=(const SenderProcess&) = delete;

    bool sent() const { return m_sent; }
    quint16 port() const { return m_port; } // the sending socket's

    // Ends the child, which closes its socket.
    void close()
    {
        if (m_hold >= 0)
            ::close(m_hold);
        m_hold = -1;
        if (m_child > 0)
            ::waitpid(m_child, nullptr, 0);
        m_child = -1;
    }

private:
    static socklen_t fill(sockaddr_storage& to, const QHostAddress& address, quint16 port)
    {
        if (address.protocol() == QAbstractSocket::IPv6Protocol) {
            auto& ipv6 = reinterpret_cast<sockaddr_in6&>(to);
            ipv6.sin6_family = AF_INET6;
            ipv6.sin6_port = htons(port);
            const Q_IPV6ADDR bytes = address.toIPv6Address();
            std::memcpy(&ipv6.sin6_addr, bytes.c, sizeof bytes.c);
            return sizeof ipv6;
        }
        auto& ipv4 = reinterpret_cast<sockaddr_in&>(to);
        ipv4.sin_family = AF_INET;
        ipv4.sin_port = htons(port);
        ipv4.sin_addr.s_addr = htonl(address.toIPv4Address());
        return sizeof ipv4;
    }

    // In the child, with nothing but system calls: the parent may have had threads.
    [[noreturn]] static void run(uid_t user, const sockaddr_storage& target,
                                 const sockaddr_storage& source, socklen_t length,
                                 const QByteArray& datagram, int count, int report, int hold)
    {
        if (user != 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0))
            ::_exit(1);
        // Other senders' pipes stay with them, or closing theirs would not end them.
        const auto [low, high] = std::minmax(report, hold);
        ::close_range(3, unsigned(low) - 1, 0);
        ::close_range(unsigned(low) + 1, unsigned(high) - 1, 0);
        ::close_range(unsigned(high) + 1, ~0u, 0);
        const int socket = ::socket(target.ss_family, SOCK_DGRAM, 0);
        if (socket < 0 || ::bind(socket, reinterpret_cast<const sockaddr*>(&source), length) != 0)
            ::_exit(1);
        for (int sent = 0; sent < count; ++sent) {
            if (::sendto(socket, datagram.constData(), std::size_t(datagram.size()), 0,
                         reinterpret_cast<const sockaddr*>(&target), length) != datagram.size())
                ::_exit(1);
        }
        sockaddr_storage bound{};
        socklen_t boundLength = sizeof bound;
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &boundLength);
        const quint16 port = ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
        if (::write(report, &port, sizeof port) != sizeof port)
            ::_exit(1);
        char byte = 0;
        while (::read(hold, &byte, 1) > 0) {
        }
        ::_exit(0);
    }

    pid_t m_child = -1;
    int m_hold = -1; // the child lives until this closes
    bool m_sent = false;
    quint16 m_port = 0;
};
