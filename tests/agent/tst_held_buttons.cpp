// No left button stays down in the X server of $DISPLAY (1440x900), however the agent program
// ends mid-drag.
#include "AgentProcess.h"
#include "XEventObserver.h"
#include "platform/HeldButtonRecord.h"
#include "platform/XTestEventPoster.h"
#include "settings/SettingsKeys.h"
#include "tuio/encoder/TuioSender.h"

#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The held-button records in the agent's runtime folder.
QStringList records(const QString& home)
{
    return QDir(AgentProcess::runtimeFolder(home))
        .entryList({QLatin1String(platform::HeldButtonRecord::fileNamePrefix) + QLatin1Char('*')},
                   QDir::Files);
}

} // namespace

class HeldButtonsTest : public QObject
{
    Q_OBJECT

private:
    XEventObserver m_observer;

    // One finger down at (576, 360) and moving: the left button is down when this returns.
    void pressAndDrag(TuioSender& tracker)
    {
        m_observer.collect();
        m_observer.clear();
        QVERIFY(tracker.sendFrame({5}, {{5, 0.4f, 0.4f}}));
        QVERIFY(tracker.sendFrame({5}, {{5, 0.45f, 0.45f}}));
        QVERIFY2(m_observer.waitFor(XPointerEvent::press(1)), qPrintable(m_observer.toString()));
        QVERIFY2(m_observer.waitFor([](const XPointerEvent& e) { return e.rootX == 648; }),
                 qPrintable(m_observer.toString()));
        QVERIFY(m_observer.isLeftButtonDown());
    }

    void verifyLetGo()
    {
        QVERIFY2(m_observer.waitFor(XPointerEvent::release(1)), qPrintable(m_observer.toString()));
        QVERIFY(!m_observer.isLeftButtonDown());
    }

private slots:
    // One observer for the whole run: its connection also keeps Xvfb from resetting.
    void initTestCase() { QVERIFY2(m_observer.start(), qPrintable(m_observer.error())); }

    // A case that failed with the button down must not fail the ones after it.
    void cleanup()
    {
        platform::XTestEventPoster::releaseButtons(qEnvironmentVariable("DISPLAY"), {1});
    }

    void everyEndOfADragLetsGo_data()
    {
        QTest::addColumn<int>("signal"); // 0: the finger is lifted
        QTest::newRow("finger lifted") << 0;
        for (int signal :
             {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ})
            QTest::newRow(sigabbrev_np(signal)) << signal;
    }

    // The press is on record while the button is down, and the record goes with the release.
    void everyEndOfADragLetsGo()
    {
        QFETCH(int, signal);
        AgentProcess agent;
        const quint16 port = freeUdpPort();
        QVERIFY(agent.startListening(port));
        TuioSender tracker(QHostAddress::LocalHost, port);
        pressAndDrag(tracker);
        QCOMPARE(records(agent.home()).size(), 1);

        if (signal == 0) {
            QVERIFY(tracker.sendFrame({}, {}));
        } else {
            ::kill(static_cast<pid_t>(agent.process().processId()), signal);
            QVERIFY(agent.process().waitForFinished(20000));
            QCOMPARE(agent.process().exitStatus(), QProcess::NormalExit);
            QCOMPARE(agent.process().exitCode(), 0);
        }
        verifyLetGo();
        QTRY_COMPARE_WITH_TIMEOUT(records(agent.home()), QStringList(), 5000);
    }

    // SIGKILL leaves the button down in the server; the next agent lets it go as it starts.
    // An agent started while the first still runs (possible without a session bus) leaves its
    // button and record alone.
    void killedAgentsButtonIsLetGoByTheNextOne()
    {
        QTemporaryDir home;
        auto first = std::make_unique<AgentProcess>(home.path());
        const quint16 port = freeUdpPort();
        QVERIFY(first->startListening(port));
        TuioSender tracker(QHostAddress::LocalHost, port);
        pressAndDrag(tracker);
        const QStringList held = records(home.path());
        QCOMPARE(held.size(), 1);

        AgentProcess second;
        second.setEnvironment("XDG_RUNTIME_DIR", AgentProcess::runtimeFolder(home.path()));
        // Only without a session bus does a second agent of the user get this far.
        second.setEnvironment("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.path() + "/no-bus");
        QVERIFY(second.startListening(freeUdpPort()));
        QVERIFY(second.terminate());
        QVERIFY(m_observer.isLeftButtonDown());
        QCOMPARE(records(home.path()), held);

        const qint64 killedPid = first->process().processId();
        ::kill(static_cast<pid_t>(killedPid), SIGKILL);
        QVERIFY(first->process().waitForFinished(20000));
        first.reset();
        m_observer.collect();
        QVERIFY(m_observer.isLeftButtonDown());
        QCOMPARE(records(home.path()), held);

        AgentProcess next(home.path());
        QVERIFY(next.startListening(freeUdpPort()));
        verifyLetGo();
        const QString letGo = QStringLiteral("Let go of the left button that an agent which ended "
                                             "(pid %1) left held on X display %2")
                                  .arg(killedPid)
                                  .arg(qEnvironmentVariable("DISPLAY"));
        QCOMPARE(next.messages().filter(QStringLiteral("Let go of")), QStringList{letGo});
        QCOMPARE(records(home.path()), QStringList());
    }

    // With standard error closed a log line can no longer be written; the agent goes on.
    void closedStandardErrorDoesNotEndADrag()
    {
        AgentProcess agent;
        int log[2];
        QCOMPARE(::pipe2(log, O_CLOEXEC), 0);
        agent.process().setChildProcessModifier([&log] { ::dup2(log[1], STDERR_FILENO); });
        const quint16 port = freeUdpPort();
        QVERIFY(AgentProcess::storeSettings(agent.home(),
                                            {{kPortStr, QVariant::fromValue<qint32>(port)}}));
        QVERIFY(agent.start());
        ::close(log[1]);
        QTRY_VERIFY_WITH_TIMEOUT(isUdpPortTaken(port), 20000);
        TuioSender tracker(QHostAddress::LocalHost, port);
        pressAndDrag(tracker);

        ::close(log[0]);
        // A malformed datagram is logged at once; the move after it is handled only once the
        // line has been written.
        QVERIFY(tracker.sendDatagram("not a TUIO bundle"));
        QVERIFY(tracker.sendFrame({5}, {{5, 0.5f, 0.5f}}));
        QVERIFY2(m_observer.waitFor([](const XPointerEvent& e) { return e.rootX == 720; }),
                 qPrintable(m_observer.toString()));
        QCOMPARE(agent.process().state(), QProcess::Running);
        QVERIFY(tracker.sendFrame({}, {}));
        verifyLetGo();
    }
};

QTEST_GUILESS_MAIN(HeldButtonsTest)
#include "tst_held_buttons.moc"
