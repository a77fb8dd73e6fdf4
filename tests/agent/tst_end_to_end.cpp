// The whole road: TUIO datagrams from tactalon-tuio over loopback UDP into the agent program,
// mouse input through XTest into the X server of $DISPLAY (1440x900).
#include "AgentProcess.h"
#include "XEventObserver.h"
#include "platform/DistributedNotificationCenter.h"
#include "settings/SettingsKeys.h"
#include "tuio/TuioSource.h"
#include "tuio/encoder/TuioSender.h"

#include <QTest>

using Event = XPointerEvent;

class EndToEndTest : public QObject
{
    Q_OBJECT

private:
    quint16 m_port = 0;
    std::unique_ptr<AgentProcess> m_agent;
    XEventObserver m_observer;

    // Plays a gesture of tactalon-tuio ("tap 0.25 0.25") and waits for the release of `button`.
    void play(const QString& gesture, unsigned button = 1)
    {
        QProcess tool;
        tool.start(qEnvironmentVariable("TACTALON_BUILD_DIR") + "/bin/tactalon-tuio",
                   QStringList{"play"} + gesture.split(u' ') +
                       QStringList{"--port", QString::number(m_port)});
        QVERIFY(tool.waitForFinished(30000));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
        QVERIFY2(m_observer.waitFor(Event::release(button)), qPrintable(m_observer.toString()));
    }

    // The events of the observer from the first press of `button` to its release.
    std::vector<XPointerEvent> click(unsigned button)
    {
        std::vector<XPointerEvent> result;
        bool pressed = false;
        for (const XPointerEvent& event : m_observer.events()) {
            pressed = pressed || Event::press(button)(event);
            if (pressed)
                result.push_back(event);
            if (pressed && Event::release(button)(event))
                break;
        }
        return result;
    }

    // The first and last event of the click of `button`, as "Press1(360,225) Release1(360,225)".
    QString clickEnds(unsigned button = 1)
    {
        const auto events = click(button);
        return events.empty() ? QString()
                              : events.front().toString() + ' ' + events.back().toString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_observer.start(), qPrintable(m_observer.error()));
        m_port = freeUdpPort();
        m_agent = std::make_unique<AgentProcess>();
        QVERIFY2(m_agent->startListening(m_port), qPrintable(m_agent->messages().join('\n')));
        QVERIFY(m_agent->messages().contains(QStringLiteral("Resolution: 1440 x 900")));
    }

    void init()
    {
        m_observer.collect();
        m_observer.clear();
    }

    void cleanupTestCase() { m_agent.reset(); }

    // With the default settings TUIO's normalised (x, y) lands on (x * 1440, y * 900); no other
    // button clicks meanwhile.
    void gesturesReachTheServer_data()
    {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<unsigned>("button");
        QTest::addColumn<QString>("ends"); // of the click; empty: not checked
        QTest::addColumn<int>("motions");  // at least, between press and release
        QTest::addColumn<QList<unsigned>>("otherButtons");
        QTest::newRow("tap") << "tap 0.25 0.25" << 1u << "Press1(360,225) Release1(360,225)" << 0
                             << QList<unsigned>{3};
        QTest::newRow("drag holds the button while moving")
            << "drag 0.25 0.25 0.5 0.5" << 1u << "Press1(360,225) Release1(720,450)" << 2
            << QList<unsigned>{3};
        QTest::newRow("two-finger tap right-clicks at the centre")
            << "two-finger-tap 0.5 0.5" << 3u << "Press3(720,450) Release3(720,450)" << 0
            << QList<unsigned>{1};
        // Fingers moving down the surface scroll up: the content follows the fingers.
        QTest::newRow("scroll down") << "scroll 0.2" << 4u << "" << 0 << QList<unsigned>{5, 3};
        QTest::newRow("scroll up") << "scroll -0.2" << 5u << "" << 0 << QList<unsigned>{4, 3};
    }

    void gesturesReachTheServer()
    {
        QFETCH(QString, gesture);
        QFETCH(unsigned, button);
        QFETCH(QString, ends);
        QFETCH(int, motions);
        QFETCH(QList<unsigned>, otherButtons);
        play(gesture, button);
        if (!ends.isEmpty())
            QCOMPARE(clickEnds(button), ends);
        const auto events = click(button);
        QVERIFY2(std::count_if(events.begin(), events.end(),
                               [](const Event& e) { return e.type == Event::Motion; }) >= motions,
                 qPrintable(m_observer.toString()));
        m_observer.collect();
        for (unsigned other : otherButtons)
            QVERIFY2(click(other).empty(), qPrintable(m_observer.toString()));
    }

    // Another program changes a setting and says so on the bus; the next touch uses it.
    void settingChangedElsewhereAppliesWithoutRestart()
    {
        QVERIFY(AgentProcess::storeSettings(m_agent->home(), {{kVInvertStr, false}}));
        platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
            kDefaultsDidChangeNotification);
        // The notice and the touch travel different roads: tap until the new mapping shows.
        bool mirrored = false;
        for (int attempt = 0; attempt < 20 && !mirrored; ++attempt) {
            m_observer.clear();
            play("tap 0.25 0.25");
            mirrored = clickEnds().startsWith("Press1(360,675)");
        }
        QVERIFY2(mirrored, qPrintable(m_observer.toString()));

        QVERIFY(AgentProcess::storeSettings(m_agent->home(), {{kVInvertStr, true}}));
        platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
            kDefaultsDidChangeNotification);
    }

    // The moved listener feeds the gestures as the first did.
    void portNoticeMovesTheListener()
    {
        const quint16 newPort = freeUdpPort();
        QVERIFY(AgentProcess::storeSettings(m_agent->home(),
                                            {{kPortStr, QVariant::fromValue<qint32>(newPort)}}));
        platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
            kPortDidChangeNotification);
        QVERIFY(m_agent->waitForMessage(AgentProcess::listeningLine(newPort)));
        m_port = newPort;
        play("tap 0.5 0.25");
        QCOMPARE(clickEnds(), "Press1(720,225) Release1(720,225)");
    }

    // A tracker's source name reaches the log when its frame is dropped (here: too many sets);
    // a newline in it must not start a line that looks like the agent's own. Runs before any
    // other malformed input, as the client logs those at most every 20 s.
    void forgedSourceNameStaysInOneLogLine()
    {
        const std::string forged = "started TuioClient on Port: 1";
        TuioFrame frame{"evil@127.0.0.1\n2026-01-01 00:00:00.000 Tactalon[1] " + forged, {}, {}, 1};
        for (qint32 id = 1; id <= qint32(TuioSource::kMaxPendingSets) + 1; ++id)
            frame.sets.push_back({id, 0.5f, 0.5f});
        // Kept open until the agent has read it: the loopback listener asks whose socket it was.
        TuioSender tracker(QHostAddress::LocalHost, m_port);
        QVERIFY(tracker.send(frame));
        const QString expected =
            QStringLiteral("TUIO: ignored 1 malformed input(s) on UDP port %1, the last from "
                           "evil@127.0.0.1\\n2026-01-01 00:00:00.000 Tactalon[1] %2: frame with "
                           "too many set messages")
                .arg(m_port)
                .arg(QString::fromStdString(forged));
        QVERIFY2(m_agent->waitForMessage(expected), qPrintable(m_agent->messages().join('\n')));
        QVERIFY(!m_agent->messages().contains(QString::fromStdString(forged)));
    }

    // A datagram that used to crash the agent (a blob size past the end; the client's test has
    // the others). With a finger down, the agent reads on, keeps the button held, and lifts it
    // with the finger.
    void hostileDatagramLeavesTheAgentWorking()
    {
        TuioSender tracker(QHostAddress::LocalHost, m_port, "hostile@127.0.0.1");
        QVERIFY(tracker.sendFrame({7}, {{7, 0.3f, 0.3f}}));
        QVERIFY2(m_observer.waitFor(Event::press(1)), qPrintable(m_observer.toString()));

        QVERIFY(tracker.sendDatagram(QByteArray::fromHex("2f610000 2c626200 7ffffff0 00000000")));
        QVERIFY(tracker.sendFrame({7}, {{7, 0.35f, 0.35f}})); // read after the hostile one
        QVERIFY2(
            m_observer.waitFor([](const Event& e) { return e.toString() == "Motion(504,315)"; }),
            qPrintable(m_observer.toString()));
        QCOMPARE(m_agent->process().state(), QProcess::Running);
        QVERIFY(m_observer.isLeftButtonDown());

        QVERIFY(tracker.sendFrame({}));
        QVERIFY2(m_observer.waitFor(Event::release(1)), qPrintable(m_observer.toString()));
        QVERIFY(!m_observer.isLeftButtonDown());
        m_observer.clear();
        play("tap 0.75 0.5");
        QCOMPARE(clickEnds(), "Press1(1080,450) Release1(1080,450)");
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_end_to_end.moc"
