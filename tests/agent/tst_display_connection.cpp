// The agent program's connection to an X display that does not answer the first time: a
// stand-in display in front of the X server of $DISPLAY (1440x900) drops connections or starts
// listening late.
#include "AgentProcess.h"
#include "settings/SettingsKeys.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

QString socketPath(int display)
{
    return QStringLiteral("/tmp/.X11-unix/X%1").arg(display);
}

// Runs the event loop until `done`, for 20 s at most. (QTest::qWaitFor sleeps 10 ms between
// rounds, which would slow every request through the stand-in display.)
bool runEventLoopUntil(const std::function<bool()>& done)
{
    QTimer heartbeat; // wakes the loop up to look at the time
    heartbeat.start(50);
    const QDeadlineTimer deadline(20000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

} // namespace

// X display ":N" passed through to the X server of $DISPLAY, once it listens; the first
// `drops` connections are closed as soon as they come. It holds the display number with a lock
// file, as an X server does, and runs on the test's event loop.
class DisplayProxy : public QObject
{
public:
    explicit DisplayProxy(int drops) : m_dropsLeft(drops)
    {
        const QString display = qEnvironmentVariable("DISPLAY");
        m_target = socketPath(
            display.section(QLatin1Char(':'), 1).section(QLatin1Char('.'), 0, 0).toInt());
        // Far above the displays that test runs start, but not in use anyway.
        for (int number = 150; number < 250 && m_number < 0; ++number) {
            const QByteArray lock = QStringLiteral("/tmp/.X%1-lock").arg(number).toLocal8Bit();
            const int fd = ::open(lock.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0)
                continue;
            ::close(fd);
            if (QFile::exists(socketPath(number))) {
                ::unlink(lock.constData());
                continue;
            }
            m_number = number;
        }
        connect(&m_server, &QLocalServer::newConnection, this, &DisplayProxy::accept);
    }

    ~DisplayProxy() override
    {
        m_server.close();
        if (m_number >= 0)
            QFile::remove(QStringLiteral("/tmp/.X%1-lock").arg(m_number));
    }

    QString displayName() const { return QStringLiteral(":%1").arg(m_number); }
    bool listen() { return m_number >= 0 && m_server.listen(socketPath(m_number)); }

private:
    void accept()
    {
        while (QLocalSocket* client = m_server.nextPendingConnection()) {
            if (m_dropsLeft > 0) {
                --m_dropsLeft;
                client->abort();
                client->deleteLater();
                continue;
            }
            pass(client);
        }
    }

    void pass(QLocalSocket* client)
    {
        auto* server = new QLocalSocket(client);
        server->connectToServer(m_target);
        server->waitForConnected(5000);
        connect(client, &QLocalSocket::readyRead, server,
                [client, server] { server->write(client->readAll()); });
        connect(server, &QLocalSocket::readyRead, client,
                [client, server] { client->write(server->readAll()); });
        connect(server, &QLocalSocket::disconnected, client, &QLocalSocket::abort);
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        server->write(client->readAll());
    }

    QLocalServer m_server;
    QString m_target;
    int m_number = -1;
    int m_dropsLeft;
};

class DisplayConnectionTest : public QObject
{
    Q_OBJECT

private:
    // Starts the agent on `display` and ends it once it listens for touches, its log lines in
    // `log`. The test's event loop runs meanwhile, as it carries the stand-in display.
    void startAndEnd(const QString& display, QStringList& log)
    {
        QTemporaryDir home;
        const quint16 port = AgentProcess::freePort();
        QVERIFY(AgentProcess::storeSettings(
            home.path(), {{kPortStr, QVariant::fromValue<qint32>(port)}, {kDebugLogging, true}}));
        AgentProcess agent(home.path());
        agent.setEnvironment(QStringLiteral("DISPLAY"), display);
        QVERIFY(agent.start());
        const QString listening = QStringLiteral("started TuioClient on Port: %1").arg(port);
        const bool started =
            runEventLoopUntil([&] { return agent.messages().contains(listening); });
        ::kill(static_cast<pid_t>(agent.process().processId()), SIGTERM);
        QVERIFY(runEventLoopUntil([&] { return agent.process().state() == QProcess::NotRunning; }));
        log = agent.messages();
        QVERIFY2(started, qPrintable(log.join(QLatin1Char('\n'))));
    }

private slots:
    void initTestCase()
    {
        if (::access("/dev/uinput", W_OK) == 0)
            QSKIP("/dev/uinput is writable here: the agent would not post through XTest");
    }

    void displayAnsweringLateIsWaitedFor_data()
    {
        QTest::addColumn<int>("drops");
        QTest::addColumn<int>("listenAfterMs");
        QTest::newRow("first connection dropped") << 1 << 0;
        QTest::newRow("listening 0.4 s late") << 0 << 400;
    }

    void displayAnsweringLateIsWaitedFor()
    {
        QFETCH(int, drops);
        QFETCH(int, listenAfterMs);
        DisplayProxy proxy(drops);
        if (listenAfterMs == 0)
            QVERIFY(proxy.listen());
        else
            QTimer::singleShot(listenAfterMs, &proxy, [&proxy] { proxy.listen(); });
        QStringList log;
        startAndEnd(proxy.displayName(), log);
        QVERIFY2(log.contains(QStringLiteral("Resolution: 1440 x 900")),
                 qPrintable(log.join(QLatin1Char('\n'))));
        QCOMPARE(log.filter(QStringLiteral("Mouse events go through XTest on X display %1 (")
                                .arg(proxy.displayName()))
                     .size(),
                 1);
    }

    void displayNeverAnsweringIsGivenUpOnce()
    {
        DisplayProxy proxy(0);
        QStringList log;
        startAndEnd(proxy.displayName(), log);
        const QString givenUp = QStringLiteral("Cannot connect to the X display %1 (5 tries over "
                                               "1.5 s); going on without it")
                                    .arg(proxy.displayName());
        QCOMPARE(log.filter(QStringLiteral("Cannot connect")), QStringList{givenUp});
    }
};

QTEST_GUILESS_MAIN(DisplayConnectionTest)
#include "tst_display_connection.moc"
