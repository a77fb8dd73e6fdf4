#pragma once

#include "tuio/encoder/TuioFrame.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QUdpSocket>
#include <string>
#include <vector>

// Sends TUIO 1.1 cursor frames over UDP, numbering them as a tracker does.
//
//   TuioSender sender(QHostAddress::LocalHost, 3333, "tracker@127.0.0.1");
//   sender.sendFrame({1}, {{1, 0.5f, 0.5f}});  // finger 1 down in the middle, fseq 1
//   sender.sendFrame({}, {});                  // lifted, fseq 2
class TuioSender
{
public:
    TuioSender(QHostAddress host, quint16 port, std::string source = {});

    // Sends a bundle with the next frame number (1, 2, ...). False when it could not be sent.
    bool sendFrame(std::vector<qint32> alive, std::vector<TuioSet> sets = {});
    // Sends `frame` as it is: its own source and fseq.
    bool send(const TuioFrame& frame);
    // Sends any bytes, well-formed or not.
    bool sendDatagram(const QByteArray& datagram);

    const std::string& source() const { return m_source; }
    QString errorString() const { return m_socket.errorString(); }

private:
    QUdpSocket m_socket;
    QHostAddress m_host;
    quint16 m_port;
    std::string m_source;
    qint32 m_fseq = 0;
};
