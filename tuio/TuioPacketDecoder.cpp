#include "tuio/TuioPacketDecoder.h"

#include "tuio/OscPacketCheck.h"

#include <cstring>
#include <exception>
#include <osc/OscException.h>
#include <osc/OscReceivedElements.h>
#include <stdexcept>

namespace {

// A datagram that is valid OSC but not valid TUIO.
class MalformedTuioException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

bool isCursorAddress(const char* address)
{
    // Some trackers write the profile name in lower case.
    return std::strcmp(address, "/tuio/2Dcur") == 0 || std::strcmp(address, "/tuio/2dCur") == 0;
}

// Floats are what TUIO sends; int32 and double are taken as well, as some OSC tools write them.
float numberArgument(const osc::ReceivedMessageArgument& argument)
{
    if (argument.IsFloat())
        return argument.AsFloatUnchecked();
    if (argument.IsInt32())
        return static_cast<float>(argument.AsInt32Unchecked());
    if (argument.IsDouble())
        return static_cast<float>(argument.AsDoubleUnchecked());
    throw MalformedTuioException("set: a coordinate is not a number");
}

qint32 int32Argument(const osc::ReceivedMessageArgument& argument, const char* what)
{
    if (!argument.IsInt32())
        throw MalformedTuioException(what);
    return argument.AsInt32Unchecked();
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
        // oscpack reads only what the check has walked without it.
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
    const osc::ReceivedPacket packet(data, size);
    m_isBundle = packet.IsBundle();
    if (m_isBundle)
        decodeBundleElements(data, size, 1);
    else
        decodeMessage(data, size);
}

void TuioPacketDecoder::decodeBundleElements(const char* data, std::size_t size, int depth)
{
    if (depth > kMaxBundleDepth)
        throw MalformedTuioException("bundles nested too deep");
    const osc::ReceivedPacket packet(data, size);
    const osc::ReceivedBundle bundle(packet);
    for (auto element = bundle.ElementsBegin(); element != bundle.ElementsEnd(); ++element) {
        const auto elementSize = static_cast<std::size_t>(element->Size());
        if (element->IsBundle())
            decodeBundleElements(element->Contents(), elementSize, depth + 1);
        else
            decodeMessage(element->Contents(), elementSize);
    }
}

void TuioPacketDecoder::decodeMessage(const char* data, std::size_t size)
{
    const osc::ReceivedPacket packet(data, size);
    const osc::ReceivedMessage message(packet);
    if (!isCursorAddress(message.AddressPattern()))
        return;

    auto argument = message.ArgumentsBegin();
    const auto end = message.ArgumentsEnd();
    if (argument == end || !argument->IsString())
        throw MalformedTuioException("2Dcur message without a command");
    const std::string_view command = argument->AsStringUnchecked();
    ++argument;
    const std::size_t count = message.ArgumentCount() - 1; // after the command

    TuioMessage decoded;
    if (command == "set") {
        if (count < 3) // s x y; velocity and acceleration may be left out
            throw MalformedTuioException("set: too few arguments");
        decoded.kind = TuioMessage::Kind::Set;
        decoded.sessionId = int32Argument(*argument++, "set: session id is not an int32");
        decoded.x = numberArgument(*argument++);
        decoded.y = numberArgument(*argument++);
        // Velocities, acceleration and the extra numbers of newer trackers: numbers, unused.
        for (; argument != end; ++argument)
            numberArgument(*argument);
    } else if (command == "alive") {
        if (count > kMaxAliveCursors)
            throw MalformedTuioException("alive: too many cursors");
        decoded.kind = TuioMessage::Kind::Alive;
        decoded.aliveBegin = m_aliveIds.size();
        decoded.aliveCount = count;
        for (; argument != end; ++argument)
            m_aliveIds.push_back(int32Argument(*argument, "alive: an id is not an int32"));
    } else if (command == "fseq") {
        if (count != 1)
            throw MalformedTuioException("fseq: not one argument");
        decoded.kind = TuioMessage::Kind::Fseq;
        decoded.fseq = int32Argument(*argument, "fseq: not an int32");
    } else if (command == "source") {
        if (count != 1 || !argument->IsString())
            throw MalformedTuioException("source: not one string");
        decoded.kind = TuioMessage::Kind::Source;
        decoded.source = argument->AsStringUnchecked();
        if (decoded.source.empty() || decoded.source.size() > kMaxSourceLength)
            throw MalformedTuioException("source: empty or too long");
    } else {
        return; // a command of a later TUIO version: not ours to judge
    }
    m_messages.push_back(decoded);
}
