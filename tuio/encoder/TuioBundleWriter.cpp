#include "tuio/encoder/TuioBundleWriter.h"

#include <exception>
#include <osc/OscOutboundPacketStream.h>

namespace {

constexpr const char* kCursorAddress = "/tuio/2Dcur";

void writeSource(osc::OutboundPacketStream& stream, const TuioFrame& frame)
{
    stream << osc::BeginMessage(kCursorAddress) << "source" << frame.source.c_str()
           << osc::EndMessage;
}

void writeAlive(osc::OutboundPacketStream& stream, const TuioFrame& frame)
{
    stream << osc::BeginMessage(kCursorAddress) << "alive";
    for (const qint32 id : frame.alive)
        stream << osc::int32(id);
    stream << osc::EndMessage;
}

void writeSet(osc::OutboundPacketStream& stream, const TuioSet& set)
{
    stream << osc::BeginMessage(kCursorAddress) << "set" << osc::int32(set.sessionId) << set.x
           << set.y << set.xVelocity << set.yVelocity << set.acceleration << osc::EndMessage;
}

void writeFseq(osc::OutboundPacketStream& stream, const TuioFrame& frame)
{
    stream << osc::BeginMessage(kCursorAddress) << "fseq" << osc::int32(frame.fseq)
           << osc::EndMessage;
}

template <typename Write> QByteArray datagram(Write write)
{
    QByteArray buffer(qsizetype(TuioBundleWriter::kMaxDatagramSize), Qt::Uninitialized);
    try {
        osc::OutboundPacketStream stream(buffer.data(), std::size_t(buffer.size()));
        write(stream);
        buffer.truncate(qsizetype(stream.Size()));
        return buffer;
    } catch (const std::exception&) { // too large for one datagram
        return {};
    }
}

} // namespace

std::size_t TuioBundleWriter::write(const TuioFrame& frame, char* buffer, std::size_t capacity)
{
    try {
        osc::OutboundPacketStream stream(buffer, capacity);
        stream << osc::BeginBundleImmediate;
        if (!frame.source.empty())
            writeSource(stream, frame);
        writeAlive(stream, frame);
        for (const TuioSet& set : frame.sets)
            writeSet(stream, set);
        writeFseq(stream, frame);
        stream << osc::EndBundle;
        return stream.Size();
    } catch (const std::exception&) { // osc::OutOfBufferMemoryException
        return 0;
    }
}

QByteArray TuioBundleWriter::bundle(const TuioFrame& frame)
{
    QByteArray buffer(qsizetype(kMaxDatagramSize), Qt::Uninitialized);
    const std::size_t size = write(frame, buffer.data(), std::size_t(buffer.size()));
    buffer.truncate(qsizetype(size));
    return buffer;
}

std::vector<QByteArray> TuioBundleWriter::messages(const TuioFrame& frame)
{
    std::vector<QByteArray> datagrams;
    if (!frame.source.empty())
        datagrams.push_back(datagram([&](auto& stream) { writeSource(stream, frame); }));
    datagrams.push_back(datagram([&](auto& stream) { writeAlive(stream, frame); }));
    for (const TuioSet& set : frame.sets)
        datagrams.push_back(datagram([&](auto& stream) { writeSet(stream, set); }));
    datagrams.push_back(datagram([&](auto& stream) { writeFseq(stream, frame); }));
    return datagrams;
}
