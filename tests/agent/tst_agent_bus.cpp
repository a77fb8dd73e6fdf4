// The agent program on a private session bus: its status properties and their announced
// changes, the bus name that keeps a second agent of the user out, and the touch frames that
// go to registered viewers only.
#include "AgentProcess.h"
#include "platform/agentbus/AgentStatus.h"
#include "tuio/encoder/TuioSender.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFileInfo>
#include <QRect>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>
#include <algorithm>

namespace {

using platform::kAgentInterface;
using platform::kAgentPath;
using platform::kAgentService;
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kTimeoutMs = 20000;

QDBusMessage callAgent(const QString& interface, const QString& method, const QVariantList& args,
                       QDBusConnection bus = QDBusConnection::sessionBus())
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(kAgentService, kAgentPath, interface, method);
    call.setArguments(args);
    return bus.call(call);
}

QVariantMap properties()
{
    const QDBusReply<QVariantMap> reply = callAgent(kProperties, "GetAll", {kAgentInterface});
    return reply.isValid() ? reply.value() : QVariantMap();
}

} // namespace

class AgentBusTest : public QObject
{
    Q_OBJECT

private:
    struct TouchFrame
    {
        QList<platform::TouchFinger> fingers;
        QList<platform::TouchGesture> gestures;
    };
    QList<QVariantMap> m_changes; // of PropertiesChanged, in order
    QList<TouchFrame> m_frames;

    // The value last announced for `name`, invalid when none was.
    QVariant announced(const QString& name) const
    {
        for (auto each = m_changes.crbegin(); each != m_changes.crend(); ++each) {
            if (each->contains(name))
                return each->value(name);
        }
        return {};
    }

    qsizetype announcementsOf(const QString& name) const
    {
        return std::count_if(m_changes.begin(), m_changes.end(),
                             [&name](const QVariantMap& each) { return each.contains(name); });
    }

    static bool startOnBus(AgentProcess& agent, quint16 port)
    {
        if (!agent.startListening(port))
            return false;
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        QElapsedTimer timer;
        timer.start();
        while (!bus->isServiceRegistered(kAgentService).value()) {
            if (timer.elapsed() > kTimeoutMs)
                return false;
            QTest::qWait(20);
        }
        return true;
    }

    // Every gesture signalled so far, as "kind@x,y".
    QStringList gestures() const
    {
        QStringList all;
        for (const TouchFrame& frame : m_frames) {
            for (const platform::TouchGesture& each : frame.gestures)
                all << QStringLiteral("%1@%2,%3")
                           .arg(each.kind)
                           .arg(each.position.x())
                           .arg(each.position.y());
        }
        return all;
    }

private slots:
    void initTestCase()
    {
        platform::registerAgentBusTypes();
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.connect(kAgentService, kAgentPath, kProperties, "PropertiesChanged", this,
                            SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
        QVERIFY(bus.connect(kAgentService, kAgentPath, kAgentInterface, "TouchFrame", this,
                            SLOT(touchFrame(QDBusMessage))));
    }

    void init()
    {
        m_changes.clear();
        m_frames.clear();
    }

    void propertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList&)
    {
        if (interface == kAgentInterface)
            m_changes << changed;
    }

    void touchFrame(const QDBusMessage& message)
    {
        const QVariantList arguments = message.arguments();
        if (arguments.size() == 2)
            m_frames << TouchFrame{qdbus_cast<QList<platform::TouchFinger>>(arguments[0]),
                                   qdbus_cast<QList<platform::TouchGesture>>(arguments[1])};
    }

    void statusFollowsTheDesktop_data()
    {
        QTest::addColumn<bool>("xDisplay");
        QTest::addColumn<QString>("sessionType");
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QRect>("monitor");
        QTest::addColumn<bool>("error");
        QTest::newRow("X11 desktop: XTest") << true << "x11"
                                            << "XTest" << QRect(0, 0, 1440, 900) << false;
        // No DRM connector on the test machine either: no screen, and that is the last error.
        QTest::newRow("Wayland without X: none") << false << "wayland"
                                                 << "none" << QRect() << true;
    }

    void statusFollowsTheDesktop()
    {
        QFETCH(bool, xDisplay);
        QFETCH(QString, sessionType);
        QFETCH(QString, backend);
        QFETCH(QRect, monitor);
        QFETCH(bool, error);
        if (QFileInfo(QStringLiteral("/dev/uinput")).isWritable())
            QSKIP("this machine grants /dev/uinput: the backend is uinput");
        AgentProcess agent;
        if (!xDisplay)
            agent.setEnvironment("DISPLAY", "");
        agent.setEnvironment("WAYLAND_DISPLAY", "");
        agent.setEnvironment("XDG_SESSION_TYPE", sessionType);
        const quint16 port = freeUdpPort();
        QVERIFY(startOnBus(agent, port));

        const QVariantMap status = properties();
        QCOMPARE(status.value("Version").toString(), QStringLiteral("1.0.0"));
        QCOMPARE(status.value("EventBackend").toString(), backend);
        QVERIFY(status.value("EventBackendReason")
                    .toString()
                    .startsWith("/dev/uinput is not writable"));
        QCOMPARE(status.value("WaylandSession").toBool(), sessionType == "wayland");
        QVERIFY(status.value("ListenAddresses").toStringList().contains("127.0.0.1"));
        QCOMPARE(status.value("Port").toInt(), port);
        QCOMPARE(status.value("Listening").toBool(), true);
        QCOMPARE(status.value("MonitorName").toString(), xDisplay ? "screen" : "");
        QCOMPARE(qdbus_cast<QRect>(status.value("MonitorGeometry")), monitor);
        QCOMPARE(status.value("FingersDown").toUInt(), 0u);
        QCOMPARE(!status.value("LastError").toString().isEmpty(), error);

        const QDBusReply<QString> xml =
            callAgent("org.freedesktop.DBus.Introspectable", "Introspect", {});
        for (const char* part : {"<interface name=\"quillonworks.Tactalon.Agent\">",
                                 "name=\"Sources\" type=\"a(sttt)\" access=\"read\"",
                                 "name=\"MonitorGeometry\" type=\"(iiii)\" access=\"read\"",
                                 "<arg name=\"fingers\" type=\"a(udd)\" direction=\"out\"/>",
                                 "<method name=\"RegisterViewer\""})
            QVERIFY2(xml.value().contains(QLatin1String(part)), part);
    }

    // Fingers and per-source counters are announced, at most twice a second.
    void liveValuesAreAnnouncedCoalesced()
    {
        AgentProcess agent;
        const quint16 port = freeUdpPort();
        QVERIFY(startOnBus(agent, port));
        QElapsedTimer elapsed;
        elapsed.start();

        TuioSender tracker(QHostAddress::LocalHost, port, "table@127.0.0.1");
        for (int step = 0; step < 50; ++step)
            QVERIFY(tracker.sendFrame({1}, {{1, 0.2f + step * 0.01f, 0.5f}}));
        QTRY_COMPARE_WITH_TIMEOUT(announced("FingersDown").toUInt(), 1u, kTimeoutMs);
        QVERIFY(tracker.send({"table@127.0.0.1", {1}, {{1, 0.9f, 0.9f}}, 3})); // late
        QVERIFY(tracker.sendDatagram("not OSC"));
        QVERIFY(tracker.sendFrame({}));

        const QList<platform::AgentSource> expected = {{"table@127.0.0.1", 51, 1, 0},
                                                       {"127.0.0.1", 0, 0, 1}};
        QTRY_COMPARE_WITH_TIMEOUT(qdbus_cast<QList<platform::AgentSource>>(announced("Sources")),
                                  expected, kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(announced("FingersDown").toUInt(), 0u, kTimeoutMs);
        const qsizetype allowed = elapsed.elapsed() / 500 + 1;
        QVERIFY2(announcementsOf("Sources") <= allowed, qPrintable(QString::number(allowed)));
        QVERIFY(announcementsOf("FingersDown") <= allowed);
    }

    // A port held by another socket: not listening, and why; the next port notice clears it.
    void takenPortIsReportedUntilTheListenerOpens()
    {
        const quint16 port = freeUdpPort();
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::LocalHost, port, QUdpSocket::DontShareAddress));
        AgentProcess agent;
        QVERIFY(startOnBus(agent, port));

        const QVariantMap status = properties();
        QCOMPARE(status.value("Listening").toBool(), false);
        QCOMPARE(status.value("ListenAddresses").toStringList(), QStringList());
        QVERIFY2(status.value("LastError")
                     .toString()
                     .startsWith(
                         QStringLiteral("cannot listen on UDP port %1 at 127.0.0.1: ").arg(port)),
                 qPrintable(status.value("LastError").toString()));

        const quint16 freePort = freeUdpPort();
        QVERIFY(AgentProcess::storeSettings(agent.home(),
                                            {{kPortStr, QVariant::fromValue<qint32>(freePort)}}));
        QDBusMessage notice =
            QDBusMessage::createSignal("/quillonworks/DistributedNotification",
                                       "quillonworks.DistributedNotification", "Posted");
        notice << kPortDidChangeNotification;
        QVERIFY(QDBusConnection::sessionBus().send(notice));
        QTRY_COMPARE_WITH_TIMEOUT(announced("Listening"), QVariant(true), kTimeoutMs);
        QCOMPARE(announced("Port").toInt(), freePort);
        QCOMPARE(announced("LastError"), QVariant(QString()));
    }

    void secondAgentOfTheUserIsRefused()
    {
        AgentProcess first;
        QVERIFY(startOnBus(first, freeUdpPort()));

        AgentProcess second;
        const quint16 port = freeUdpPort();
        QVERIFY(AgentProcess::storeSettings(second.home(),
                                            {{kPortStr, QVariant::fromValue<qint32>(port)}}));
        QVERIFY(second.start());
        QVERIFY(second.process().waitForFinished(kTimeoutMs));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 1);
        const QStringList lines = second.messages();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith("Tactalon is already running for this user: "),
                 qPrintable(lines.first()));
        QVERIFY(!isUdpPortTaken(port));
        QCOMPARE(first.process().state(), QProcess::Running);
    }

    // Gestures as "kind@x,y" in monitor pixels, fingers given as TUIO points (ids 1, 2, ...).
    void gesturesNameThePostedInput_data()
    {
        QTest::addColumn<QList<QList<QPointF>>>("frames");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("tap") << QList<QList<QPointF>>{{{0.25, 0.25}}, {}}
                             << QStringList{"press@360,225", "release@360,225"};
        QTest::newRow("two-finger tap")
            << QList<QList<QPointF>>{{{0.4, 0.5}, {0.6, 0.5}}, {}}
            << QStringList{"release@576,450", "release@864,450", "right-click@720,450"};
        QTest::newRow("two fingers move down: content follows, scrolling up")
            << QList<QList<QPointF>>{{{0.4, 0.5}, {0.6, 0.5}}, {{0.4, 0.6}, {0.6, 0.6}}}
            << QStringList{"scroll-up@720,540"};
    }

    void gesturesNameThePostedInput()
    {
        QFETCH(QList<QList<QPointF>>, frames);
        QFETCH(QStringList, expected);
        AgentProcess agent;
        const quint16 port = freeUdpPort();
        QVERIFY(startOnBus(agent, port));
        QCOMPARE(callAgent(kAgentInterface, "RegisterViewer", {}).type(),
                 QDBusMessage::ReplyMessage);
        TuioSender tracker(QHostAddress::LocalHost, port);
        for (const QList<QPointF>& fingers : frames) {
            std::vector<qint32> alive;
            std::vector<TuioSet> sets;
            for (const QPointF& finger : fingers) {
                alive.push_back(qint32(alive.size()) + 1);
                sets.push_back({alive.back(), float(finger.x()), float(finger.y())});
            }
            QVERIFY(tracker.sendFrame(alive, sets));
        }
        QTRY_VERIFY_WITH_TIMEOUT(gestures().size() >= expected.size(), kTimeoutMs);
        QCOMPARE(gestures(), expected);
    }

    // The terminal's viewer against the real agent: its status block, then the tap's touches.
    void monitorToolShowsTheRealAgent()
    {
        AgentProcess agent;
        const quint16 port = freeUdpPort();
        QVERIFY(startOnBus(agent, port));
        QProcess monitor;
        monitor.start(qEnvironmentVariable("TACTALON_BUILD_DIR") + "/bin/tactalon-tuio",
                      {"monitor"});
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += monitor.readAllStandardOutput()).contains("last error"),
                                 kTimeoutMs);
        QVERIFY2(output.contains("\nmonitor: screen 1440x900+0+0\n"), output.constData());
        QVERIFY2(output.contains(QStringLiteral("port %1 (open)").arg(port).toUtf8()),
                 output.constData());

        TuioSender tracker(QHostAddress::LocalHost, port);
        QVERIFY(tracker.sendFrame({1}, {{1, 0.25f, 0.25f}}));
        QVERIFY(tracker.sendFrame({}, {}));
        QTRY_VERIFY_WITH_TIMEOUT(
            (output += monitor.readAllStandardOutput()).contains("release:(360,225)"), kTimeoutMs);
        QVERIFY2(output.contains("press:(360,225)"), output.constData());
        monitor.kill();
        monitor.waitForFinished();
    }

    // No signal while nobody watches; a coalesced stream while someone does; none again once
    // the viewer unregisters or leaves the bus.
    void touchFramesGoToViewersOnly()
    {
        AgentProcess agent;
        const quint16 port = freeUdpPort();
        QVERIFY(startOnBus(agent, port));
        TuioSender tracker(QHostAddress::LocalHost, port);

        QVERIFY(tracker.sendFrame({1}, {{1, 0.25f, 0.5f}}));
        QTRY_COMPARE_WITH_TIMEOUT(announced("FingersDown").toUInt(), 1u, kTimeoutMs);
        QTest::qWait(100);
        QCOMPARE(m_frames.size(), 0);

        QCOMPARE(callAgent(kAgentInterface, "RegisterViewer", {}).type(),
                 QDBusMessage::ReplyMessage);
        constexpr int kFrames = 1000;
        QElapsedTimer elapsed;
        elapsed.start();
        for (int step = 1; step <= kFrames; ++step) {
            QVERIFY(tracker.sendFrame({1}, {{1, 0.25f + 0.5f * step / kFrames, 0.5f}}));
            if (step % 100 == 0)
                QTest::qWait(1); // the socket's send buffer drains
        }
        // The last frame's finger at (0.75, 0.5) of the surface, on 1440x900.
        QTRY_VERIFY_WITH_TIMEOUT(!m_frames.isEmpty() && m_frames.last().fingers.size() == 1 &&
                                     m_frames.last().fingers.first().position.x() == 1080,
                                 kTimeoutMs);
        const qsizetype allowed = elapsed.elapsed() * 60 / 1000 + 2;
        QVERIFY2(m_frames.size() <= allowed && m_frames.size() < kFrames,
                 qPrintable(QStringLiteral("%1 signals for %2 frames in %3 ms")
                                .arg(m_frames.size())
                                .arg(kFrames)
                                .arg(elapsed.elapsed())));
        QCOMPARE(m_frames.last().fingers.first().id, 1u);
        QCOMPARE(m_frames.last().fingers.first().position.y(), 450.0);
        const QStringList drags = gestures().filter(QRegularExpression("^drag@"));
        QCOMPARE(drags.size(), kFrames); // every one, coalesced or not

        QVERIFY(tracker.sendFrame({}));
        QTRY_VERIFY_WITH_TIMEOUT(gestures().value(gestures().size() - 1).startsWith("release@"),
                                 kTimeoutMs);
        QVERIFY(m_frames.last().fingers.isEmpty());

        QCOMPARE(callAgent(kAgentInterface, "UnregisterViewer", {}).type(),
                 QDBusMessage::ReplyMessage);
        {
            QDBusConnection departing =
                QDBusConnection::connectToBus(QDBusConnection::SessionBus, "departing");
            QCOMPARE(callAgent(kAgentInterface, "RegisterViewer", {}, departing).type(),
                     QDBusMessage::ReplyMessage);
        }
        QDBusConnection::disconnectFromBus("departing");
        QTest::qWait(300);
        m_frames.clear();
        QVERIFY(tracker.sendFrame({2}, {{2, 0.5f, 0.5f}}));
        QTRY_COMPARE_WITH_TIMEOUT(announced("FingersDown").toUInt(), 1u, kTimeoutMs);
        QTest::qWait(100);
        QCOMPARE(m_frames.size(), 0);
    }
};

QTEST_GUILESS_MAIN(AgentBusTest)
#include "tst_agent_bus.moc"
