#include "tuio/UdpEndpoint.h"

#include <QHostAddress>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace {

bool isIpv4Mapped(const in6_addr& address)
{
    return IN6_IS_ADDR_V4MAPPED(&address);
}

} // namespace

UdpEndpoint UdpEndpoint::of(const QHostAddress& address, quint16 port)
{
    UdpEndpoint endpoint;
    endpoint.port = port;
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4); // also for ::ffff:a.b.c.d
    if (isIpv4) {
        endpoint.family = AF_INET;
        const quint32 networkOrder = htonl(ipv4);
        std::memcpy(endpoint.address.data(), &networkOrder, sizeof networkOrder);
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        endpoint.family = AF_INET6;
        const Q_IPV6ADDR ipv6 = address.toIPv6Address();
        std::memcpy(endpoint.address.data(), ipv6.c, sizeof ipv6.c);
    }
    return endpoint;
}

UdpEndpoint UdpEndpoint::of(const sockaddr& address)
{
    UdpEndpoint endpoint;
    if (address.sa_family == AF_INET) {
        const auto& ipv4 = reinterpret_cast<const sockaddr_in&>(address);
        endpoint.family = AF_INET;
        endpoint.port = ntohs(ipv4.sin_port);
        std::memcpy(endpoint.address.data(), &ipv4.sin_addr, sizeof ipv4.sin_addr);
    } else if (address.sa_family == AF_INET6) {
        const auto& ipv6 = reinterpret_cast<const sockaddr_in6&>(address);
        endpoint.port = ntohs(ipv6.sin6_port);
        if (isIpv4Mapped(ipv6.sin6_addr)) { // a dual-stack listener's IPv4 sender
            endpoint.family = AF_INET;
            std::memcpy(endpoint.address.data(), ipv6.sin6_addr.s6_addr + 12, 4);
        } else {
            endpoint.family = AF_INET6;
            std::memcpy(endpoint.address.data(), ipv6.sin6_addr.s6_addr, 16);
        }
    }
    return endpoint;
}

QString UdpEndpoint::addressText() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (family != AF_INET && family != AF_INET6)
        return {};
    ::inet_ntop(family, address.data(), text, sizeof text);
    return QString::fromLatin1(text);
}

QString UdpEndpoint::text() const
{
    const QString host = family == AF_INET6 ? '[' + addressText() + ']' : addressText();
    return host + ':' + QString::number(port);
}
