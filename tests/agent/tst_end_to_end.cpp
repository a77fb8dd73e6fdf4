// The whole road with no test double: TUIO datagrams from tactalon-tuio over loopback UDP into
// the agent program, mouse input through XTest into the X server of $DISPLAY (1440x900), seen
// by an X client of this test.
#include "AgentProcess.h"
#include "XEventObserver.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsKeys.h"
#include "tuio/TuioSource.h"
#include "tuio/encoder/TuioSender.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr unsigned kButton1Mask = 1u << 8; // X11's Button1Mask

bool isPress(const XPointerEvent& event, unsigned button)
{
    return event.type == XPointerEvent::Press && event.button == button;
}

bool isRelease(const XPointerEvent& event, unsigned button)
{
    return event.type == XPointerEvent::Release && event.button == button;
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    quint16 m_port = 0;
    std::unique_ptr<AgentProcess> m_agent;
    XEventObserver m_observer;

    void play(QStringList arguments)
    {
        QProcess tool;
        arguments.prepend(QStringLiteral("play"));
        arguments << QStringLiteral("--port") << QString::number(m_port);
        tool.start(qEnvironmentVariable("TACTALON_BUILD_DIR") +
                       QStringLiteral("/bin/tactalon-tuio"),
                   arguments);
        QVERIFY(tool.waitForFinished(30000));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    }

    // The events of the observer from the first press of `button` to its release.
    std::vector<XPointerEvent> click(unsigned button)
    {
        std::vector<XPointerEvent> result;
        bool pressed = false;
        for (const XPointerEvent& event : m_observer.events()) {
            pressed = pressed || isPress(event, button);
            if (pressed)
                result.push_back(event);
            if (pressed && isRelease(event, button))
                break;
        }
        return result;
    }

    void verifyTapAt(const QStringList& arguments, QPoint expected)
    {
        play(arguments);
        QVERIFY2(m_observer.waitFor([](const XPointerEvent& e) { return isRelease(e, 1); }),
                 qPrintable(m_observer.toString()));
        const auto events = click(1);
        const auto at = QStringLiteral("(%1,%2)").arg(expected.x()).arg(expected.y());
        QCOMPARE(events.front().toString(), QStringLiteral("Press1") + at);
        QCOMPARE(events.back().toString(), QStringLiteral("Release1") + at);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_observer.start(), qPrintable(m_observer.error()));
        m_port = AgentProcess::freePort();
        QVERIFY(AgentProcess::storeSettings(
            m_home.path(),
            {{kPortStr, QVariant::fromValue<qint32>(m_port)}, {kDebugLogging, true}}));
        m_agent = std::make_unique<AgentProcess>(m_home.path());
        QVERIFY(m_agent->start());
        QVERIFY2(
            m_agent->waitForMessage(QStringLiteral("started TuioClient on Port: %1").arg(m_port)),
            qPrintable(m_agent->messages().join(QLatin1Char('\n'))));
        QVERIFY(m_agent->messages().contains(QStringLiteral("Resolution: 1440 x 900")));
    }

    void init()
    {
        m_observer.collect();
        m_observer.clear();
    }

    void cleanupTestCase() { m_agent.reset(); }

    // With the default settings TUIO's normalised (x, y) lands on (x * 1440, y * 900).
    void tapClicksAtTheMappedPoint()
    {
        verifyTapAt({QStringLiteral("tap"), QStringLiteral("0.25"), QStringLiteral("0.25")},
                    {360, 225});
    }

    void dragHoldsTheButtonWhileMoving()
    {
        play({QStringLiteral("drag"), QStringLiteral("0.25"), QStringLiteral("0.25"),
              QStringLiteral("0.5"), QStringLiteral("0.5")});
        QVERIFY2(m_observer.waitFor([](const XPointerEvent& e) { return isRelease(e, 1); }),
                 qPrintable(m_observer.toString()));
        const auto events = click(1);
        QCOMPARE(events.front().toString(), QStringLiteral("Press1(360,225)"));
        QCOMPARE(events.back().toString(), QStringLiteral("Release1(720,450)"));
        const auto motions =
            std::count_if(events.begin(), events.end(),
                          [](const XPointerEvent& e) { return e.type == XPointerEvent::Motion; });
        QVERIFY2(motions >= 2, qPrintable(m_observer.toString()));
    }

    void twoFingerTapRightClicksAtTheCentre()
    {
        play({QStringLiteral("two-finger-tap"), QStringLiteral("0.5"), QStringLiteral("0.5")});
        QVERIFY2(m_observer.waitFor([](const XPointerEvent& e) { return isRelease(e, 3); }),
                 qPrintable(m_observer.toString()));
        const auto events = click(3);
        QCOMPARE(events.front().toString(), QStringLiteral("Press3(720,450)"));
        QCOMPARE(events.back().toString(), QStringLiteral("Release3(720,450)"));
        m_observer.collect();
        for (const XPointerEvent& event : m_observer.events())
            QVERIFY2(!isPress(event, 1), qPrintable(m_observer.toString()));
    }

    void twoFingersMovingScroll_data()
    {
        QTest::addColumn<QString>("distance");
        QTest::addColumn<unsigned>("wheelButton");
        QTest::addColumn<unsigned>("otherButton");
        // Fingers moving down the surface scroll up: the content follows the fingers.
        QTest::newRow("down") << QStringLiteral("0.2") << 4u << 5u;
        QTest::newRow("up") << QStringLiteral("-0.2") << 5u << 4u;
    }

    void twoFingersMovingScroll()
    {
        QFETCH(QString, distance);
        QFETCH(unsigned, wheelButton);
        QFETCH(unsigned, otherButton);
        play({QStringLiteral("scroll"), distance});
        QVERIFY2(
            m_observer.waitFor([&](const XPointerEvent& e) { return isRelease(e, wheelButton); }),
            qPrintable(m_observer.toString()));
        m_observer.collect();
        for (const XPointerEvent& event : m_observer.events()) {
            QVERIFY2(!isPress(event, otherButton) && !isPress(event, 3),
                     qPrintable(m_observer.toString()));
        }
    }

    // Another program changes a setting and says so on the bus; the next touch uses it.
    void settingChangedElsewhereAppliesWithoutRestart()
    {
        QVERIFY(AgentProcess::storeSettings(m_home.path(), {{kVInvertStr, false}}));
        platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
            kDefaultsDidChangeNotification);
        // The notice and the touch travel different roads: tap until the new mapping shows.
        bool mirrored = false;
        for (int attempt = 0; attempt < 20 && !mirrored; ++attempt) {
            m_observer.clear();
            play({QStringLiteral("tap"), QStringLiteral("0.25"), QStringLiteral("0.25")});
            QVERIFY(m_observer.waitFor([](const XPointerEvent& e) { return isRelease(e, 1); }));
            mirrored = click(1).front().toString() == QStringLiteral("Press1(360,675)");
        }
        QVERIFY2(mirrored, qPrintable(m_observer.toString()));

        QVERIFY(AgentProcess::storeSettings(m_home.path(), {{kVInvertStr, true}}));
        platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
            kDefaultsDidChangeNotification);
    }

    void portNoticeMovesTheListener()
    {
        const quint16 newPort = AgentProcess::freePort();
        QVERIFY(AgentProcess::storeSettings(m_home.path(),
                                            {{kPortStr, QVariant::fromValue<qint32>(newPort)}}));
        platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
            kPortDidChangeNotification);
        QVERIFY(
            m_agent->waitForMessage(QStringLiteral("started TuioClient on Port: %1").arg(newPort)));
        m_port = newPort;
        m_observer.clear();
        verifyTapAt({QStringLiteral("tap"), QStringLiteral("0.5"), QStringLiteral("0.25")},
                    {720, 225});
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
        QVERIFY2(m_agent->waitForMessage(expected),
                 qPrintable(m_agent->messages().join(QLatin1Char('\n'))));
        QVERIFY(!m_agent->messages().contains(QString::fromStdString(forged)));
    }

    // One datagram used to crash the agent (a blob size past the end) or freeze it for good (a
    // bundle element size that wraps around to zero). With a finger down, the agent reads on,
    // keeps the button held, and lifts it with the finger.
    void hostileDatagramLeavesTheAgentWorking_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::newRow("blob size past the end")
            << QByteArray::fromHex("2f610000 2c626200 7ffffff0 00000000");
        QTest::newRow("bundle element size wrapping to zero")
            << QByteArray::fromHex("2362756e646c6500 0000000000000001 fffffffc");
    }
    void hostileDatagramLeavesTheAgentWorking()
    {
        QFETCH(QByteArray, datagram);
        // A source of its own: each row's frames count from 1.
        TuioSender tracker(QHostAddress::LocalHost, m_port,
                           QTest::currentDataTag() + std::string("@127.0.0.1"));
        QVERIFY(tracker.sendFrame({7}, {{7, 0.3f, 0.3f}}));
        QVERIFY2(m_observer.waitFor([](const XPointerEvent& e) { return isPress(e, 1); }),
                 qPrintable(m_observer.toString()));

        QVERIFY(tracker.sendDatagram(datagram));
        QVERIFY(tracker.sendFrame({7}, {{7, 0.35f, 0.35f}})); // read after the hostile one
        QVERIFY2(m_observer.waitFor([](const XPointerEvent& e) {
            return e.toString() == QStringLiteral("Motion(504,315)");
        }),
                 qPrintable(m_observer.toString()));
        QCOMPARE(m_agent->process().state(), QProcess::Running);
        QVERIFY(m_observer.buttonMask() & kButton1Mask);

        QVERIFY(tracker.sendFrame({}));
        QVERIFY2(m_observer.waitFor([](const XPointerEvent& e) { return isRelease(e, 1); }),
                 qPrintable(m_observer.toString()));
        QCOMPARE(m_observer.buttonMask() & kButton1Mask, 0u);
        m_observer.clear();
        verifyTapAt({QStringLiteral("tap"), QStringLiteral("0.75"), QStringLiteral("0.5")},
                    {1080, 450});
    }

    // Run last: it ends the agent.
    void terminationDuringDragReleasesTheButton()
    {
        TuioSender tracker(QHostAddress::LocalHost, m_port, "tracker@127.0.0.1");
        QVERIFY(tracker.sendFrame({5}, {{5, 0.4f, 0.4f}}));
        QVERIFY(tracker.sendFrame({5}, {{5, 0.45f, 0.45f}}));
        QVERIFY2(m_observer.waitFor([](const XPointerEvent& e) { return isPress(e, 1); }),
                 qPrintable(m_observer.toString()));
        QVERIFY(m_observer.waitFor(
            [](const XPointerEvent& e) { return e.type == XPointerEvent::Motion; }));
        QVERIFY(m_observer.buttonMask() & kButton1Mask);

        QVERIFY(m_agent->terminate());
        QCOMPARE(m_agent->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_agent->process().exitCode(), 0);
        QVERIFY2(m_observer.waitFor([](const XPointerEvent& e) { return isRelease(e, 1); }),
                 qPrintable(m_observer.toString()));
        QCOMPARE(m_observer.buttonMask() & kButton1Mask, 0u);
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_end_to_end.moc"
