#include "tuio/encoder/TuioSender.h"

#include "tuio/encoder/TuioBundleWriter.h"

#include <utility>

TuioSender::TuioSender(QHostAddress host, quint16 port, std::string source)
    : m_host(std::move(host)), m_port(port), m_source(std::move(source))
{}

bool TuioSender::sendFrame(std::vector<qint32> alive, std::vector<TuioSet> sets)
{
    return send({m_source, std::move(alive), std::move(sets), ++m_fseq});
}

bool TuioSender::send(const TuioFrame& frame)
{
    const QByteArray datagram = TuioBundleWriter::bundle(frame);
    return !datagram.isEmpty() && sendDatagram(datagram);
}

bool TuioSender::sendDatagram(const QByteArray& datagram)
{
    return m_socket.writeDatagram(datagram, m_host, m_port) == datagram.size();
}
