#pragma once

#include <QHostAddress>
#include <QUdpSocket>

// A UDP port on the loopback address that nothing holds right now.
inline quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// Whether some program holds the UDP port on the loopback address.
inline bool isUdpPortTaken(quint16 port)
{
    QUdpSocket probe;
    return !probe.bind(QHostAddress::LocalHost, port);
}
