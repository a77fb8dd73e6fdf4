// Touches land on the monitor the agent chooses, and follow the display when it changes: the
// real agent program on an X server of this test's own (Xvfb, 3840x1080) with virtual monitors,
// mouse input through XTest. With the default settings TUIO's (0.25, 0.25) lands a quarter in
// from the chosen monitor's top-left corner.
#include "AgentProcess.h"
#include "XEventObserver.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/UinputEventPoster.h"
#include "settings/SettingsKeys.h"
#include "tuio/encoder/TuioSender.h"

#include <QTest>
#include <unistd.h>

using Event = XPointerEvent;

namespace {

// WIDTH/mmWIDTHxHEIGHT/mmHEIGHT+X+Y; a leading * makes the monitor primary.
const QStringList monitors{"LEFT 1200/300x800/200+40+100", "*MIDDLE 1280/320x1024/256+1280+56",
                           "RIGHT 1280/320x720/180+2560+300"};

// Starts Xvfb with one screen of `size` ("3840x1080"); its display name, or "" if it did not
// start. -noreset: virtual monitors stay when a client such as xrandr leaves last.
QString startXvfb(QProcess& xvfb, const QString& size)
{
    xvfb.start(QStringLiteral("Xvfb"),
               {"-displayfd", "1", "-screen", "0", size + "x24", "-nolisten", "tcp", "-noreset"});
    while (xvfb.waitForStarted() && !xvfb.canReadLine()) {
        if (!xvfb.waitForReadyRead(10000))
            return {};
    }
    return xvfb.canReadLine() ? ':' + QString::fromLatin1(xvfb.readLine().trimmed()) : QString();
}

bool xrandr(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xrandr"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

class MonitorsTest : public QObject
{
    Q_OBJECT

private:
    QProcess m_xvfb;
    std::unique_ptr<XEventObserver> m_observer;
    // The agent's tracker: one socket for its whole life, as the agent tells trackers apart by
    // their address and drops a frame numbered below the last one from there.
    std::unique_ptr<TuioSender> m_tracker;

    // An agent listening on a fresh port, with "outputName" stored unless it is null.
    std::unique_ptr<AgentProcess> startAgent(const QString& outputName)
    {
        auto agent = std::make_unique<AgentProcess>();
        if (!outputName.isNull())
            AgentProcess::storeSettings(agent->home(), {{kOutputNameStr, outputName}});
        const quint16 port = freeUdpPort();
        if (!agent->startListening(port))
            qWarning("%s", qPrintable(agent->messages().join('\n')));
        m_tracker = std::make_unique<TuioSender>(QHostAddress::LocalHost, port);
        return agent;
    }

    // Finger `id` taps at TUIO's (0.25, 0.25): the observed presses and releases, as
    // "Press1(340,300) Release1(340,300)". The observer is cleared first unless told not to.
    QString tap(qint32 id, bool clearFirst = true)
    {
        if (clearFirst) {
            m_observer->collect();
            m_observer->clear();
        }
        // Kept open until the agent has read it: the loopback listener asks whose socket it was.
        if (!m_tracker->sendFrame({id}, {{id, 0.25f, 0.25f}}) || !m_tracker->sendFrame({}) ||
            !m_observer->waitFor(Event::press(1)) || !m_observer->waitFor(Event::release(1)))
            return m_observer->toString();
        QStringList ends;
        for (const Event& event : m_observer->events())
            if (event.type != Event::Motion)
                ends << event.toString();
        return ends.join(' ');
    }

    static void notifySettingsChanged()
    {
        platform::DistributedNotificationCenter::defaultCenter().postNotificationName(
            kDefaultsDidChangeNotification);
    }

private slots:
    void initTestCase()
    {
        if (::access(platform::UinputEventPoster::devicePath, W_OK) == 0)
            QSKIP("/dev/uinput is writable here: the agent would post through uinput, which "
                  "Xvfb does not read");
        const QString display = startXvfb(m_xvfb, QStringLiteral("3840x1080"));
        QVERIFY2(!display.isEmpty(), m_xvfb.readAllStandardError().constData());
        qputenv("DISPLAY", display.toLocal8Bit());
        m_observer = std::make_unique<XEventObserver>();
        QVERIFY2(m_observer->start(), qPrintable(m_observer->error()));
        for (const QString& monitor : monitors) {
            const QStringList words = monitor.split(' ');
            QVERIFY(xrandr({"--setmonitor", words[0], words[1], "none"}));
        }
    }

    void cleanupTestCase()
    {
        m_tracker.reset();
        m_observer.reset(); // before its server goes
        m_xvfb.terminate();
        m_xvfb.waitForFinished();
    }

    void tapLandsOnTheChosenMonitor_data()
    {
        QTest::addColumn<QString>("outputName");
        QTest::addColumn<QString>("click");
        const QString onMiddle = "Press1(1600,312) Release1(1600,312)";
        QTest::newRow("none: the primary") << QString() << onMiddle;
        QTest::newRow("empty: the primary") << "" << onMiddle;
        QTest::newRow("LEFT") << "LEFT"
                              << "Press1(340,300) Release1(340,300)";
        QTest::newRow("RIGHT") << "RIGHT"
                               << "Press1(2880,480) Release1(2880,480)";
        QTest::newRow("the output's own monitor") << "screen"
                                                  << "Press1(960,270) Release1(960,270)";
        QTest::newRow("unknown: the primary") << "HDMI-9" << onMiddle;
    }

    void tapLandsOnTheChosenMonitor()
    {
        QFETCH(QString, outputName);
        QFETCH(QString, click);
        const auto agent = startAgent(outputName);
        QCOMPARE(tap(1), click);
        QCOMPARE(tap(2), click);
        const QString notice = QStringLiteral("No monitor named \"HDMI-9\": touches go to the main "
                                              "screen MIDDLE. Monitors: MIDDLE, LEFT, RIGHT, "
                                              "screen");
        QCOMPARE(agent->messages().count(notice), outputName == "HDMI-9" ? 1 : 0);
    }

    // A finger down when another monitor is chosen is let go of where it was; its later moves
    // and its lifting post nothing, and the next touch lands on the new monitor.
    void outputNameChangedWhileRunning()
    {
        const auto agent = startAgent({});
        m_observer->clear();
        QVERIFY(m_tracker->sendFrame({1}, {{1, 0.25f, 0.25f}}));
        QVERIFY2(m_observer->waitFor(Event::press(1)), qPrintable(m_observer->toString()));

        QVERIFY(AgentProcess::storeSettings(agent->home(),
                                            {{kOutputNameStr, QStringLiteral("RIGHT")}}));
        notifySettingsChanged();
        QVERIFY(agent->waitForMessage(QStringLiteral("Resolution: 1280 x 720")));
        QVERIFY2(m_observer->waitFor(Event::release(1)), qPrintable(m_observer->toString()));
        QCOMPARE(m_observer->events().back().toString(), "Release1(1600,312)");

        m_observer->clear();
        QVERIFY(m_tracker->sendFrame({1}, {{1, 0.5f, 0.5f}}));
        QVERIFY(m_tracker->sendFrame({}));
        QCOMPARE(tap(2, false), "Press1(2880,480) Release1(2880,480)");
        QVERIFY2(m_observer->toString().startsWith("Motion(2880,480), Press1"),
                 qPrintable(m_observer->toString()));
    }

    // Xvfb's output takes a smaller mode: RandR's burst of notices is measured once, and the
    // next touch lands on the new geometry. Last, as it leaves the screen smaller.
    void displayChangeWhileRunning()
    {
        const auto agent = startAgent(QStringLiteral("screen"));
        QVERIFY(agent->messages().contains(QStringLiteral("Resolution: 3840 x 1080")));
        QCOMPARE(tap(1), "Press1(960,270) Release1(960,270)");

        QVERIFY(xrandr({"--newmode", "half", "0", "1920", "1920", "1920", "1920", "1080", "1080",
                        "1080", "1080"}));
        QVERIFY(xrandr({"--addmode", "screen", "half"}));
        QVERIFY(xrandr({"--output", "screen", "--mode", "half"}));
        QVERIFY(agent->waitForMessage(QStringLiteral("Resolution: 1920 x 1080")));
        QCOMPARE(tap(2), "Press1(480,270) Release1(480,270)");
        QCOMPARE(agent->messages().filter(QStringLiteral("Resolution:")).size(), 2);
    }

    // Xlib ends a program whose X server has gone, unless told otherwise: the agent is told.
    void serverGoingAwayLeavesTheAgentRunning()
    {
        QProcess xvfb;
        const QString display = startXvfb(xvfb, QStringLiteral("1024x768"));
        QVERIFY(!display.isEmpty());
        AgentProcess agent;
        agent.setEnvironment(QStringLiteral("DISPLAY"), display);
        QVERIFY(agent.startListening(freeUdpPort()));
        xvfb.terminate();
        QVERIFY(agent.waitForMessage(QStringLiteral("The monitors of X display %1 are no longer "
                                                    "followed: touches keep going to the monitor "
                                                    "they went to")
                                         .arg(display)));
        QTest::qWait(200);
        QCOMPARE(agent.process().state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(MonitorsTest)
#include "tst_monitors.moc"
