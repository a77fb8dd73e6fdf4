#pragma once

#include "tuio/UdpEndpoint.h"

#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>
#include <sys/types.h>

// Asks the kernel's socket table (sock_diag netlink) which user owns a local UDP socket. The
// netlink socket is opened once and kept; a lookup is one request and one answer, with no
// allocation.
class SocketOwnerLookup
{
public:
    SocketOwnerLookup();
    ~SocketOwnerLookup();
    SocketOwnerLookup(const SocketOwnerLookup&) = delete;
    SocketOwnerLookup& operator=(const SocketOwnerLookup&) = delete;

    // False when the netlink socket could not be opened; errorString() then says why.
    bool isOpen() const { return m_socket >= 0; }
    const QString& errorString() const { return m_error; }

    // The uid of the local socket that sends from `sender` to `receiver` (both of one
    // family); nothing when no such socket exists (any more) or the kernel gave no answer.
    // Sockets that share a port (each with SO_REUSEADDR) are one sender to the kernel: it
    // names the one a datagram from `receiver` would reach.
    std::optional<uid_t> ownerOf(const UdpEndpoint& sender, const UdpEndpoint& receiver);

private:
    bool sendRequest(const UdpEndpoint& sender, const UdpEndpoint& receiver, quint32 sequence);
    std::optional<uid_t> readAnswer(const UdpEndpoint& sender, quint32 sequence);

    int m_socket = -1;
    QString m_error;
    unsigned m_loopbackIndex = 0; // the interface a datagram to 127.0.0.1 or ::1 crosses
    quint32 m_sequence = 0;
    // An answer is one inet_diag_msg and a few attributes: well under a kilobyte.
    alignas(8) std::array<char, 2048> m_answer{};
};
