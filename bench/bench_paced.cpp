// CPU time per frame of the agent's receiving thread at paced rates: two-finger scrolling frames
// sent over loopback UDP by a second thread at 1 000 and 20 000 frames/s and at the highest rate
// this machine takes without loss, received by the agent's controller and TUIO client on the
// main event loop. The CPU time is that thread's own (getrusage RUSAGE_THREAD), so the sender's
// work is not counted.
//
// Posters: one that only counts (the cost of receiving and recognising), and XTest into the X
// server of $DISPLAY when there is one (the cost with a real desktop at the other end). The
// baseline, measured in the same run, is a bare receiver on the same event loop: a plain socket
// drained with recv() and nothing else, the least any receiver pays per datagram.
#include "BareReceiver.h"
#include "BenchAgent.h"
#include "CountingEventPoster.h"
#include "FrameRing.h"
#include "Report.h"
#include "UdpSender.h"
#include "platform/XTestEventPoster.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <sys/resource.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPacedRates[] = {1'000, 20'000};                                // frames/s
constexpr int kSearchRates[] = {100'000, 150'000, 200'000, 250'000, 300'000}; // frames/s
constexpr auto kStepLength = std::chrono::seconds(2);
constexpr int kDrainMs = 200; // after the sender stops: time to empty the socket
constexpr double kTargetMicrosecondsAt20k = 3.0;
constexpr int kTargetLosslessRate = 200'000; // frames/s

double threadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What one receiver has taken in so far, and where the frames go.
class Receiver
{
public:
    virtual ~Receiver() = default;
    virtual quint16 port() const = 0;
    virtual quint64 received() const = 0;
};

class AgentReceiver final : public Receiver
{
public:
    explicit AgentReceiver(platform::EventPoster& poster) : m_agent(poster) {}
    quint16 port() const override { return m_agent.port(); }
    quint64 received() const override
    {
        return const_cast<BenchAgent&>(m_agent).client().statistics().committedFrames;
    }

private:
    BenchAgent m_agent;
};

class BareBaseline final : public Receiver
{
public:
    quint16 port() const override { return m_bare.port(); }
    quint64 received() const override { return m_bare.received(); }

private:
    BareReceiver m_bare;
};

struct Step
{
    int rate = 0;
    quint64 sent = 0;
    quint64 received = 0;
    double cpuSeconds = 0;
    bool lossless() const { return sent > 0 && received >= sent; }
    double microsecondsPerFrame() const
    {
        return received ? cpuSeconds * 1e6 / double(received) : 0;
    }
};

// Sends at `rate` for one step from a second thread while this thread runs the event loop.
Step runStep(Receiver& receiver, int rate, qint32& fseq)
{
    Step step;
    step.rate = rate;
    FrameRing ring(FrameRing::Fingers::Two, 1024);
    const quint64 receivedBefore = receiver.received();
    std::atomic<bool> done = false;
    const double cpuBefore = threadCpuSeconds();
    // Open until the receiver has drained: the loopback listener refuses what it reads after
    // the sending socket closed.
    UdpSender socket(receiver.port());
    std::thread sender([&] {
        const auto period = std::chrono::duration<double>(1.0 / rate);
        const auto start = Clock::now();
        for (quint64 i = 0;; ++i) {
            const auto due =
                start + std::chrono::duration_cast<Clock::duration>(double(i) * period);
            if (due >= start + kStepLength)
                break;
            // Sleep through long gaps (low rates) so the sender leaves the receiver its core.
            if (due - Clock::now() > std::chrono::microseconds(200))
                std::this_thread::sleep_until(due - std::chrono::microseconds(100));
            while (Clock::now() < due) {
            }
            const QByteArray& bundle = ring.next(++fseq);
            if (socket.send(bundle.constData(), std::size_t(bundle.size())))
                ++step.sent;
        }
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
    poll.start(50);
    loop.exec();
    sender.join();
    step.cpuSeconds = threadCpuSeconds() - cpuBefore;
    step.received = receiver.received() - receivedBefore;
    return step;
}

void print(const char* who, const Step& step)
{
    std::printf("    %-24s %7d frames/s: sent %llu, received %llu%s, %.2f us CPU per frame\n", who,
                step.rate, static_cast<unsigned long long>(step.sent),
                static_cast<unsigned long long>(step.received), step.lossless() ? "" : " (LOSS)",
                step.microsecondsPerFrame());
}

std::string versus(const Step& step, const Step& floor)
{
    return bench::format("bare receiver %.2f us: %.1fx", floor.microsecondsPerFrame(),
                         step.microsecondsPerFrame() / floor.microsecondsPerFrame());
}

// The highest of kSearchRates taken without loss, with its step; rate 0 when none was.
Step highestLosslessRate(const char* who, Receiver& receiver, qint32& fseq)
{
    Step best;
    for (const int rate : kSearchRates) {
        const Step step = runStep(receiver, rate, fseq);
        print(who, step);
        if (!step.lossless())
            break;
        best = step;
    }
    return best;
}

// The paced steps for the agent and for the bare receiver, side by side.
void measure(const char* who, const char* poster, Receiver& receiver, Receiver& bare,
             bool searchHighestRate)
{
    qint32 fseq = 0;
    qint32 bareFseq = 0;
    for (const int rate : kPacedRates) {
        const Step step = runStep(receiver, rate, fseq);
        const Step floor = runStep(bare, rate, bareFseq);
        print(who, step);
        print("bare receiver", floor);
        if (rate != 20'000)
            continue;
        const double cost = step.microsecondsPerFrame();
        bench::tableRow(bench::format("CPU per frame at 20 000 frames/s, %s", poster),
                        bench::format("%.2f us%s", cost, step.lossless() ? "" : ", LOSS"),
                        bench::format("<= %.1f us", kTargetMicrosecondsAt20k),
                        step.lossless() && cost <= kTargetMicrosecondsAt20k, versus(step, floor));
    }
    if (!searchHighestRate)
        return;
    const Step best = highestLosslessRate(who, receiver, fseq);
    const Step bareBest = highestLosslessRate("bare receiver", bare, bareFseq);
    bench::tableRow(bench::format("highest lossless loopback rate, %s", poster),
                    bench::format("%d frames/s (%.2f us CPU per frame)", best.rate,
                                  best.microsecondsPerFrame()),
                    bench::format(">= %d frames/s", kTargetLosslessRate),
                    best.rate >= kTargetLosslessRate,
                    bench::format("bare receiver %d frames/s", bareBest.rate));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    bench::title("paced", "CPU per frame of the receiving thread, two-finger frames over "
                          "loopback UDP at paced rates, 2 s a step");
    BareBaseline bare;
    {
        CountingEventPoster poster;
        AgentReceiver agent(poster);
        measure("agent, counting poster", "counting poster", agent, bare, true);
    }
    QString failure;
    const auto xtest = platform::XTestEventPoster::create(&failure);
    if (!xtest) {
        std::printf("  XTest: skipped (%s)\n", qPrintable(failure));
        return 0;
    }
    AgentReceiver agent(*xtest);
    std::printf("  XTest into %s\n", qPrintable(xtest->displayName()));
    measure("agent, XTest", "XTest under Xvfb", agent, bare, false);
    xtest->releaseHeldButtons();
    return 0;
}
