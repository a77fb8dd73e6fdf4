// What the loopback listener's sender check (LocalSenderCheck) costs a datagram, as ratios to
// the socket path without it, all measured in one run so that the ratios hold on a busy
// machine:
//   baseline         a sender on this thread sends bursts of two-finger frames to a client on
//                    127.0.0.1 given as an explicit address (no check), whose event-loop
//                    handler reads and decodes them
//   with the check   the same into a client on the default loopback listener: the verdict is
//                    kept, so this is the cached path (plus a netlink lookup every 100 ms)
//   kept verdict     LocalSenderCheck::accepts alone, one sender
//   lookup           LocalSenderCheck::accepts alone, 80 senders in turn, more than it keeps:
//                    a netlink round trip every call
//   decode           TuioClient::processDatagram from memory, what the datagram costs past
//                    the socket
// The two socket paths alternate run by run, and each figure is the median of its runs.
#include "BenchAgent.h"
#include "FrameRing.h"
#include "Report.h"
#include "UdpSender.h"
#include "tests/support/UdpPorts.h"
#include "tuio/LocalSenderCheck.h"

#include <QCoreApplication>
#include <QUdpSocket>
#include <chrono>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 7;
constexpr std::size_t kDatagramsPerRun = 100'000;
// Datagrams in flight at once: well within the kernel's default receive buffer.
constexpr std::size_t kBurst = 64;
constexpr std::size_t kChecksPerRun = 2'000'000;
constexpr std::size_t kLookupsPerRun = 20'000;
constexpr std::size_t kSenders = LocalSenderCheck::kMaxSenders + 16;
constexpr QSizeF kScreen(1440, 900); // screen units

double nanosecondsEach(Clock::time_point start, std::size_t count)
{
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / double(count);
}

// A client on a free port of 127.0.0.1 and a tracker on this thread that sends to it.
class SocketPath
{
public:
    explicit SocketPath(const QString& listenAddress)
        : m_port(freeUdpPort()), m_client(m_port, kScreen, listenAddress), m_sender(m_port),
          m_ring(FrameRing::Fingers::Two, 1024)
    {
        if (!m_client.isListening())
            std::exit(1);
    }

    // Nanoseconds per datagram, from the send to the end of its decoding.
    double run(std::size_t datagrams)
    {
        const auto start = Clock::now();
        for (std::size_t sent = 0; sent < datagrams; sent += kBurst)
            sendBurst();
        return nanosecondsEach(start, datagrams);
    }

    const TuioClient& client() const { return m_client; }

private:
    void sendBurst()
    {
        const quint64 target = m_client.statistics().datagrams + kBurst;
        for (std::size_t i = 0; i < kBurst; ++i) {
            const QByteArray& bundle = m_ring.next(++m_fseq);
            m_sender.send(bundle.constData(), std::size_t(bundle.size()));
        }
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (m_client.statistics().datagrams < target) {
            QCoreApplication::processEvents();
            if (Clock::now() > deadline) {
                std::fprintf(stderr, "datagrams lost on loopback UDP port %u\n", m_port);
                std::exit(1);
            }
        }
    }

    quint16 m_port;
    TuioClient m_client;
    UdpSender m_sender;
    FrameRing m_ring;
    qint32 m_fseq = 0;
};

// Sockets of this user on 127.0.0.1 that the check can be asked about (they send nothing).
class LocalSockets
{
public:
    explicit LocalSockets(std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            m_sockets.push_back(std::make_unique<QUdpSocket>());
            m_sockets.back()->bind(QHostAddress::LocalHost, 0);
            m_ports.push_back(m_sockets.back()->localPort());
        }
    }
    const std::vector<quint16>& ports() const { return m_ports; }

private:
    std::vector<std::unique_ptr<QUdpSocket>> m_sockets;
    std::vector<quint16> m_ports;
};

// Nanoseconds per LocalSenderCheck::accepts, the sender ports taken in turn.
double checks(LocalSenderCheck& check, const LocalSockets& senders, std::size_t calls,
              quint64& refused)
{
    const QHostAddress loopback(QHostAddress::LocalHost);
    const std::vector<quint16>& ports = senders.ports();
    std::vector<UdpEndpoint> endpoints;
    for (const quint16 port : ports)
        endpoints.push_back(UdpEndpoint::of(loopback, port));
    const UdpEndpoint receiver = UdpEndpoint::of(loopback, 3333);
    const auto start = Clock::now();
    for (std::size_t i = 0; i < calls; ++i)
        refused += !check.accepts(endpoints[i % endpoints.size()], receiver);
    return nanosecondsEach(start, calls);
}

double decoding(TuioClient& client, FrameRing& ring, std::size_t datagrams)
{
    const QString sender = QStringLiteral("127.0.0.1");
    const auto start = Clock::now();
    for (std::size_t i = 0; i < datagrams; ++i) {
        const QByteArray& bundle = ring.next(qint32(i + 1));
        client.processDatagram(bundle.constData(), std::size_t(bundle.size()), sender);
    }
    return nanosecondsEach(start, datagrams);
}

struct Figures
{
    std::vector<double> unchecked, checked, keptVerdict, lookup, decode; // ns each
};

void print(const char* what, const std::vector<double>& values, double baseline)
{
    const double median = bench::median(values);
    std::printf("  %-52s median %7.0f ns  = %6.3f x baseline\n", what, median, median / baseline);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    bench::title("sender check", "loopback listener, who owns the sending socket; ratios to "
                                 "the socket path without the check, same run");

    SocketPath unchecked(QStringLiteral("127.0.0.1"));
    SocketPath checked{QString()};
    LocalSenderCheck check;
    const LocalSockets oneSender(1);
    const LocalSockets manySenders(kSenders);
    TuioClient decoder(freeUdpPort(), kScreen, QStringLiteral("127.0.0.1"));
    FrameRing ring(FrameRing::Fingers::Two, 1024);
    quint64 refused = 0;

    unchecked.run(kDatagramsPerRun / 10); // warm-up
    checked.run(kDatagramsPerRun / 10);
    Figures figures;
    for (int run = 0; run < kRuns; ++run) {
        figures.unchecked.push_back(unchecked.run(kDatagramsPerRun));
        figures.checked.push_back(checked.run(kDatagramsPerRun));
        figures.keptVerdict.push_back(checks(check, oneSender, kChecksPerRun, refused));
        figures.lookup.push_back(checks(check, manySenders, kLookupsPerRun, refused));
        figures.decode.push_back(decoding(decoder, ring, kDatagramsPerRun));
    }

    const double baseline = bench::median(figures.unchecked);
    print("baseline: socket path, explicit 127.0.0.1 (no check)", figures.unchecked, baseline);
    print("socket path, loopback listener (kept verdicts)", figures.checked, baseline);
    print("LocalSenderCheck::accepts, verdict kept", figures.keptVerdict, baseline);
    print("LocalSenderCheck::accepts, netlink lookup each call", figures.lookup, baseline);
    print("decode + tracking from memory (no socket)", figures.decode, baseline);
    std::printf("    %d runs; %zu datagrams per socket run in bursts of %zu; %zu kept-verdict "
                "checks and %zu lookups (%zu senders in turn) per run\n",
                kRuns, kDatagramsPerRun, kBurst, kChecksPerRun, kLookupsPerRun, kSenders);
    std::printf("    refused: %llu by the checked client, %llu by the check alone (both must "
                "be 0)\n",
                static_cast<unsigned long long>(checked.client().statistics().refused),
                static_cast<unsigned long long>(refused));
    return 0;
}
