#include "BusStandIns.h"
#include "platform/agentbus/AgentStatusClient.h"
#include "platform/agentbus/ServiceStateWatcher.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <csignal>

using platform::AgentStatus;
using platform::AgentStatusClient;
using platform::TouchFinger;
using platform::TouchGesture;

constexpr int kTimeout = 10000; // ms

class AgentStatusClientTest : public QObject
{
    Q_OBJECT

private slots:
    void readsAndFollowsTheProperties()
    {
        AgentStandIn agent;
        QVERIFY(agent.start());
        AgentStatusClient client;
        QTRY_VERIFY_WITH_TIMEOUT(client.running(), kTimeout);
        AgentStatus expected{"1.0.0",
                             "uinput",
                             "/dev/uinput is writable",
                             false,
                             {"127.0.0.1", "::1"},
                             3333,
                             true,
                             "HDMI-1",
                             QRect(1920, 0, 1920, 1080),
                             2,
                             {{"tracker@10.0.0.2", 120, 3, 1}},
                             ""};
        QCOMPARE(client.status(), expected);

        // A value of another type than documented is left out; later ones still count.
        agent.setProperty("Port", "3334");
        agent.setProperty("LastError", "cannot bind port 3333");
        expected.lastError = "cannot bind port 3333";
        QTRY_COMPARE_WITH_TIMEOUT(client.status(), expected, kTimeout);
    }

    void followsTheAgentAndRegistersAgainAfterARestart()
    {
        AgentStatusClient client;
        client.setWatchingTouches(true);
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), AgentStatusClient::State::NotRunning, kTimeout);
        const QString self = QDBusConnection::sessionBus().baseService();
        for (int start = 0; start < 2; ++start) {
            AgentStandIn agent;
            QVERIFY(agent.start());
            QTRY_VERIFY_WITH_TIMEOUT(client.running(), kTimeout);
            QTRY_COMPARE_WITH_TIMEOUT(agent.viewers, QStringList{self}, kTimeout);
            if (start == 1) {
                client.setWatchingTouches(false);
                QTRY_VERIFY_WITH_TIMEOUT(agent.viewers.isEmpty(), kTimeout);
            }
            agent.stop();
            QTRY_COMPARE_WITH_TIMEOUT(client.state(), AgentStatusClient::State::NotRunning,
                                      kTimeout);
            QCOMPARE(client.status(), AgentStatus());
        }
    }

    void decodesTouchFramesWhileWatching()
    {
        AgentStandIn agent;
        QVERIFY(agent.start());
        AgentStatusClient client;
        QSignalSpy frames(&client, &AgentStatusClient::touchFrame);
        QTRY_VERIFY_WITH_TIMEOUT(client.running(), kTimeout);
        agent.sendTouchFrame({{1, {5, 6}}}, {}); // not watching: not heard
        client.setWatchingTouches(true);
        QTRY_VERIFY_WITH_TIMEOUT(!agent.viewers.isEmpty(), kTimeout);

        // A frame of another type is dropped; a finger at no finite place is left out.
        agent.emitSignal(platform::kAgentPath, platform::kAgentInterface, "TouchFrame",
                         {QStringList{"1"}});
        agent.sendTouchFrame({{7, {100.5, 200}}, {8, {NAN, 0}}},
                             {{"press", {100.5, 200}}, {"right-click", {3, 4}}});
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 1, kTimeout);
        QCOMPARE(frames[0][0].value<QList<TouchFinger>>(), QList<TouchFinger>({{7, {100.5, 200}}}));
        QCOMPARE(frames[0][1].value<QList<TouchGesture>>(),
                 QList<TouchGesture>({{"press", {100.5, 200}}, {"right-click", {3, 4}}}));
    }

    void followsTheServiceState_data()
    {
        QTest::addColumn<QString>("managerState"); // "-": no service manager on the bus
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("changedTo");
        QTest::newRow("no service manager") << "-"
                                            << "no service manager"
                                            << "";
        QTest::newRow("unit not loaded") << ""
                                         << "inactive"
                                         << "";
        QTest::newRow("active, then failed") << "active"
                                             << "active"
                                             << "failed";
    }
    void followsTheServiceState()
    {
        QFETCH(QString, managerState);
        QFETCH(QString, first);
        QFETCH(QString, changedTo);
        ServiceManagerStandIn manager(managerState);
        if (managerState != "-")
            QVERIFY(manager.start());
        AgentStatusClient client;
        QTRY_COMPARE_WITH_TIMEOUT(client.serviceState(), first, kTimeout);
        if (!changedTo.isEmpty()) {
            manager.setState(changedTo);
            QTRY_COMPARE_WITH_TIMEOUT(client.serviceState(), changedTo, kTimeout);
        }
    }

    void withoutASessionBusSaysSo()
    {
        const auto bus = QDBusConnection::connectToBus("unix:path=/nonexistent", "nowhere");
        AgentStatusClient client(bus, nullptr);
        client.setWatchingTouches(true);
        QCOMPARE(client.state(), AgentStatusClient::State::NoSessionBus);
        QVERIFY(!client.problem().isEmpty());
        QCOMPARE(client.serviceState(), platform::ServiceStateWatcher::kNoServiceManager);
    }

    // tactalon-tuio monitor
    void monitorWithoutAnAgentExitsWithOne_data()
    {
        QTest::addColumn<QString>("busAddress"); // "": the test's own bus
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("no agent") << "" << QByteArray("the Tactalon agent is not running");
        QTest::newRow("no session bus")
            << "unix:path=/nonexistent" << QByteArray("no D-Bus session bus");
    }
    void monitorWithoutAnAgentExitsWithOne()
    {
        QFETCH(QString, busAddress);
        QFETCH(QByteArray, message);
        QProcess tool;
        if (!busAddress.isEmpty()) {
            auto environment = QProcessEnvironment::systemEnvironment();
            environment.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
            tool.setProcessEnvironment(environment);
        }
        tool.start(m_tool, {"monitor"});
        QVERIFY(tool.waitForFinished(kTimeout));
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY2(tool.readAllStandardError().contains(message), message);
        QCOMPARE(tool.readAllStandardOutput(), QByteArray());
    }

    void monitorPrintsTheStatusThenTheTouches()
    {
        QVariantMap properties = AgentStandIn::runningOnUinput();
        properties["EventBackend"] = "XTest";
        properties["EventBackendReason"] = "/dev/uinput is not writable";
        properties["WaylandSession"] = true;
        AgentStandIn agent(properties);
        ServiceManagerStandIn manager("active");
        QVERIFY(agent.start() && manager.start());
        QProcess tool;
        tool.start(m_tool, {"monitor"});
        QTRY_COMPARE_WITH_TIMEOUT(agent.viewers.size(), 1, kTimeout);
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += tool.readAllStandardOutput()).contains("last error"),
                                 kTimeout);
        QCOMPARE(output,
                 QByteArray("agent: running, version 1.0.0\n"
                            "service: active\n"
                            "input: XTest (/dev/uinput is not writable)\n"
                            "hint: clicks reach X11 windows only: grant access to /dev/uinput "
                            "(see \"Using it for real\" in the README)\n"
                            "listening: 127.0.0.1, ::1 port 3333 (open)\n"
                            "monitor: HDMI-1 1920x1080+1920+0\n"
                            "fingers down: 2\n"
                            "source: tracker@10.0.0.2 frames=120 late=3 malformed=1\n"
                            "last error: none\n"));

        // Counters are not printed again; other changes are.
        agent.setProperty("FingersDown", 1u);
        agent.setProperty("LastError", "oops\x1b[2J");
        agent.sendTouchFrame({{3, {812, 400.5}}}, {{"release", {812, 400.5}}});
        output.clear();
        QTRY_VERIFY_WITH_TIMEOUT((output += tool.readAllStandardOutput()).count('\n') == 2,
                                 kTimeout);
        QCOMPARE(output, QByteArray("last error: oops?[2J\n"
                                    "fingers=[3:(812,400.5)] gestures=[release:(812,400.5)]\n"));

        ::kill(pid_t(tool.processId()), SIGINT);
        // The tool waits for the stand-in's answer, which needs this event loop.
        QTRY_COMPARE_WITH_TIMEOUT(tool.state(), QProcess::NotRunning, kTimeout);
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(agent.viewers.isEmpty());
    }

private:
    const QString m_tool = qEnvironmentVariable("TACTALON_BUILD_DIR") + "/bin/tactalon-tuio";
};

QTEST_GUILESS_MAIN(AgentStatusClientTest)
#include "tst_agent_status_client.moc"
