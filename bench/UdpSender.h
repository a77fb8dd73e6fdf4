#pragma once

#include <QtGlobal>
#include <cstddef>

// A plain datagram socket connected to a port on 127.0.0.1: one system call per datagram and
// nothing else, so that a benchmark's sender costs as little as a tracker's. Usable from any
// thread, as it needs no event loop.
class UdpSender
{
public:
    explicit UdpSender(quint16 port);
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    // False when the kernel did not take the whole datagram.
    bool send(const char* data, std::size_t size);

private:
    int m_socket = -1;
};
