#include "BareReceiver.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

BareReceiver::BareReceiver()
    : m_socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int bufferSize = 4 * 1024 * 1024; // bytes, as the TUIO client asks for
    if (m_socket < 0 ||
        ::setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize) != 0 ||
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("bare receiver");
        std::exit(1);
    }
    m_port = ntohs(address.sin_port);
    m_notifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
}

BareReceiver::~BareReceiver()
{
    m_notifier.reset();
    ::close(m_socket);
}

bool BareReceiver::receiveOne(int timeoutMs)
{
    pollfd waiting{m_socket, POLLIN, 0};
    char buffer[2048];
    if (::poll(&waiting, 1, timeoutMs) != 1 || ::recv(m_socket, buffer, sizeof buffer, 0) < 0)
        return false;
    ++m_received;
    return true;
}

void BareReceiver::drain()
{
    char buffer[2048];
    while (::recv(m_socket, buffer, sizeof buffer, 0) >= 0)
        ++m_received;
}
