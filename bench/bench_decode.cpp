// Decoding plus gesture processing from memory, no socket: prebuilt two-finger bundles fed to
// TuioClient::processDatagram with the agent's controller as listener and a poster that only
// counts. Both fingers move in every frame (two updates), and the pair scrolls, so every frame
// end posts one scroll-wheel event. One thread, so the rate is that of one core.
#include "BenchAgent.h"
#include "CountingEventPoster.h"
#include "FrameRing.h"
#include "Report.h"

#include <QCoreApplication>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kWarmUpFrames = 200'000;
constexpr std::size_t kFramesPerRun = 1'000'000;
constexpr int kRuns = 5;
constexpr double kTargetFramesPerSecond = 3'500'000;

class Feeder
{
public:
    explicit Feeder(TuioClient& client)
        : m_client(client), m_ring(FrameRing::Fingers::Two, 1024),
          m_sender(QStringLiteral("127.0.0.1"))
    {}

    // Feeds `frames` frames; returns frames per second.
    double feed(std::size_t frames)
    {
        const auto start = Clock::now();
        for (std::size_t i = 0; i < frames; ++i) {
            const QByteArray& bundle = m_ring.next(++m_fseq);
            m_client.processDatagram(bundle.constData(), std::size_t(bundle.size()), m_sender);
        }
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        return double(frames) / elapsed.count();
    }

private:
    TuioClient& m_client;
    FrameRing m_ring;
    const QString m_sender;
    qint32 m_fseq = 0;
};

std::vector<double> measure(Feeder& feeder)
{
    std::vector<double> rates;
    for (int run = 0; run < kRuns; ++run)
        rates.push_back(feeder.feed(kFramesPerRun));
    return rates;
}

void print(const char* what, const std::vector<double>& rates)
{
    const double median = bench::median(rates);
    std::printf("  %s: median %.0f frames/s (%.0f ns/frame), best %.0f frames/s, %d runs of "
                "%zu frames\n",
                what, median, 1e9 / median, *std::max_element(rates.begin(), rates.end()), kRuns,
                kFramesPerRun);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    CountingEventPoster poster;
    BenchAgent agent(poster);
    TuioClient& client = agent.client();
    Feeder feeder(client);

    bench::title("decode", "TuioClient::processDatagram + gestures from memory, two fingers");
    feeder.feed(kWarmUpFrames);

    const auto before = client.statistics();
    const quint64 mouseBefore = poster.mouseEvents();
    const quint64 scrollsBefore = poster.scrollEvents();
    const std::vector<double> withGestures = measure(feeder);
    const auto after = client.statistics();
    const quint64 frames = quint64(kRuns) * kFramesPerRun;
    const quint64 committed = after.committedFrames - before.committedFrames;
    const quint64 scrolls = poster.scrollEvents() - scrollsBefore;

    print("decode + tracking + gestures", withGestures);
    std::printf("    %llu frames fed, %llu committed, %llu dropped; %llu scroll events "
                "(%.2f per frame), %llu mouse events, %lld pixels scrolled in all\n",
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(committed),
                static_cast<unsigned long long>(after.malformed - before.malformed +
                                                after.lateFrames - before.lateFrames),
                static_cast<unsigned long long>(scrolls), double(scrolls) / double(frames),
                static_cast<unsigned long long>(poster.mouseEvents() - mouseBefore),
                static_cast<long long>(poster.scrolledPixels()));

    // The same frames with no listener: what the client costs alone.
    client.setTuioCursorDelegate(nullptr);
    const std::vector<double> decodeOnly = measure(feeder);
    print("decode + tracking only (no listener)", decodeOnly);
    client.setTuioCursorDelegate(&agent.controller());

    const double rate = bench::median(withGestures);
    bench::tableRow(
        "decode + tracking + gestures, from memory", bench::format("%.2f M frames/s", rate / 1e6),
        bench::format(">= %.1f M frames/s", kTargetFramesPerSecond / 1e6),
        committed == frames && rate >= kTargetFramesPerSecond,
        bench::format("decode + tracking alone %.2f M/s: %.0f%% of it",
                      bench::median(decodeOnly) / 1e6, 100 * rate / bench::median(decodeOnly)));
    return 0;
}
