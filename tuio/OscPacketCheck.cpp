#include "tuio/OscPacketCheck.h"

#include "tuio/OscLayout.h"

#include <cstring>

using namespace osclayout;

namespace {

constexpr char kBundleTag[] = "#bundle"; // with its NUL: 8 bytes

} // namespace

const char* OscPacketCheck::fault(std::span<const char> packet)
{
    if (packet.size() > kMaxPacketSize)
        return "packet too large for OSC";
    return packetFault(packet, 0);
}

// `depth`: bundles around this packet.
const char* OscPacketCheck::packetFault(std::span<const char> packet, int depth)
{
    if (packet.empty() || !isAligned(packet.size()))
        return "OSC packet size not a positive multiple of 4 bytes";
    // oscpack takes anything starting with '#' for a bundle.
    if (packet.front() == '#')
        return bundleFault(packet, depth + 1);
    return messageFault(packet);
}

const char* OscPacketCheck::bundleFault(std::span<const char> bundle, int depth)
{
    if (depth > kMaxBundleDepth)
        return "bundles nested too deep";
    if (bundle.size() < kBundleHeaderSize ||
        std::memcmp(bundle.data(), kBundleTag, sizeof(kBundleTag)) != 0)
        return "bundle header missing or cut short";
    std::span<const char> rest = bundle.subspan(kBundleHeaderSize);
    while (!rest.empty()) {
        if (rest.size() < 4)
            return "bundle element size cut short";
        const std::size_t elementSize = bigEndian32(rest.data());
        rest = rest.subspan(4);
        if (elementSize > rest.size())
            return "bundle element larger than what is left of the bundle";
        if (const char* fault = packetFault(rest.first(elementSize), depth))
            return fault;
        rest = rest.subspan(elementSize);
    }
    return nullptr;
}

const char* OscPacketCheck::messageFault(std::span<const char> message)
{
    const std::size_t addressSize = paddedStringSize(message);
    if (addressSize == 0)
        return "message address not a NUL-padded string";
    const std::span<const char> rest = message.subspan(addressSize);
    if (rest.empty())
        return nullptr; // an address alone: a message without arguments
    if (rest.front() != ',')
        return "message type tags missing";
    const std::size_t typeTagsSize = paddedStringSize(rest);
    if (typeTagsSize == 0)
        return "message type tags not a NUL-padded string";
    const std::string_view typeTags(rest.data() + 1); // after ','; its NUL is inside `rest`
    return argumentsFault(typeTags, rest.subspan(typeTagsSize));
}

const char* OscPacketCheck::argumentsFault(std::string_view typeTags,
                                           std::span<const char> arguments)
{
    std::size_t openArrays = 0;
    for (const char tag : typeTags) {
        std::size_t argumentSize = 0; // bytes
        switch (tag) {
        case 'T': // true, false, nil, infinitum: no bytes
        case 'F':
        case 'N':
        case 'I':
            break;
        case '[':
            ++openArrays;
            break;
        case ']':
            if (openArrays == 0)
                return "array closed before it opened";
            --openArrays;
            break;
        case 'i': // int32, float, char, RGBA colour, MIDI message
        case 'f':
        case 'c':
        case 'r':
        case 'm':
            argumentSize = 4;
            break;
        case 'h': // int64, time tag, double
        case 't':
        case 'd':
            argumentSize = 8;
            break;
        case 's':
        case 'S':
            argumentSize = paddedStringSize(arguments);
            if (argumentSize == 0)
                return "string argument not a NUL-padded string";
            break;
        case 'b':
            if (arguments.size() < 4)
                return "blob size cut short";
            // Widened before rounding, so that no size wraps around.
            argumentSize = 4 + roundUpToAlignment(bigEndian32(arguments.data()));
            break;
        default:
            return "unknown type tag";
        }
        if (argumentSize > arguments.size())
            return "argument larger than what is left of the message";
        arguments = arguments.subspan(argumentSize);
    }
    if (openArrays != 0)
        return "array not closed";
    if (!arguments.empty())
        return "bytes after the last argument";
    return nullptr;
}

std::size_t OscPacketCheck::paddedStringSize(std::span<const char> bytes)
{
    const void* terminator = std::memchr(bytes.data(), '\0', bytes.size());
    if (!terminator)
        return 0;
    const std::size_t length = std::size_t(static_cast<const char*>(terminator) - bytes.data());
    // oscpack finds a string's end by its padding, the C string by its first NUL: they agree
    // only when the padding is all NULs.
    const std::size_t size = roundUpToAlignment(length + 1);
    if (size > bytes.size())
        return 0;
    for (std::size_t index = length + 1; index < size; ++index) {
        if (bytes[index] != '\0')
            return 0;
    }
    return size;
}
