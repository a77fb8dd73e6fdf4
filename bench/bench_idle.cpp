// The idle agent: the real agent program in a private home with a port of its own, left alone
// for a few seconds. Counts its wake-ups (context switches, voluntary and involuntary, of all
// its threads) and reads its resident memory. It runs with the environment it is given: with
// or without an X display and a session bus (its own log lines say which it found).
#include "BenchAgent.h"
#include "Report.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsKeys.h"
#include "tests/support/UdpPorts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <map>

namespace {

constexpr int kSettleMs = 1000; // after the port is open: start-up work finishes
constexpr int kIdleMs = 5000;   // the measured quiet time
constexpr int kStartTimeoutMs = 20000;
constexpr double kTargetRssMB = 15;

struct ThreadSample
{
    QString name;
    quint64 switches = 0; // voluntary + involuntary
};

using ProcessSample = std::map<QString, ThreadSample>; // by thread id

// The "Key:   value" fields of a /proc status file.
std::map<QByteArray, QByteArray> statusFields(const QString& path)
{
    std::map<QByteArray, QByteArray> fields;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fields;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            fields[line.left(colon)] = line.mid(colon + 1).trimmed();
    }
    return fields;
}

ProcessSample sampleThreads(qint64 pid)
{
    ProcessSample sample;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        auto fields = statusFields(tasks.filePath(tid + QStringLiteral("/status")));
        if (fields.empty())
            continue; // ended meanwhile
        sample[tid] = {QString::fromUtf8(fields["Name"]),
                       fields["voluntary_ctxt_switches"].toULongLong() +
                           fields["nonvoluntary_ctxt_switches"].toULongLong()};
    }
    return sample;
}

double kilobytesToMB(const QByteArray& field) // "12345 kB"
{
    return field.split(' ').first().toDouble() / 1024.0;
}

void storeSettings(const QString& home, quint16 port)
{
    platform::UserDefaults defaults(home + QStringLiteral("/.config"));
    defaults.setPersistentDomain(
        {{kPortStr, QVariant::fromValue<qint32>(port)}, {kDebugLogging, false}}, kDomainName);
    defaults.synchronize();
}

bool waitUntilListening(QProcess& agent, quint16 port)
{
    QElapsedTimer timer;
    timer.start();
    while (!isUdpPortTaken(port)) {
        if (timer.elapsed() > kStartTimeoutMs || agent.state() != QProcess::Running)
            return false;
        QThread::msleep(20);
    }
    return true;
}

void printLog(QProcess& agent)
{
    const QList<QByteArray> lines = agent.readAllStandardError().split('\n');
    for (const QByteArray& line : lines) {
        if (!line.isEmpty())
            std::printf("    | %s\n", line.constData());
    }
}

void printWakeUps(const ProcessSample& before, const ProcessSample& after, quint64& total)
{
    for (const auto& [tid, thread] : after) {
        const auto earlier = before.find(tid);
        const quint64 woke =
            thread.switches - (earlier == before.end() ? 0 : earlier->second.switches);
        total += woke;
        std::printf("    thread %s (%s): %llu\n", qPrintable(tid), qPrintable(thread.name),
                    static_cast<unsigned long long>(woke));
    }
    for (const auto& [tid, thread] : before) {
        if (!after.contains(tid))
            std::printf("    thread %s (%s) ended meanwhile\n", qPrintable(tid),
                        qPrintable(thread.name));
    }
}

} // namespace

// The baseline, measured in the same run: a process that only runs a Qt event loop, the least
// resident memory any Qt program here has.
double bareEventLoopRssMB()
{
    QProcess bare;
    bare.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--bare-event-loop")});
    if (!bare.waitForStarted(kStartTimeoutMs))
        return 0;
    QThread::msleep(kSettleMs);
    const double rss = kilobytesToMB(
        statusFields(QStringLiteral("/proc/%1/status").arg(bare.processId()))["VmRSS"]);
    bare.kill();
    bare.waitForFinished(5000);
    return rss;
}

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (application.arguments().value(1) == QLatin1String("--bare-event-loop"))
        return application.exec();
    bench::title("idle", "the agent program left alone, no input");

    QTemporaryDir home;
    const quint16 port = freeUdpPort();
    storeSettings(home.path(), port);

    QProcess agent;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
    agent.setProcessEnvironment(environment);
    std::printf("  environment: DISPLAY=%s, session bus %s\n",
                qPrintable(environment.value(QStringLiteral("DISPLAY"), QStringLiteral("(none)"))),
                environment.contains(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")) ? "given"
                                                                                 : "none");
    agent.start(QStringLiteral(TACTALON_AGENT_PROGRAM), {});
    if (!agent.waitForStarted(kStartTimeoutMs) || !waitUntilListening(agent, port)) {
        std::printf("  the agent did not come up on UDP port %u\n", port);
        printLog(agent);
        return 1;
    }
    QThread::msleep(kSettleMs);

    const qint64 pid = agent.processId();
    const ProcessSample before = sampleThreads(pid);
    QThread::msleep(kIdleMs);
    const ProcessSample after = sampleThreads(pid);
    auto memory = statusFields(QStringLiteral("/proc/%1/status").arg(pid));

    std::printf("  wake-ups (context switches) over %d s idle, per thread:\n", kIdleMs / 1000);
    quint64 total = 0;
    printWakeUps(before, after, total);
    std::printf("    all threads: %llu (%.1f per second)\n", static_cast<unsigned long long>(total),
                double(total) * 1000.0 / kIdleMs);
    const double rss = kilobytesToMB(memory["VmRSS"]);
    std::printf("  resident memory: VmRSS %.1f MB (anonymous %.1f MB, file-backed %.1f MB), "
                "peak VmHWM %.1f MB\n",
                rss, kilobytesToMB(memory["RssAnon"]), kilobytesToMB(memory["RssFile"]),
                kilobytesToMB(memory["VmHWM"]));

    agent.terminate(); // SIGTERM, as the service launcher ends it
    if (!agent.waitForFinished(10000)) {
        agent.kill();
        agent.waitForFinished(5000);
    }
    std::printf("  the agent's log:\n");
    printLog(agent);

    const double bareRss = bareEventLoopRssMB();
    bench::tableRow(bench::format("idle agent: wake-ups in %d s", kIdleMs / 1000),
                    bench::format("%llu", static_cast<unsigned long long>(total)), "0", total == 0,
                    "-");
    bench::tableRow("idle agent: resident memory (VmRSS)", bench::format("%.1f MB", rss),
                    bench::format("<= %.0f MB", kTargetRssMB), rss <= kTargetRssMB,
                    bench::format("bare Qt event loop %.1f MB: +%.1f MB", bareRss, rss - bareRss));
    return 0;
}
