#include "tuio/SocketOwnerLookup.h"

#include <QHostAddress>
#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Request
{
    nlmsghdr header;
    inet_diag_req_v2 body;
};

void copyAddress(const UdpEndpoint& endpoint, __be32 (&to)[4])
{
    static_assert(sizeof to == sizeof endpoint.address);
    std::memcpy(to, endpoint.address.data(), sizeof to);
}

} // namespace

SocketOwnerLookup::SocketOwnerLookup()
    : m_socket(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)),
      m_loopbackIndex(::if_nametoindex("lo"))
{
    if (m_socket < 0)
        m_error = QString::fromLocal8Bit(std::strerror(errno));
}

SocketOwnerLookup::~SocketOwnerLookup()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

std::optional<uid_t> SocketOwnerLookup::ownerOf(const UdpEndpoint& sender,
                                                const UdpEndpoint& receiver)
{
    if (m_socket < 0 || sender.family == 0 || sender.family != receiver.family)
        return std::nullopt;
    const quint32 sequence = ++m_sequence;
    if (!sendRequest(sender, receiver, sequence))
        return std::nullopt;
    return readAnswer(sender, sequence);
}

bool SocketOwnerLookup::sendRequest(const UdpEndpoint& sender, const UdpEndpoint& receiver,
                                    quint32 sequence)
{
    Request request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST; // one socket, not a dump
    request.header.nlmsg_seq = sequence;
    request.body.sdiag_family = quint8(sender.family);
    request.body.sdiag_protocol = IPPROTO_UDP;
    request.body.idiag_states = ~0u; // unconnected and connected UDP sockets alike
    // For one socket the kernel finds the one that would receive a datagram sent from `src`
    // to `dst`. The socket that sent us a datagram is the one that would receive our reply,
    // so our end goes in `src` and the sender's in `dst`; `src` also picks out a sender that
    // connect()ed to us from others on the same port.
    inet_diag_sockid& id = request.body.id;
    copyAddress(receiver, id.idiag_src);
    id.idiag_sport = htons(receiver.port);
    copyAddress(sender, id.idiag_dst);
    id.idiag_dport = htons(sender.port);
    // Loopback datagrams cross lo: this also finds a sender bound to that device.
    id.idiag_if = m_loopbackIndex;
    id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    ssize_t sent = 0;
    do
        sent = ::send(m_socket, &request, sizeof request, 0);
    while (sent < 0 && errno == EINTR);
    return sent == ssize_t(sizeof request);
}

std::optional<uid_t> SocketOwnerLookup::readAnswer(const UdpEndpoint& sender, quint32 sequence)
{
    // The kernel answers while handling the request, so the answer is queued by now; never
    // wait for one that did not come.
    for (;;) {
        const ssize_t size = ::recv(m_socket, m_answer.data(), m_answer.size(), MSG_DONTWAIT);
        if (size < 0 && errno == EINTR)
            continue;
        if (size < ssize_t(sizeof(nlmsghdr)))
            return std::nullopt;
        nlmsghdr header;
        std::memcpy(&header, m_answer.data(), sizeof header);
        if (header.nlmsg_seq != sequence)
            continue; // the late answer to an earlier request
        // NLMSG_ERROR: ENOENT when no socket sends from there (closed, or never was).
        if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY ||
            size < ssize_t(NLMSG_LENGTH(sizeof(inet_diag_msg))))
            return std::nullopt;
        inet_diag_msg answer;
        std::memcpy(&answer, m_answer.data() + NLMSG_HDRLEN, sizeof answer);
        if (ntohs(answer.id.idiag_sport) != sender.port)
            return std::nullopt;
        return uid_t(answer.idiag_uid);
    }
}
