#include "RecordingTuioListener.h"
#include "tuio/TuioClient.h"
#include "tuio/encoder/TuioBundleWriter.h"
#include "tuio/encoder/TuioSender.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <osc/OscOutboundPacketStream.h>

namespace {

const std::string kSource = "tracker@10.0.0.2";
const QSizeF kScreen(1000, 500); // screen units

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// A client on a free loopback port, a listener, and a tracker that sends to it.
struct Loopback
{
    explicit Loopback(const QString& listenAddress = {}, QHostAddress to = QHostAddress::LocalHost)
        : port(freeUdpPort()), client(port, kScreen, listenAddress), sender(to, port, kSource)
    {
        client.setTuioCursorDelegate(&listener);
    }

    // Sends one datagram and waits until the client has read it.
    bool send(const QByteArray& datagram)
    {
        const quint64 target = client.statistics().datagrams + 1;
        return sender.sendDatagram(datagram) &&
               QTest::qWaitFor([&] { return client.statistics().datagrams >= target; }, 10000);
    }
    bool frame(std::vector<qint32> alive, std::vector<TuioSet> sets, qint32 fseq,
               std::string source = kSource)
    {
        return send(TuioBundleWriter::bundle({source, std::move(alive), std::move(sets), fseq}));
    }

    quint16 port;
    RecordingTuioListener listener; // outlives the client
    TuioClient client;
    TuioSender sender;
};

// One plain /tuio/2Dcur message with the arguments `write` puts in.
template <typename Write> QByteArray cursorMessage(Write write)
{
    char buffer[65536];
    osc::OutboundPacketStream stream(buffer, sizeof buffer);
    stream << osc::BeginMessage("/tuio/2Dcur");
    write(stream);
    stream << osc::EndMessage;
    return QByteArray(stream.Data(), qsizetype(stream.Size()));
}

QByteArray nestedBundles(int depth)
{
    char buffer[4096];
    osc::OutboundPacketStream stream(buffer, sizeof buffer);
    for (int level = 0; level < depth; ++level)
        stream << osc::BeginBundleImmediate;
    stream << osc::BeginMessage("/tuio/2Dcur") << "fseq" << osc::int32(1) << osc::EndMessage;
    for (int level = 0; level < depth; ++level)
        stream << osc::EndBundle;
    return QByteArray(stream.Data(), qsizetype(stream.Size()));
}

QByteArray randomBytes(qsizetype size)
{
    QRandomGenerator generator(20240607); // the same bytes every run
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

} // namespace

class TuioClientTest : public QObject
{
    Q_OBJECT

private slots:
    void callbacksFollowTheFrames();
    void fseqDecidesWhetherAFrameCommits_data();
    void fseqDecidesWhetherAFrameCommits();
    void sourcesAreKeptApart();
    void plainMessagesFormFramesToo();
    void bundleWithOnlyAnEmptyAliveLiftsTheFingers();
    void tooManySourcesForgetTheOldest();
    void malformedInputIsDroppedWhole_data();
    void malformedInputIsDroppedWhole();
    void mutatedDatagramsNeverTakeTheClientDown();
    void warningsAreRateLimited();
    void listensWhereAsked_data();
    void listensWhereAsked();
    void portThatCannotBeOpenedLeavesClientInert_data();
    void portThatCannotBeOpenedLeavesClientInert();
    void destroyingTheClientFreesItsPort();
    void destroyingTheClientInACallbackEndsTheCallbacks();
    void callbacksNeverNest();
};

void TuioClientTest::callbacksFollowTheFrames()
{
    Loopback loopback;
    auto& lines = loopback.listener.lines;
    QVERIFY(loopback.frame({1, 2}, {{1, 0.25f, 0.2f}, {2, 0.5f, 0.5f}}, 1));
    QCOMPARE(lines, QStringList({"add 1 750,400", "add 2 500,250", "frame"}));

    lines.clear();
    QVERIFY(loopback.frame({2, 3}, {{3, 0.0f, 0.0f}, {2, 0.5f, 0.6f}}, 2));
    QCOMPARE(lines,
             QStringList({"remove 1 750,400", "add 3 1000,500", "update 2 500,200", "frame"}));

    lines.clear(); // a set that moves nothing is no update; the frame still ends
    QVERIFY(loopback.frame({2, 3}, {{2, 0.5f, 0.6f}}, 3));
    QCOMPARE(lines, QStringList({"frame"}));

    lines.clear();
    QVERIFY(loopback.frame({}, {}, 4));
    QCOMPARE(lines, QStringList({"remove 2 500,200", "remove 3 1000,500", "frame"}));

    // Finger 2: one object from add through update to remove.
    const auto& cursors = loopback.listener.cursors;
    QCOMPARE(cursors.size(), std::size_t(7));
    QCOMPARE(cursors[1].get(), cursors[4].get());
    QCOMPARE(cursors[1].get(), cursors[5].get());
    QCOMPARE(cursors[1]->source(), QString::fromStdString(kSource));
}

void TuioClientTest::fseqDecidesWhetherAFrameCommits_data()
{
    QTest::addColumn<qint32>("last");
    QTest::addColumn<qint32>("next");
    QTest::addColumn<bool>("commits");
    QTest::newRow("newer") << 10 << 11 << true;
    QTest::newRow("equal: a frame split over bundles") << 10 << 10 << true;
    QTest::newRow("older: late") << 10 << 9 << false;
    QTest::newRow("100 behind: late") << 200 << 100 << false;
    QTest::newRow("101 behind: tracker restarted") << 200 << 99 << true;
    QTest::newRow("zero") << 10 << 0 << true;
    QTest::newRow("-1: unsequenced") << 10 << -1 << true;
    QTest::newRow("first frame of a source") << 0 << 5 << true;
}

void TuioClientTest::fseqDecidesWhetherAFrameCommits()
{
    QFETCH(qint32, last);
    QFETCH(qint32, next);
    QFETCH(bool, commits);
    Loopback loopback;
    QVERIFY(loopback.frame({1}, {{1, 0.5f, 0.5f}}, last));
    loopback.listener.lines.clear();
    QVERIFY(loopback.frame({1, 2}, {{1, 0.6f, 0.5f}, {2, 0.1f, 0.1f}}, next));
    const QStringList expected =
        commits ? QStringList({"add 2 900,450", "update 1 400,250", "frame"}) : QStringList();
    QCOMPARE(loopback.listener.lines, expected);
    QCOMPARE(loopback.client.statistics().lateFrames, commits ? 0u : 1u);
}

void TuioClientTest::sourcesAreKeptApart()
{
    Loopback loopback;
    QVERIFY(loopback.frame({1}, {{1, 0.1f, 0.1f}}, 50, "a@1"));
    QVERIFY(loopback.frame({1}, {{1, 0.2f, 0.2f}}, 1, "b@2")); // its own frame count
    QVERIFY(loopback.frame({1}, {{1, 0.3f, 0.3f}}, 1, ""));    // known by its address
    const auto& cursors = loopback.listener.cursors;
    QCOMPARE(loopback.listener.lines, QStringList({"add 1 900,450", "frame", "add 1 800,400",
                                                   "frame", "add 1 700,350", "frame"}));
    QCOMPARE(cursors[0]->source(), QStringLiteral("a@1"));
    QCOMPARE(cursors[1]->source(), QStringLiteral("b@2"));
    QCOMPARE(cursors[2]->source(), QStringLiteral("127.0.0.1"));

    loopback.listener.lines.clear();
    QVERIFY(loopback.frame({}, {}, 2, "b@2"));
    QCOMPARE(loopback.listener.lines, QStringList({"remove 1 800,400", "frame"}));
    QCOMPARE(loopback.listener.cursors.back().get(), cursors[1].get());
}

void TuioClientTest::plainMessagesFormFramesToo()
{
    Loopback loopback;
    const auto down = TuioBundleWriter::messages({"plain@1", {4}, {{4, 0.5f, 0.5f}}, 1});
    QCOMPARE(down.size(), std::size_t(4));
    for (std::size_t index = 0; index + 1 < down.size(); ++index)
        QVERIFY(loopback.send(down[index]));
    QVERIFY(loopback.listener.lines.isEmpty()); // nothing before fseq
    QVERIFY(loopback.send(down.back()));
    QCOMPARE(loopback.listener.lines, QStringList({"add 4 500,250", "frame"}));

    // Messages after a plain source message stay with that source.
    for (const QByteArray& message : TuioBundleWriter::messages({"", {}, {}, 2}))
        QVERIFY(loopback.send(message));
    QCOMPARE(loopback.listener.lines.mid(2), QStringList({"remove 4 500,250", "frame"}));
    QCOMPARE(loopback.listener.cursors.back()->source(), QStringLiteral("plain@1"));
}

void TuioClientTest::bundleWithOnlyAnEmptyAliveLiftsTheFingers()
{
    Loopback loopback;
    QVERIFY(loopback.frame({3}, {{3, 0.5f, 0.5f}}, 7));
    char buffer[256];
    osc::OutboundPacketStream stream(buffer, sizeof buffer);
    stream << osc::BeginBundleImmediate << osc::BeginMessage("/tuio/2Dcur") << "source"
           << kSource.c_str() << osc::EndMessage << osc::BeginMessage("/tuio/2dCur") << "alive"
           << osc::EndMessage << osc::EndBundle;
    QVERIFY(loopback.send(QByteArray(stream.Data(), qsizetype(stream.Size()))));
    QCOMPARE(loopback.listener.lines.mid(2), QStringList({"remove 3 500,250", "frame"}));
}

void TuioClientTest::tooManySourcesForgetTheOldest()
{
    RecordingTuioListener listener;
    TuioClient client(freeUdpPort(), kScreen);
    client.setTuioCursorDelegate(&listener);
    for (int index = 0; index <= 64; ++index) {
        const QByteArray datagram = TuioBundleWriter::bundle(
            {"tracker" + std::to_string(index), {1}, {{1, 0.5f, 0.5f}}, 1});
        client.processDatagram(datagram.constData(), std::size_t(datagram.size()), "127.0.0.1");
    }
    // The 65th source arrives: the first one's finger lifts, in a frame of its own.
    QCOMPARE(listener.lines.size(), 65 * 2 + 2);
    QCOMPARE(listener.lines.mid(128),
             QStringList({"remove 1 500,250", "frame", "add 1 500,250", "frame"}));
    QCOMPARE(listener.cursors[64]->source(), QStringLiteral("tracker0"));
    QCOMPARE(listener.cursors[64].get(), listener.cursors[0].get());
}

void TuioClientTest::malformedInputIsDroppedWhole_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("badSet"); // dropped as a set rather than as a datagram

    const auto frameThen = [](const QByteArray& bad) {
        // A good frame with a bad message after it: none of it may count.
        char buffer[512];
        osc::OutboundPacketStream stream(buffer, sizeof buffer);
        stream << osc::BeginBundleImmediate << osc::BeginMessage("/tuio/2Dcur") << "alive"
               << osc::int32(9) << osc::EndMessage << osc::BeginMessage("/tuio/2Dcur") << "set"
               << osc::int32(9) << 0.5f << 0.5f << osc::EndMessage;
        stream << osc::BeginMessage("/tuio/2Dcur") << "fseq" << osc::int32(1000) << osc::EndMessage;
        QByteArray datagram(stream.Data(), qsizetype(stream.Size()) - 4); // without EndBundle
        const qint32 size = qToBigEndian(qint32(bad.size()));
        return datagram.append(reinterpret_cast<const char*>(&size), 4).append(bad);
    };
    const QByteArray good = TuioBundleWriter::bundle({kSource, {9}, {{9, 0.5f, 0.5f}}, 1000});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    std::vector<qint32> thousands(3000);
    std::iota(thousands.begin(), thousands.end(), 1);

    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("four bytes, no terminator") << QByteArray("/tui") << false;
    QTest::newRow("not a multiple of four") << good + "x" << false;
    QTest::newRow("truncated bundle") << good.left(good.size() - 8) << false;
    QTest::newRow("random bytes") << randomBytes(512) << false;
    QTest::newRow("no command") << cursorMessage([](auto& s) { s << osc::int32(1); }) << false;
    QTest::newRow("alive id is a float")
        << cursorMessage([](auto& s) { s << "alive" << 1.5f; }) << false;
    QTest::newRow("set coordinate is a string")
        << frameThen(cursorMessage([](auto& s) { s << "set" << osc::int32(1) << "x" << 0.5f; }))
        << false;
    QTest::newRow("set with too few arguments")
        << frameThen(cursorMessage([](auto& s) { s << "set" << osc::int32(1) << 0.5f; })) << false;
    QTest::newRow("fseq without a number") << cursorMessage([](auto& s) { s << "fseq"; }) << false;
    QTest::newRow("source is a number")
        << frameThen(cursorMessage([](auto& s) { s << "source" << osc::int32(5); })) << false;
    QTest::newRow("thousands of cursors")
        << TuioBundleWriter::bundle({kSource, thousands, {}, 3}) << false;
    QTest::newRow("bundles nested too deep") << nestedBundles(40) << false;
    QTest::newRow("set x NaN") << TuioBundleWriter::bundle({kSource, {9}, {{9, nan, 0.5f}}, 1})
                               << true;
    QTest::newRow("set y infinite")
        << TuioBundleWriter::bundle({kSource, {9}, {{9, 0.5f, -infinity}}, 1}) << true;
    QTest::newRow("set x absurd") << TuioBundleWriter::bundle({kSource, {9}, {{9, 1e9f, 0.5f}}, 1})
                                  << true;
}

void TuioClientTest::malformedInputIsDroppedWhole()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, badSet);
    Loopback loopback;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^TUIO: ignored 1 malformed input"));
    QTest::failOnWarning(QRegularExpression("."));
    QVERIFY(loopback.send(datagram));
    const auto statistics = loopback.client.statistics();
    QCOMPARE(statistics.malformed, badSet ? 0u : 1u);
    QCOMPARE(statistics.droppedSets, badSet ? 1u : 0u);
    QVERIFY(!loopback.listener.lines.contains("add 9 500,250"));

    // The client goes on as before.
    loopback.listener.lines.clear();
    QVERIFY(loopback.frame({5}, {{5, 0.5f, 0.5f}}, 2000));
    QCOMPARE(loopback.listener.lines, QStringList({"add 5 500,250", "frame"}));
}

void TuioClientTest::mutatedDatagramsNeverTakeTheClientDown()
{
    RecordingTuioListener listener;
    TuioClient client(freeUdpPort(), kScreen);
    client.setTuioCursorDelegate(&listener);
    const QByteArray valid = TuioBundleWriter::bundle(
        {kSource, {1, 2}, {{1, 0.25f, 0.5f, 0.1f, 0.1f, 1}, {2, 0.75f, 0.5f}}, 5});
    QRandomGenerator generator(7); // the same mutations every run
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^TUIO: ignored 1 malformed"));
    for (int round = 0; round < 5000; ++round) {
        QByteArray mutated = valid;
        for (int flips = 1 + int(generator.bounded(4)); flips > 0; --flips)
            mutated[generator.bounded(int(mutated.size()))] = char(generator.bounded(256));
        mutated.truncate(qsizetype(generator.bounded(int(mutated.size()) + 1)));
        // An exact-size copy, so that reading past its end is a fault the sanitizer sees.
        const std::vector<char> exact(mutated.begin(), mutated.end());
        client.processDatagram(exact.data(), exact.size(), "127.0.0.1");
    }
    const auto statistics = client.statistics();
    QCOMPARE(statistics.datagrams, 5000u);
    QVERIFY(statistics.malformed > 4000u);
    for (const TuioCursorPtr& cursor : listener.cursors) {
        QVERIFY(std::isfinite(cursor->position().x()) && std::isfinite(cursor->position().y()));
    }

    listener.lines.clear(); // and it still reads good frames
    const QByteArray lift = TuioBundleWriter::bundle({"other@1", {}, {}, 1});
    const QByteArray down = TuioBundleWriter::bundle({"other@1", {3}, {{3, 0.5f, 0.5f}}, 2});
    client.processDatagram(lift.constData(), std::size_t(lift.size()), "127.0.0.1");
    client.processDatagram(down.constData(), std::size_t(down.size()), "127.0.0.1");
    QCOMPARE(listener.lines, QStringList({"frame", "add 3 500,250", "frame"}));
}

void TuioClientTest::warningsAreRateLimited()
{
    TuioClient client(freeUdpPort(), kScreen);
    const QByteArray oversized(70000, '\0'); // more than any UDP datagram holds
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("^TUIO: ignored 1 malformed .*datagram too large"));
    QTest::failOnWarning(QRegularExpression("."));
    for (int count = 0; count < 50; ++count)
        client.processDatagram(oversized.constData(), std::size_t(oversized.size()), "127.0.0.1");
    QCOMPARE(client.statistics().malformed, 50u);
}

void TuioClientTest::listensWhereAsked_data()
{
    QTest::addColumn<QString>("listenAddress");
    QTest::addColumn<QString>("sendTo");
    QTest::newRow("loopback, IPv4") << QString() << "127.0.0.1";
    QTest::newRow("loopback, IPv6") << QString() << "::1";
    QTest::newRow("every interface") << "any"
                                     << "127.0.0.1";
    QTest::newRow("an address") << "127.0.0.1"
                                << "127.0.0.1";
}

void TuioClientTest::listensWhereAsked()
{
    QFETCH(QString, listenAddress);
    QFETCH(QString, sendTo);
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(sendTo), 0))
        QSKIP("this machine has no such address");
    Loopback loopback(listenAddress, QHostAddress(sendTo));
    QVERIFY(loopback.client.isListening());
    QVERIFY(loopback.frame({1}, {{1, 0.5f, 0.5f}}, 1, ""));
    QCOMPARE(loopback.listener.cursors.at(0)->source(), sendTo);
}

void TuioClientTest::portThatCannotBeOpenedLeavesClientInert_data()
{
    QTest::addColumn<qint32>("port");
    QTest::addColumn<QString>("listenAddress");
    QTest::addColumn<bool>("taken");
    QTest::newRow("taken") << qint32(freeUdpPort()) << QString() << true;
    QTest::newRow("zero") << 0 << QString() << false;
    QTest::newRow("70000") << 70000 << QString() << false;
    QTest::newRow("negative") << -3333 << QString() << false;
    QTest::newRow("not an address") << qint32(freeUdpPort()) << "somewhere" << false;
}

void TuioClientTest::portThatCannotBeOpenedLeavesClientInert()
{
    QFETCH(qint32, port);
    QFETCH(QString, listenAddress);
    QFETCH(bool, taken);
    QUdpSocket other;
    if (taken)
        QVERIFY(other.bind(QHostAddress::LocalHost, quint16(port)));
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression(QStringLiteral("^TUIO: cannot listen on UDP port %1").arg(port)));
    QTest::failOnWarning(QRegularExpression("."));
    TuioClient client(port, kScreen, listenAddress);
    QVERIFY(!client.isListening());
    QCOMPARE(client.port(), port);
}

void TuioClientTest::destroyingTheClientFreesItsPort()
{
    const quint16 port = freeUdpPort();
    auto first = std::make_unique<TuioClient>(port, kScreen);
    QVERIFY(first->isListening());
    first.reset();
    TuioClient second(port, kScreen);
    QVERIFY(second.isListening());
}

void TuioClientTest::destroyingTheClientInACallbackEndsTheCallbacks()
{
    const quint16 port = freeUdpPort();
    RecordingTuioListener listener;
    auto* client = new TuioClient(port, kScreen);
    client->setTuioCursorDelegate(&listener);
    listener.onCallback = [&] { delete client; };
    TuioSender sender(QHostAddress::LocalHost, port);
    QVERIFY(sender.sendFrame({1, 2}, {{1, 0.5f, 0.5f}, {2, 0.5f, 0.5f}}));
    QTRY_COMPARE(listener.lines, QStringList({"add 1 500,250"}));
    // The port is free again and nothing more comes.
    QUdpSocket rebind;
    QVERIFY(rebind.bind(QHostAddress::LocalHost, port));
    QCOMPARE(listener.cursors.at(0).use_count(), 1); // the cursor outlived the client
}

void TuioClientTest::callbacksNeverNest()
{
    Loopback loopback;
    const QByteArray second = TuioBundleWriter::bundle({kSource, {1, 2}, {{2, 0.0f, 0.0f}}, 2});
    bool sent = false;
    loopback.listener.onCallback = [&] {
        if (!std::exchange(sent, true)) // as if a nested event loop read the next datagram
            loopback.client.processDatagram(second.constData(), std::size_t(second.size()),
                                            "127.0.0.1");
    };
    QVERIFY(loopback.frame({1}, {{1, 0.5f, 0.5f}}, 1));
    QCOMPARE(loopback.listener.lines,
             QStringList({"add 1 500,250", "frame", "add 2 1000,500", "frame"}));
}

QTEST_GUILESS_MAIN(TuioClientTest)
#include "tst_tuio_client.moc"
