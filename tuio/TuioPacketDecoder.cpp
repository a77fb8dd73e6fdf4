#include "tuio/TuioPacketDecoder.h"

#include "tuio/OscLayout.h"
#include "tuio/OscPacketCheck.h"

#include <QtEndian>
#include <bit>
#include <cstring>
#include <exception>
#include <stdexcept>

// Values are read straight from the datagram once OscPacketCheck has passed it: every string
// then ends inside its message and every argument fits, so the walk here checks no size
// again. Reading through oscpack after the check cost half as much again per frame; oscpack
// writes the packets of the TUIO tool and the tests.

using namespace osclayout;

namespace {

// A datagram that is valid OSC but not valid TUIO.
class MalformedTuioException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Bytes of the checked, NUL-padded string at `data`.
std::size_t paddedStringSize(const char* data)
{
    return roundUpToAlignment(std::strlen(data) + 1);
}

// One argument of a checked message: its type tag and where its bytes start.
struct Argument
{
    char tag;
    const char* data;

    bool isString() const { return tag == 's' || tag == 'S'; }
    std::string_view string() const { return data; }

    // Floats are what TUIO sends; int32 and double are taken as well, as some OSC tools
    // write them.
    float number() const
    {
        switch (tag) {
        case 'f':
            return std::bit_cast<float>(bigEndian32(data));
        case 'i':
            return static_cast<float>(static_cast<qint32>(bigEndian32(data)));
        case 'd':
            return static_cast<float>(std::bit_cast<double>(qFromBigEndian<quint64>(data)));
        default:
            throw MalformedTuioException("set: a coordinate is not a number");
        }
    }

    qint32 int32(const char* what) const
    {
        if (tag != 'i')
            throw MalformedTuioException(what);
        return static_cast<qint32>(bigEndian32(data));
    }
};

// The address, type tags and arguments of a message that OscPacketCheck passed.
class CheckedMessage
{
public:
    CheckedMessage(const char* data, std::size_t size) : m_address(data)
    {
        std::size_t offset = paddedStringSize(data);
        if (offset < size) { // type tags follow, starting with ','
            m_typeTags = std::string_view(data + offset + 1);
            offset += paddedStringSize(data + offset);
        }
        m_next = data + offset;
    }

    std::string_view address() const { return m_address; }
    std::size_t argumentCount() const { return m_typeTags.size(); }
    bool atEnd() const { return m_index == m_typeTags.size(); }

    Argument next()
    {
        const Argument argument{m_typeTags[m_index++], m_next};
        m_next += argumentSize(argument);
        return argument;
    }

private:
    static std::size_t argumentSize(const Argument& argument)
    {
        switch (argument.tag) {
        case 'i':
        case 'f':
        case 'c':
        case 'r':
        case 'm':
            return 4;
        case 'h':
        case 't':
        case 'd':
            return 8;
        case 's':
        case 'S':
            return paddedStringSize(argument.data);
        case 'b':
            return 4 + roundUpToAlignment(bigEndian32(argument.data));
        default: // T F N I [ ]: no bytes
            return 0;
        }
    }

    std::string_view m_address;
    std::string_view m_typeTags; // without the ','
    std::size_t m_index = 0;
    const char* m_next;
};

bool isCursorAddress(std::string_view address)
{
    // Some trackers write the profile name in lower case.
    return address == "/tuio/2Dcur" || address == "/tuio/2dCur";
}

} // namespace

bool TuioPacketDecoder::decode(const char* data, std::size_t size)
{
    m_messages.clear();
    m_aliveIds.clear();
    m_error.clear();
    m_isBundle = false;
    // The one place where bad input stops: nothing thrown below gets past here.
    try {
        if (size > kMaxDatagramSize)
            throw MalformedTuioException("datagram too large");
        // Nothing is read that the check has not walked.
        if (const char* fault = OscPacketCheck::fault({data, size}))
            throw MalformedTuioException(fault);
        decodePacket(data, size);
        return true;
    } catch (const std::exception& error) {
        m_error = error.what();
    } catch (...) {
        m_error = "undecodable datagram";
    }
    m_messages.clear();
    m_aliveIds.clear();
    return false;
}

std::span<const qint32> TuioPacketDecoder::aliveIds(const TuioMessage& alive) const
{
    return std::span<const qint32>(m_aliveIds).subspan(alive.aliveBegin, alive.aliveCount);
}

void TuioPacketDecoder::decodePacket(const char* data, std::size_t size)
{
    // As OscPacketCheck walks it: anything starting with '#' is a bundle.
    m_isBundle = data[0] == '#';
    if (m_isBundle)
        decodeBundleElements(data, size, 1);
    else
        decodeMessage(data, size);
}

void TuioPacketDecoder::decodeBundleElements(const char* data, std::size_t size, int depth)
{
    if (depth > kMaxBundleDepth)
        throw MalformedTuioException("bundles nested too deep");
    for (std::size_t offset = kBundleHeaderSize; offset < size;) {
        const std::size_t elementSize = bigEndian32(data + offset);
        const char* const element = data + offset + 4;
        if (element[0] == '#')
            decodeBundleElements(element, elementSize, depth + 1);
        else
            decodeMessage(element, elementSize);
        offset += 4 + elementSize;
    }
}

void TuioPacketDecoder::decodeMessage(const char* data, std::size_t size)
{
    CheckedMessage message(data, size);
    if (!isCursorAddress(message.address()))
        return;
    if (message.atEnd())
        throw MalformedTuioException("2Dcur message without a command");
    const Argument first = message.next();
    if (!first.isString())
        throw MalformedTuioException("2Dcur message without a command");
    const std::string_view command = first.string();
    const std::size_t count = message.argumentCount() - 1; // after the command

    TuioMessage decoded;
    if (command == "set") {
        if (count < 3) // s x y; velocity and acceleration may be left out
            throw MalformedTuioException("set: too few arguments");
        decoded.kind = TuioMessage::Kind::Set;
        decoded.sessionId = message.next().int32("set: session id is not an int32");
        decoded.x = message.next().number();
        decoded.y = message.next().number();
        // Velocities, acceleration and the extra numbers of newer trackers: numbers, unused.
        while (!message.atEnd())
            message.next().number();
    } else if (command == "alive") {
        if (count > kMaxAliveCursors)
            throw MalformedTuioException("alive: too many cursors");
        decoded.kind = TuioMessage::Kind::Alive;
        decoded.aliveBegin = m_aliveIds.size();
        decoded.aliveCount = count;
        while (!message.atEnd())
            m_aliveIds.push_back(message.next().int32("alive: an id is not an int32"));
    } else if (command == "fseq") {
        if (count != 1)
            throw MalformedTuioException("fseq: not one argument");
        decoded.kind = TuioMessage::Kind::Fseq;
        decoded.fseq = message.next().int32("fseq: not an int32");
    } else if (command == "source") {
        const Argument name = count == 1 ? message.next() : Argument{'\0', nullptr};
        if (!name.isString())
            throw MalformedTuioException("source: not one string");
        decoded.kind = TuioMessage::Kind::Source;
        decoded.source = name.string();
        if (decoded.source.empty() || decoded.source.size() > kMaxSourceLength)
            throw MalformedTuioException("source: empty or too long");
    } else {
        return; // a command of a later TUIO version: not ours to judge
    }
    m_messages.push_back(decoded);
}
