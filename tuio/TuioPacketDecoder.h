#pragma once

#include "tuio/OscPacketCheck.h"

#include <QtGlobal>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One TUIO 1.1 cursor message (/tuio/2Dcur) as it came in the datagram.
struct TuioMessage
{
    enum class Kind { Source, Alive, Set, Fseq };

    Kind kind = Kind::Fseq;
    std::string_view source;    // Source: "name@address" as sent; points into the datagram
    std::size_t aliveBegin = 0; // Alive: its ids are TuioPacketDecoder::aliveIds(message)
    std::size_t aliveCount = 0;
    qint32 sessionId = 0; // Set: normalised surface coordinates, 0,0 top-left
    float x = 0;
    float y = 0;
    qint32 fseq = 0; // Fseq: the frame number; -1 for unsequenced frames
};

// Decodes one UDP datagram (an OSC bundle, nested bundles, or a plain message) into its TUIO
// cursor messages, reading them in place. A datagram is taken whole or not at all: any fault
// (truncation, wrong types, wrong argument counts, oversize, hostile nesting or cursor counts)
// rejects all of it, so a half-read frame never reaches the caller. Other OSC addresses are
// skipped. The decoder keeps its buffers between datagrams, so steady decoding does not allocate.
class TuioPacketDecoder
{
public:
    // Larger than any UDP payload; a caller without a socket may still hand in more.
    static constexpr std::size_t kMaxDatagramSize = 65536; // bytes
    static constexpr int kMaxBundleDepth = OscPacketCheck::kMaxBundleDepth;
    static constexpr std::size_t kMaxAliveCursors = 256;  // per alive message
    static constexpr std::size_t kMaxSourceLength = 1024; // bytes

    // True when the datagram was well-formed; messages() then holds its cursor messages in
    // order. False leaves messages() empty and error() saying why.
    bool decode(const char* data, std::size_t size);

    const std::vector<TuioMessage>& messages() const { return m_messages; }
    std::span<const qint32> aliveIds(const TuioMessage& alive) const;
    // Whether the datagram was a bundle rather than a plain message.
    bool isBundle() const { return m_isBundle; }
    const std::string& error() const { return m_error; }

private:
    void decodePacket(const char* data, std::size_t size);
    void decodeBundleElements(const char* data, std::size_t size, int depth);
    void decodeMessage(const char* data, std::size_t size);

    std::vector<TuioMessage> m_messages;
    std::vector<qint32> m_aliveIds;
    std::string m_error;
    bool m_isBundle = false;
};
