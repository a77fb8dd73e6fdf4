#pragma once

#include <QtEndian>
#include <cstddef>
#include <cstdint>

// The byte layout of OSC 1.0 packets, shared by the check that walks a packet and the
// decoder that reads it afterwards.
namespace osclayout {

constexpr std::size_t kAlignment = 4;         // bytes: every OSC item starts on it
constexpr std::size_t kBundleHeaderSize = 16; // bytes: "#bundle\0" and the time tag

constexpr bool isAligned(std::size_t size)
{
    return size % kAlignment == 0;
}

constexpr std::size_t roundUpToAlignment(std::size_t size)
{
    return (size + kAlignment - 1) / kAlignment * kAlignment;
}

inline std::uint32_t bigEndian32(const char* bytes)
{
    return qFromBigEndian<std::uint32_t>(bytes);
}

} // namespace osclayout
