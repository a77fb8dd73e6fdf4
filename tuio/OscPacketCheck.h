#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Checks the structure of a whole OSC packet before any of it is read, so that the reader
// (TuioPacketDecoder) can trust every size it finds. OSC readers that trust unverified sizes
// fall for hostile packets: oscpack reads from a blob size past the end, and its walk over a
// bundle element of 0xFFFFFFFC bytes wraps back onto itself. The rules are those of oscpack's
// reader, so a packet that passes keeps any such reader inside it:
// - packets, bundles and messages are non-empty multiples of 4 bytes;
// - a bundle is "#bundle\0", an 8-byte time tag, then elements whose sizes are non-zero
//   multiples of 4 that fit in what is left; bundles nest at most kMaxBundleDepth deep;
// - a message is a string address, then nothing or a type tag string starting with ',';
//   strings end in a NUL and are padded with NULs to 4 bytes;
// - every type tag is one oscpack knows (T F N I [ ] i f c r m h t d s S b), arrays are
//   balanced, every argument lies inside the message and the arguments end where it ends.
// The check reads each byte a bounded number of times (linear in the packet) and allocates
// nothing.
class OscPacketCheck
{
public:
    static constexpr int kMaxBundleDepth = 8;
    // oscpack keeps sizes in an int32 and refuses more.
    static constexpr std::size_t kMaxPacketSize = 0x7FFFFFFC; // bytes

    // nullptr when oscpack may read the packet; otherwise what is wrong with it.
    static const char* fault(std::span<const char> packet);

private:
    static const char* packetFault(std::span<const char> packet, int depth);
    static const char* bundleFault(std::span<const char> bundle, int depth);
    static const char* messageFault(std::span<const char> message);
    static const char* argumentsFault(std::string_view typeTags, std::span<const char> arguments);
    // Bytes of the NUL-terminated, NUL-padded string at the start of `bytes`; 0 when it has
    // no terminator inside `bytes` or its padding is not NULs.
    static std::size_t paddedStringSize(std::span<const char> bytes);
};
