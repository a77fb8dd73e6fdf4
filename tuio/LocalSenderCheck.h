#pragma once

#include "tuio/SocketOwnerLookup.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <sys/types.h>

// Decides whether a datagram that reached a loopback listener came from this user: the
// sending socket, found in the kernel's socket table by the sender's address and port, must
// belong to root or to the user this process runs as. A sender whose socket cannot be found
// (closed before its datagram was read) is refused. Each refused sender is logged once.
//
// Verdicts are kept per sender address and port for kVerdictLifetime, then asked again: a
// port can pass to another user's socket once its sender closes it, and a kept "accepted"
// would let that socket in. The lifetime bounds that window; see LocalSenderCheck.cpp.
class LocalSenderCheck
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kVerdictLifetime = std::chrono::milliseconds(100);
    static constexpr std::size_t kMaxSenders = 64; // verdicts kept, the least recent dropped

    LocalSenderCheck();

    // Whether the datagram from `sender`, received on `receiver`, is this user's. Asks the
    // kernel only when no fresh verdict is kept.
    bool accepts(const UdpEndpoint& sender, const UdpEndpoint& receiver);

private:
    struct Verdict
    {
        UdpEndpoint sender;
        Clock::time_point expiresAt; // of the verdict below, once checked
        bool checked = false;
        bool accepted = false;
        std::optional<uid_t> owner; // nothing: no socket found
        quint64 lastUsed = 0;
    };

    Verdict& verdictFor(const UdpEndpoint& sender);
    void check(Verdict& verdict, const UdpEndpoint& receiver, Clock::time_point now);
    void reportRefusal(const Verdict& verdict) const;

    SocketOwnerLookup m_lookup;
    const uid_t m_ownUid;
    std::array<Verdict, kMaxSenders> m_verdicts{};
    std::size_t m_verdictCount = 0;
    std::size_t m_lastVerdict = 0; // most datagrams come from the sender of the last one
    quint64 m_clock = 0;
};
