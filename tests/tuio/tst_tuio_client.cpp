#include "Loopback.h"
#include "SenderProcess.h"
#include "tuio/LocalSenderCheck.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtEndian>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <osc/OscOutboundPacketStream.h>

namespace {

using Stream = osc::OutboundPacketStream;

// One OSC packet holding what `write` puts in.
QByteArray packet(const std::function<void(Stream&)>& write)
{
    std::vector<char> buffer(65536);
    Stream stream(buffer.data(), buffer.size());
    write(stream);
    return QByteArray(stream.Data(), qsizetype(stream.Size()));
}

const QByteArray kFingerDown = TuioBundleWriter::bundle({kSource, {1}, {{1, 0.5f, 0.5f}}, 1});

// A client made while this process's effective user is `user`, which it then takes for its own.
std::unique_ptr<TuioClient> clientOf(uid_t user, quint16 port, const QString& listenAddress)
{
    if (::seteuid(user) != 0)
        return nullptr;
    auto client = std::make_unique<TuioClient>(port, kScreen, listenAddress);
    return ::seteuid(0) == 0 ? std::move(client) : nullptr;
}

// The log line of a refused sender, as a pattern.
QRegularExpression refusal(const QHostAddress& host, quint16 port, const QString& why)
{
    const QString sender = host.protocol() == QAbstractSocket::IPv6Protocol
                               ? QStringLiteral("[%1]:%2").arg(host.toString()).arg(port)
                               : QStringLiteral("%1:%2").arg(host.toString()).arg(port);
    return QRegularExpression("^TUIO: refused datagrams from " +
                              QRegularExpression::escape(sender + why));
}

QByteArray bigEndian32(quint32 value)
{
    const quint32 bytes = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&bytes), 4);
}

QByteArray cursorMessage(const std::function<void(Stream&)>& arguments)
{
    return packet([&](Stream& s) {
        s << osc::BeginMessage("/tuio/2Dcur");
        arguments(s);
        s << osc::EndMessage;
    });
}

// A good frame (finger 9 down, fseq 1000) with `element` among its bundle elements: raw bytes,
// also what oscpack's writer would refuse to write.
QByteArray frameWithElement(const QByteArray& element)
{
    QByteArray bundle = QByteArray("#bundle\0", 8) + bigEndian32(0) + bigEndian32(1);
    for (const QByteArray& each :
         {cursorMessage([](Stream& s) { s << "alive" << osc::int32(9); }),
          cursorMessage([](Stream& s) { s << "set" << osc::int32(9) << 0.5f << 0.5f; }), element,
          cursorMessage([](Stream& s) { s << "fseq" << osc::int32(1000); })})
        bundle += bigEndian32(quint32(each.size())) + each;
    return bundle;
}

// A good frame with one /tuio/2Dcur message of `bad` arguments in it.
QByteArray frameWith(const std::function<void(Stream&)>& bad)
{
    return frameWithElement(cursorMessage(bad));
}

void feed(TuioClient& client, const QByteArray& datagram)
{
    // An exact-size copy, so that reading past its end is a fault the sanitizer sees.
    const std::vector<char> exact(datagram.begin(), datagram.end());
    client.processDatagram(exact.data(), exact.size(), "127.0.0.1");
}

} // namespace

class TuioClientTest : public QObject
{
    Q_OBJECT

private slots:
    void callbacksFollowTheFrames()
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

        // A frame without alive moves the fingers it has and adds none; an id listed twice in
        // an alive is one finger.
        lines.clear();
        QVERIFY(loopback.send(packet([](Stream& s) {
            s << osc::BeginBundleImmediate << osc::BeginMessage("/tuio/2Dcur") << "source"
              << kSource.c_str() << osc::EndMessage << osc::BeginMessage("/tuio/2Dcur") << "set"
              << osc::int32(2) << 0.5f << 0.7f << osc::EndMessage
              << osc::BeginMessage("/tuio/2Dcur") << "set" << osc::int32(8) << 0.1f << 0.1f
              << osc::EndMessage << osc::BeginMessage("/tuio/2Dcur") << "fseq" << osc::int32(4)
              << osc::EndMessage << osc::EndBundle;
        })));
        QCOMPARE(lines, QStringList({"update 2 500,150", "frame"}));
        lines.clear();
        QVERIFY(loopback.frame({2, 3, 4, 4}, {{4, 0.5f, 0.5f}}, 5));
        QCOMPARE(lines, QStringList({"add 4 500,250", "frame"}));

        // A bundle with an alive but no fseq is a frame of its own (profile name in lower case).
        lines.clear();
        QVERIFY(loopback.send(packet([](Stream& s) {
            s << osc::BeginBundleImmediate << osc::BeginMessage("/tuio/2Dcur") << "source"
              << kSource.c_str() << osc::EndMessage << osc::BeginMessage("/tuio/2dCur") << "alive"
              << osc::EndMessage << osc::EndBundle;
        })));
        QCOMPARE(lines, QStringList({"remove 2 500,150", "remove 3 1000,500", "remove 4 500,250",
                                     "frame"}));

        // Finger 2: one object from add through updates to remove.
        const auto& cursors = loopback.listener.cursors;
        QCOMPARE(cursors.size(), std::size_t(10));
        QCOMPARE(cursors[1].get(), cursors[4].get());
        QCOMPARE(cursors[1].get(), cursors[5].get());
        QCOMPARE(cursors[1].get(), cursors[7].get());
        QCOMPARE(cursors[1]->source(), QString::fromStdString(kSource));
    }

    void fseqDecidesWhetherAFrameCommits_data()
    {
        QTest::addColumn<qint32>("last");
        QTest::addColumn<qint32>("next");
        QTest::addColumn<bool>("commits");
        QTest::newRow("equal: a frame split over bundles") << 10 << 10 << true;
        QTest::newRow("older: late") << 10 << 9 << false;
        QTest::newRow("100 behind: late") << 200 << 100 << false;
        QTest::newRow("101 behind: tracker restarted") << 200 << 99 << true;
        QTest::newRow("zero") << 10 << 0 << true;
        QTest::newRow("-1: unsequenced") << 10 << -1 << true;
    }
    void fseqDecidesWhetherAFrameCommits()
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

    void sourcesAreKeptApartAndTheOldestForgotten()
    {
        Loopback loopback;
        auto& lines = loopback.listener.lines;
        const auto& cursors = loopback.listener.cursors;
        QVERIFY(loopback.frame({1}, {{1, 0.1f, 0.1f}}, 50, "a@1"));
        QVERIFY(loopback.frame({1}, {{1, 0.2f, 0.2f}}, 1, "b@2")); // its own frame count
        QVERIFY(loopback.frame({1}, {{1, 0.3f, 0.3f}}, 1, ""));    // known by its address
        QCOMPARE(lines, QStringList({"add 1 900,450", "frame", "add 1 800,400", "frame",
                                     "add 1 700,350", "frame"}));

        lines.clear();
        QVERIFY(loopback.frame({}, {}, 2, "b@2"));
        QCOMPARE(lines, QStringList({"remove 1 800,400", "frame"}));
        QCOMPARE(cursors.back().get(), cursors[1].get());

        // 64 sources are kept: the 65th makes the least recently heard one (a@1) lift its
        // finger, in a frame of its own.
        lines.clear();
        for (int index = 0; index < 62; ++index)
            feed(loopback.client, TuioBundleWriter::bundle(
                                      {"t" + std::to_string(index), {1}, {{1, 0.5f, 0.5f}}, 1}));
        QCOMPARE(lines.size(), 62 * 2 + 2);
        QCOMPARE(lines.mid(122),
                 QStringList({"remove 1 900,450", "frame", "add 1 500,250", "frame"}));
        QCOMPARE(cursors[cursors.size() - 2].get(), cursors[0].get());
    }

    void plainMessagesFormFramesToo()
    {
        Loopback loopback;
        const auto down = TuioBundleWriter::messages({"plain@1", {4}, {{4, 0.5f, 0.5f}}, 1});
        for (std::size_t index = 0; index + 1 < down.size(); ++index)
            QVERIFY(loopback.send(down[index]));
        QVERIFY(loopback.listener.lines.isEmpty()); // nothing before fseq
        QVERIFY(loopback.send(down.back()));
        QCOMPARE(loopback.listener.lines, QStringList({"add 4 500,250", "frame"}));

        // Messages after a plain source message stay with that source.
        for (const QByteArray& message : TuioBundleWriter::messages({"", {}, {}, 2}))
            QVERIFY(loopback.send(message));
        QCOMPARE(loopback.listener.lines.mid(2), QStringList({"remove 4 500,250", "frame"}));
    }

    void malformedInputIsDroppedWhole_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("badSet"); // dropped as a set rather than as a datagram
        const auto bundle = [](float x, float y, std::vector<qint32> alive = {9}) {
            return TuioBundleWriter::bundle({kSource, std::move(alive), {{9, x, y}}, 1000});
        };
        std::vector<qint32> thousands(3000);
        std::iota(thousands.begin(), thousands.end(), 1);

        QTest::newRow("truncated bundle") << bundle(0.5f, 0.5f).chopped(8) << false;
        QTest::newRow("alive id is a float")
            << frameWith([](Stream& s) { s << "alive" << 1.5f; }) << false;
        QTest::newRow("set coordinate is a string")
            << frameWith([](Stream& s) { s << "set" << osc::int32(1) << "x" << 0.5f; }) << false;
        QTest::newRow("set with too few arguments")
            << frameWith([](Stream& s) { s << "set" << osc::int32(1) << 0.5f; }) << false;
        QTest::newRow("fseq not a number")
            << frameWith([](Stream& s) { s << "fseq" << 1.5f; }) << false;
        QTest::newRow("thousands of cursors") << bundle(0.5f, 0.5f, thousands) << false;
        QTest::newRow("more sets than a frame holds") << packet([](Stream& s) {
            s << osc::BeginBundleImmediate << osc::BeginMessage("/tuio/2Dcur") << "alive"
              << osc::int32(9) << osc::EndMessage;
            for (int set = 0; set <= 1024; ++set)
                s << osc::BeginMessage("/tuio/2Dcur") << "set" << osc::int32(9) << 0.5f << 0.5f
                  << osc::EndMessage;
            s << osc::BeginMessage("/tuio/2Dcur") << "fseq" << osc::int32(1000) << osc::EndMessage
              << osc::EndBundle;
        }) << false;
        QTest::newRow("bundles nested too deep") << packet([](Stream& s) {
            for (int level = 0; level < 40; ++level)
                s << osc::BeginBundleImmediate;
            s << osc::BeginMessage("/tuio/2Dcur") << "fseq" << osc::int32(1) << osc::EndMessage;
            for (int level = 0; level < 40; ++level)
                s << osc::EndBundle;
        }) << false;
        // oscpack reads a blob size past the end (SIGSEGV), and loops for ever on a bundle
        // element of 0xFFFFFFFC bytes.
        QTest::newRow("blob size past the end")
            << QByteArray("/a\0\0,bb\0", 8) + bigEndian32(0x7ffffff0) + bigEndian32(0) << false;
        QTest::newRow("bundle element size wrapping to zero")
            << QByteArray("#bundle\0", 8) + bigEndian32(0) + bigEndian32(1) +
                   bigEndian32(0xfffffffc)
            << false;
        // Structure oscpack lets through: any of it in any message drops the datagram.
        QTest::newRow("blob one byte past the end")
            << frameWithElement(QByteArray("/x\0\0,b\0\0", 8) + bigEndian32(5) + "abcd") << false;
        QTest::newRow("string padded with garbage")
            << frameWithElement(QByteArray("/x\0\0,s\0\0ab\0Xcd\0\0", 16)) << false;
        QTest::newRow("array closed before it opens")
            << frameWithElement(QByteArray("/x\0\0,][\0", 8)) << false;
        QTest::newRow("bytes after the last argument")
            << frameWithElement(QByteArray("/x\0\0,i\0\0", 8) + bigEndian32(1) + bigEndian32(2))
            << false;
        QTest::newRow("set x NaN") << bundle(std::numeric_limits<float>::quiet_NaN(), 0.5f) << true;
        QTest::newRow("set y infinite")
            << bundle(0.5f, -std::numeric_limits<float>::infinity()) << true;
        QTest::newRow("set x absurd") << bundle(1e9f, 0.5f) << true;
    }
    void malformedInputIsDroppedWhole()
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

    // Thousands of malformed datagrams, an oversized one among them, give one warning.
    void mutatedDatagramsNeverTakeTheClientDown()
    {
        Loopback loopback;
        auto [client, listener] = std::tie(loopback.client, loopback.listener);
        const QByteArray valid = TuioBundleWriter::bundle(
            {kSource, {1, 2}, {{1, 0.25f, 0.5f, 0.1f, 0.1f, 1}, {2, 0.75f, 0.5f}}, 5});
        QRandomGenerator generator(7); // the same mutations every run
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^TUIO: ignored 1 malformed"));
        QTest::failOnWarning(QRegularExpression("."));
        for (int round = 0; round < 5000; ++round) {
            QByteArray mutated = valid;
            for (int flips = 1 + int(generator.bounded(4)); flips > 0; --flips)
                mutated[generator.bounded(int(mutated.size()))] = char(generator.bounded(256));
            feed(client, mutated.left(qsizetype(generator.bounded(int(mutated.size()) + 1))));
        }
        const quint64 malformed = client.statistics().malformed;
        QVERIFY(malformed > 4000u);
        feed(client, QByteArray(70000, '\0')); // more than any UDP datagram holds
        QCOMPARE(client.statistics().malformed, malformed + 1);
        for (const TuioCursorPtr& cursor : listener.cursors)
            QVERIFY(std::isfinite(cursor->position().x()) && std::isfinite(cursor->position().y()));

        feed(client, TuioBundleWriter::bundle({"other@1", {}, {}, 1}));
        listener.lines.clear(); // and it still reads good frames
        feed(client, TuioBundleWriter::bundle({"other@1", {3}, {{3, 0.5f, 0.5f}}, 2}));
        QCOMPARE(listener.lines, QStringList({"add 3 500,250", "frame"}));
    }

    // Where the client listens; a port or address it cannot open gives one log line and an
    // inert client.
    void listensWhereAsked_data()
    {
        QTest::addColumn<qint32>("port");
        QTest::addColumn<QString>("listenAddress");
        QTest::addColumn<QString>("sendTo"); // empty: it cannot listen
        const qint32 free = freeUdpPort();
        QVERIFY(m_taken.bind(QHostAddress::LocalHost, 0));
        QTest::newRow("loopback, IPv4") << free << QString() << "127.0.0.1";
        QTest::newRow("loopback, IPv6") << free << QString() << "::1";
        QTest::newRow("every interface") << free << QString("any") << "127.0.0.1";
        QTest::newRow("an address") << free << QString("127.0.0.1") << "127.0.0.1";
        QTest::newRow("taken") << qint32(m_taken.localPort()) << QString() << QString();
        QTest::newRow("zero") << 0 << QString() << QString();
        QTest::newRow("70000") << 70000 << QString() << QString();
        QTest::newRow("not an address") << free << "somewhere" << QString();
    }
    void listensWhereAsked()
    {
        QFETCH(qint32, port);
        QFETCH(QString, listenAddress);
        QFETCH(QString, sendTo);
        QUdpSocket probe;
        if (!sendTo.isEmpty() && !probe.bind(QHostAddress(sendTo), 0))
            QSKIP("this machine has no such address");
        if (sendTo.isEmpty())
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(
                                  QStringLiteral("^TUIO: cannot listen on UDP port %1").arg(port)));
        QTest::failOnWarning(QRegularExpression("."));
        RecordingTuioListener listener;
        TuioClient client(port, kScreen, listenAddress);
        client.setTuioCursorDelegate(&listener);
        QCOMPARE(client.isListening(), !sendTo.isEmpty());
        QCOMPARE(client.port(), port);
        if (sendTo.isEmpty())
            return;
        TuioSender sender{QHostAddress(sendTo), quint16(port)};
        QVERIFY(sender.sendFrame({1}, {{1, 0.5f, 0.5f}}));
        QTRY_COMPARE(listener.lines, QStringList({"add 1 500,250", "frame"}));
        QCOMPARE(listener.cursors.at(0)->source(), sendTo);
    }

    // The loopback listener hears only sockets of the user it runs as and of root; a socket of
    // another user, or one closed before its datagram was read, is refused and logged once.
    // An address given explicitly takes anyone who can reach it.
    void loopbackHearsOnlyThisUser_data()
    {
        QTest::addColumn<QString>("listenAddress");
        QTest::addColumn<QString>("sendTo");
        QTest::addColumn<uint>("clientUser");
        QTest::addColumn<uint>("senderUser");
        QTest::addColumn<bool>("senderGone"); // closed before the client reads
        QTest::addColumn<QString>("refusal"); // the log line's end; empty: heard
        const uint nobody = SenderProcess::kNobody;
        const QString otherUser = QStringLiteral(", a socket of uid %1").arg(nobody);
        const QString loopback, heard, v4 = "127.0.0.1"; // loopback: the default listener
        QTest::newRow("IPv4, root") << loopback << v4 << 0u << 0u << false << heard;
        QTest::newRow("IPv4, another user") << loopback << v4 << 0u << nobody << false << otherUser;
        QTest::newRow("IPv6, root") << loopback << "::1" << 0u << 0u << false << heard;
        QTest::newRow("IPv6, another user")
            << loopback << "::1" << 0u << nobody << false << otherUser;
        QTest::newRow("the client's own user")
            << loopback << v4 << nobody << nobody << false << heard;
        QTest::newRow("root, to another user's client")
            << loopback << v4 << nobody << 0u << false << heard;
        QTest::newRow("sender gone")
            << loopback << v4 << 0u << 0u << true << QStringLiteral(": no socket of this machine");
        QTest::newRow("an address, another user") << v4 << v4 << 0u << nobody << false << heard;
        QTest::newRow("every interface, another user")
            << QString("any") << v4 << 0u << nobody << false << heard;
    }
    void loopbackHearsOnlyThisUser()
    {
        QFETCH(QString, listenAddress);
        QFETCH(QString, sendTo);
        QFETCH(uint, clientUser);
        QFETCH(uint, senderUser);
        QFETCH(bool, senderGone);
        QFETCH(QString, refusal);
        if (::geteuid() != 0)
            QSKIP("only root can send as another user");
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(sendTo), 0))
            QSKIP("this machine has no such address");
        const quint16 port = freeUdpPort();
        RecordingTuioListener listener;
        const std::unique_ptr<TuioClient> client = clientOf(clientUser, port, listenAddress);
        QVERIFY(client && client->isListening());
        client->setTuioCursorDelegate(&listener);
        SenderProcess sender(senderUser, QHostAddress(sendTo), port, kFingerDown, 3);
        QVERIFY(sender.sent());
        if (senderGone)
            sender.close();
        if (!refusal.isEmpty())
            QTest::ignoreMessage(QtWarningMsg,
                                 ::refusal(QHostAddress(sendTo), sender.port(), refusal));
        QTest::failOnWarning(QRegularExpression(".")); // also a second refusal line
        QTRY_COMPARE(client->statistics().datagrams, 3u);
        QCOMPARE(client->statistics().refused, refusal.isEmpty() ? 0u : 3u);
        QCOMPARE(listener.lines.isEmpty(), !refusal.isEmpty());
    }

    // A port that this user's sender gave up may pass to another user's socket: once the
    // verdict on it has expired, that socket is refused.
    void aPortTakenOverByAnotherUserIsRefused()
    {
        if (::geteuid() != 0)
            QSKIP("only root can send as another user");
        Loopback loopback;
        quint16 senderPort = 0;
        {
            SenderProcess ours(0, QHostAddress::LocalHost, loopback.port, kFingerDown, 1);
            QTRY_COMPARE(loopback.client.statistics().datagrams, 1u);
            senderPort = ours.port();
        }
        QTest::qWait(int(2 * LocalSenderCheck::kVerdictLifetime.count())); // ms
        SenderProcess theirs(SenderProcess::kNobody, QHostAddress::LocalHost, loopback.port,
                             kFingerDown, 1, senderPort);
        QVERIFY(theirs.sent());
        QTest::ignoreMessage(QtWarningMsg,
                             refusal(QHostAddress::LocalHost, senderPort, ", a socket of uid"));
        QTRY_COMPARE(loopback.client.statistics().datagrams, 2u);
        QCOMPARE(loopback.client.statistics().refused, 1u);
        QCOMPARE(loopback.listener.lines, QStringList({"add 1 500,250", "frame"}));
    }

    // Also from inside a callback, by deleteLater, and then no callback follows.
    void destroyingTheClientFreesItsPort()
    {
        const quint16 port = freeUdpPort();
        RecordingTuioListener listener;
        auto* client = new TuioClient(port, kScreen);
        QVERIFY(client->isListening());
        client->setTuioCursorDelegate(&listener);
        listener.onCallback = [&] {
            client->setTuioCursorDelegate(nullptr);
            client->deleteLater();
        };
        TuioSender sender(QHostAddress::LocalHost, port);
        QVERIFY(sender.sendFrame({1, 2}, {{1, 0.5f, 0.5f}, {2, 0.5f, 0.5f}}));
        QPointer<TuioClient> guard(client);
        QTRY_COMPARE(listener.lines, QStringList({"add 1 500,250"}));
        QTRY_VERIFY(!guard);
        QUdpSocket rebind;
        QVERIFY(rebind.bind(QHostAddress::LocalHost, port));
        QCOMPARE(listener.cursors.at(0).use_count(), 1); // the cursor outlived the client
    }

    void callbacksNeverNest()
    {
        Loopback loopback;
        const QByteArray second = TuioBundleWriter::bundle({kSource, {1, 2}, {{2, 0.f, 0.f}}, 2});
        bool sent = false;
        loopback.listener.onCallback = [&] {
            if (!std::exchange(sent, true)) // as if a nested event loop read the next datagram
                feed(loopback.client, second);
        };
        QVERIFY(loopback.frame({1}, {{1, 0.5f, 0.5f}}, 1));
        QCOMPARE(loopback.listener.lines,
                 QStringList({"add 1 500,250", "frame", "add 2 1000,500", "frame"}));
    }

private:
    QUdpSocket m_taken;
};

QTEST_GUILESS_MAIN(TuioClientTest)
#include "tst_tuio_client.moc"
