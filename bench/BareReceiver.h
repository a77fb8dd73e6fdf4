#pragma once

#include <QSocketNotifier>
#include <QtGlobal>
#include <memory>

// The least any receiver pays: a UDP socket on 127.0.0.1 (with the TUIO client's receive
// buffer) whose datagrams are read on the event loop and thrown away. Benchmarks measure it in
// the same run as the agent, as the baseline that makes their figures comparable on a shared
// machine.
class BareReceiver
{
public:
    BareReceiver();
    ~BareReceiver();
    BareReceiver(const BareReceiver&) = delete;
    BareReceiver& operator=(const BareReceiver&) = delete;

    quint16 port() const { return m_port; }
    quint64 received() const { return m_received; }
    // Blocks in poll() until a datagram comes, reads it; false after `timeoutMs`.
    bool receiveOne(int timeoutMs);

private:
    void drain();

    int m_socket = -1;
    quint16 m_port = 0;
    quint64 m_received = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
