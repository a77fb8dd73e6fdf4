#pragma once

#include <QString>
#include <QtGlobal>
#include <array>

class QHostAddress;
struct sockaddr;

// One end of a UDP exchange: address family, address and port, as plain bytes that compare
// without allocating (a QHostAddress allocates), as the kernel's socket table names them.
struct UdpEndpoint
{
    // IPv4 and IPv4-mapped IPv6 addresses both become AF_INET.
    static UdpEndpoint of(const QHostAddress& address, quint16 port);
    static UdpEndpoint of(const sockaddr& address);
    bool operator==(const UdpEndpoint&) const = default;

    // The address alone, as people write it ("127.0.0.1", "::1").
    QString addressText() const;
    // With its port: "127.0.0.1:3333", "[::1]:3333".
    QString text() const;

    int family = 0;                   // AF_INET, AF_INET6, or 0 for no usable address
    std::array<quint8, 16> address{}; // network byte order; IPv4 in the first 4 bytes
    quint16 port = 0;
};
