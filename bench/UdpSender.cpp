#include "UdpSender.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

UdpSender::UdpSender(quint16 port) : m_socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_socket < 0 ||
        ::connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("UDP sender");
        std::exit(1);
    }
}

UdpSender::~UdpSender()
{
    ::close(m_socket);
}

bool UdpSender::send(const char* data, std::size_t size)
{
    return ::send(m_socket, data, size, 0) == static_cast<ssize_t>(size);
}
