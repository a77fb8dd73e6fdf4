// Sustained two-finger frames per second over loopback UDP with none lost: a sender thread
// paced at a fixed rate for one second per step, the agent's controller and TUIO client on
// the main event loop. A step passes when every frame sent was committed.
//
// Each step runs twice: with the client's socket as it comes (the kernel's default receive
// buffer), and with its receive buffer raised by this program to the kernel's limit
// (net.core.rmem_max), to show how much of any loss is the buffer's.
#include "BenchAgent.h"
#include "CountingEventPoster.h"
#include "FrameRing.h"
#include "Report.h"
#include "UdpSender.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUdpSocket>
#include <atomic>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRates[] = {50'000, 100'000, 150'000, 200'000, 250'000, 300'000}; // frames/s
constexpr auto kStepLength = std::chrono::seconds(1);
// After the sender stops: time for the receiver to empty its socket.
constexpr int kDrainMs = 200;
constexpr int kTargetFramesPerSecond = 100'000;

struct Step
{
    quint64 sent = 0;
    quint64 sendFailures = 0;
    double sentPerSecond = 0;
    quint64 committed = 0;
    quint64 kernelDrops = 0;
};

// The kernel's count of datagrams dropped on a full receive buffer, summed over the
// loopback sockets bound to `port` (column "drops" of /proc/net/udp and udp6).
quint64 kernelDrops(quint16 port)
{
    quint64 drops = 0;
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray portField =
            ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
        file.readLine(); // header
        while (!file.atEnd()) {
            const QList<QByteArray> fields = file.readLine().simplified().split(' ');
            if (fields.size() > 12 && fields[1].endsWith(portField))
                drops += fields.last().toULongLong();
        }
    }
    return drops;
}

int readProcNumber(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}

QList<QUdpSocket*> clientSockets(TuioClient& client)
{
    return client.findChildren<QUdpSocket*>();
}

int receiveBufferSize(TuioClient& client)
{
    const QList<QUdpSocket*> sockets = clientSockets(client);
    return sockets.isEmpty() ? 0
                             : sockets.first()
                                   ->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption)
                                   .toInt();
}

class Tracker
{
public:
    explicit Tracker(quint16 port)
        : m_port(port), m_socket(port), m_ring(FrameRing::Fingers::Two, 1024)
    {}

    // Sends at `rate` frames per second for one step, on a thread of its own, while the
    // calling thread runs the event loop; returns once the receiver has drained.
    Step run(int rate, BenchAgent& agent)
    {
        Step step;
        const quint64 committedBefore = agent.client().statistics().committedFrames;
        const quint64 dropsBefore = kernelDrops(m_port);
        std::atomic<bool> done = false;

        std::thread sender([&] {
            send(rate, step);
            done = true;
        });
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done && poll.isActive()) {
                poll.stop();
                QTimer::singleShot(kDrainMs, &loop, &QEventLoop::quit);
            }
        });
        poll.start(10);
        loop.exec();
        sender.join();

        step.committed = agent.client().statistics().committedFrames - committedBefore;
        step.kernelDrops = kernelDrops(m_port) - dropsBefore;
        return step;
    }

private:
    // Paced by the clock, not by sleeping: frame i goes at start + i / rate.
    void send(int rate, Step& step)
    {
        const auto period = std::chrono::duration<double>(1.0 / rate);
        const auto start = Clock::now();
        const auto end = start + kStepLength;
        for (quint64 i = 0;; ++i) {
            const auto due =
                start + std::chrono::duration_cast<Clock::duration>(double(i) * period);
            if (due >= end)
                break;
            while (Clock::now() < due) {
            }
            const QByteArray& bundle = m_ring.next(++m_fseq);
            if (m_socket.send(bundle.constData(), std::size_t(bundle.size())))
                ++step.sent;
            else
                ++step.sendFailures;
        }
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        step.sentPerSecond = double(step.sent) / elapsed.count();
    }

    quint16 m_port;
    // One socket for every step: the loopback listener refuses what it reads after the
    // sending socket closed, and the receiver drains after the sender stops.
    UdpSender m_socket;
    FrameRing m_ring;
    qint32 m_fseq = 0;
};

// Runs every rate step; returns the highest rate at which no frame was lost (0: none).
int runSteps(Tracker& tracker, BenchAgent& agent)
{
    int best = 0;
    for (const int rate : kRates) {
        const Step step = tracker.run(rate, agent);
        const quint64 lost = step.sent - std::min(step.sent, step.committed);
        std::printf("    %6d frames/s: sent %llu (%.0f/s%s), committed %llu, lost %llu "
                    "(kernel buffer drops %llu)\n",
                    rate, static_cast<unsigned long long>(step.sent), step.sentPerSecond,
                    step.sendFailures ? ", some sends failed" : "",
                    static_cast<unsigned long long>(step.committed),
                    static_cast<unsigned long long>(lost),
                    static_cast<unsigned long long>(step.kernelDrops));
        if (lost == 0 && step.sendFailures == 0 && step.sentPerSecond >= 0.98 * rate)
            best = std::max(best, rate);
    }
    return best;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    CountingEventPoster poster;
    BenchAgent agent(poster);
    Tracker tracker(agent.port());

    bench::title("throughput", "two-finger frames over loopback UDP, none lost; one second "
                               "per rate, sender on a second thread");
    const int rmemMax = readProcNumber("/proc/sys/net/core/rmem_max");
    std::printf("  kernel: net.core.rmem_default %d bytes, net.core.rmem_max %d bytes\n",
                readProcNumber("/proc/sys/net/core/rmem_default"), rmemMax);

    const int asBuilt = receiveBufferSize(agent.client());
    std::printf("  the client as built (it does not set SO_RCVBUF): receive buffer %d bytes\n",
                asBuilt);
    const int best = runSteps(tracker, agent);
    std::printf("    highest rate with no loss: %d frames/s; target > %d: %s\n", best,
                kTargetFramesPerSecond, bench::verdict(best > kTargetFramesPerSecond));

    for (QUdpSocket* socket : clientSockets(agent.client()))
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, rmemMax);
    std::printf("  receive buffer raised by this benchmark to rmem_max: %d bytes\n",
                receiveBufferSize(agent.client()));
    const int bestRaised = runSteps(tracker, agent);
    std::printf("    highest rate with no loss: %d frames/s; target > %d: %s\n", bestRaised,
                kTargetFramesPerSecond, bench::verdict(bestRaised > kTargetFramesPerSecond));
    std::printf("  events posted: %llu scroll, %llu mouse\n",
                static_cast<unsigned long long>(poster.scrollEvents()),
                static_cast<unsigned long long>(poster.mouseEvents()));
    return 0;
}
