#include "tuio/LocalSenderCheck.h"

#include <algorithm>
#include <cstring>
#include <netinet/in.h>
#include <unistd.h>

// Why a lifetime rather than a per-datagram re-check: the kernel hands a loopback datagram
// over with nothing that names the socket it came from, so the only re-check is the same
// netlink round trip as a first lookup (its socket cookie would only tell "the same socket"
// from "another socket of the same user", which does not change the verdict). Asking every
// 100 ms costs a tracker at 200 frames/s one lookup in 20 datagrams, and bounds to 100 ms
// the time a port that this user's sender gave up can be used by another user's socket.

LocalSenderCheck::LocalSenderCheck() : m_ownUid(::geteuid()) // sockets belong to the euid
{
    if (!m_lookup.isOpen())
        qWarning("TUIO: cannot ask the kernel who sends to the loopback listener (netlink "
                 "sock_diag: %s): every datagram is refused; tuioListenAddress 127.0.0.1 "
                 "accepts every local user",
                 qUtf8Printable(m_lookup.errorString()));
}

bool LocalSenderCheck::accepts(const UdpEndpoint& sender, const UdpEndpoint& receiver)
{
    const Clock::time_point now = Clock::now();
    Verdict& verdict = verdictFor(sender);
    if (!verdict.checked || now >= verdict.expiresAt)
        check(verdict, receiver, now);
    return verdict.accepted;
}

LocalSenderCheck::Verdict& LocalSenderCheck::verdictFor(const UdpEndpoint& sender)
{
    const auto kept = m_verdicts.begin();
    const auto keptEnd = kept + std::ptrdiff_t(m_verdictCount);
    auto found = kept + std::ptrdiff_t(m_lastVerdict);
    if (found >= keptEnd || !(found->sender == sender))
        found =
            std::find_if(kept, keptEnd, [&](const Verdict& each) { return each.sender == sender; });
    if (found == keptEnd) {
        if (m_verdictCount < m_verdicts.size())
            ++m_verdictCount;
        else
            found = std::min_element(kept, keptEnd, [](const Verdict& a, const Verdict& b) {
                return a.lastUsed < b.lastUsed;
            });
        *found = Verdict{};
        found->sender = sender;
    }
    found->lastUsed = ++m_clock;
    m_lastVerdict = std::size_t(found - kept);
    return *found;
}

void LocalSenderCheck::check(Verdict& verdict, const UdpEndpoint& receiver, Clock::time_point now)
{
    const std::optional<uid_t> owner = m_lookup.ownerOf(verdict.sender, receiver);
    const bool accepted = owner && (*owner == 0 || *owner == m_ownUid);
    // One line per refused sender: a re-check that finds the same owner says nothing new.
    const bool reported = verdict.checked && !verdict.accepted && verdict.owner == owner;
    verdict.checked = true;
    verdict.expiresAt = now + kVerdictLifetime;
    verdict.accepted = accepted;
    verdict.owner = owner;
    if (!accepted && !reported)
        reportRefusal(verdict);
}

void LocalSenderCheck::reportRefusal(const Verdict& verdict) const
{
    const QString sender = verdict.sender.text();
    if (verdict.owner)
        qWarning("TUIO: refused datagrams from %s, a socket of uid %u: the loopback listener "
                 "takes touches only from uid %u and root",
                 qUtf8Printable(sender), unsigned(*verdict.owner), unsigned(m_ownUid));
    else
        qWarning("TUIO: refused datagrams from %s: no socket of this machine sends from there "
                 "(closed before its datagram was read?)",
                 qUtf8Printable(sender));
}
