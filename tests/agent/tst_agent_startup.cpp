// The agent program as the service launcher runs it: its start-up lines, its merge of the
// settings, and its answers to the notices of the session bus.
#include "AgentProcess.h"
#include "BinaryPropertyListBytes.h"
#include "FifoAtPath.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsKeys.h"

#include <QTemporaryDir>
#include <QTest>
#include <optional>

class AgentStartupTest : public QObject
{
    Q_OBJECT

private:
    static void postOnSessionBus(const QString& name)
    {
        QProcess sender;
        sender.start(QStringLiteral("dbus-send"),
                     {QStringLiteral("--session"), QStringLiteral("--type=signal"),
                      QStringLiteral("/quillonworks/DistributedNotification"),
                      QStringLiteral("quillonworks.DistributedNotification.Posted"),
                      QStringLiteral("string:") + name});
        QVERIFY(sender.waitForFinished(10000));
        QCOMPARE(sender.exitCode(), 0);
    }

    static const QStringList& startupLines()
    {
        static const QStringList lines = {
            QStringLiteral("Registered with notificationcenter"),
            QStringLiteral("Registered Distributet Notification"),
            QStringLiteral("Resolution: 1440 x 900"),
            QStringLiteral("started TuioClient on Port: 3333"),
        };
        return lines;
    }

private slots:
    void startupLinesFollowDebugLogging_data()
    {
        QTest::addColumn<QVariant>("debugLogging");
        QTest::addColumn<bool>("logged");
        QTest::newRow("true") << QVariant(true) << true;
        QTest::newRow("false") << QVariant(false) << false;
        QTest::newRow("absent") << QVariant() << false;
        QTest::newRow("a non-zero integer counts as true")
            << QVariant::fromValue<qint32>(1) << true;
    }

    void startupLinesFollowDebugLogging()
    {
        QFETCH(QVariant, debugLogging);
        QFETCH(bool, logged);
        QVERIFY2(!AgentProcess::isPortTaken(3333), "port 3333 is in use by another program");

        QTemporaryDir home;
        if (debugLogging.isValid())
            QVERIFY(AgentProcess::storeSettings(home.path(), {{kDebugLogging, debugLogging}}));

        AgentProcess agent(home.path());
        QVERIFY(agent.start());
        // The default port proves that the merge ran before the client was made.
        QTRY_VERIFY_WITH_TIMEOUT(AgentProcess::isPortTaken(3333), 20000);
        QVERIFY(agent.terminate());
        QCOMPARE(agent.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(agent.process().exitCode(), 0);

        QStringList seen;
        for (const QString& message : agent.messages()) {
            if (startupLines().contains(message))
                seen << message;
        }
        QCOMPARE(seen, logged ? startupLines() : QStringList());
    }

    void firstStartStoresTheNineDefaults()
    {
        QTemporaryDir home;
        AgentProcess agent(home.path());
        QVERIFY(agent.start());
        QTRY_VERIFY_WITH_TIMEOUT(AgentProcess::isPortTaken(3333), 20000);
        QVERIFY(agent.terminate());

        platform::UserDefaults defaults(home.path() + QStringLiteral("/.config"));
        const QVariantMap domain =
            defaults.persistentDomainForName(kDomainName).value_or(QVariantMap{});
        QCOMPARE(domain.keys().size(), 9);
        QCOMPARE(domain.value(kDebugLogging), QVariant(false));
    }

    // A settings file the agent cannot read must not stop it, under the service manager least
    // of all: it starts, listens, and says so in one line.
    void unreadableSettingsFileIsOneLine_data()
    {
        QTest::addColumn<QByteArray>("content"); // "FIFO": a FIFO without a writer
        QTest::newRow("binary key holding U+0000, which libplist asserts on")
            << binaryDictionary(QByteArray("\x63\x00p\x00o\x00\x00", 7), "\x09");
        QTest::newRow("FIFO") << QByteArray("FIFO");
    }

    void unreadableSettingsFileIsOneLine()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir home;
        const QString file = home.filePath(QStringLiteral(".config/quillonworks.Tactalon.plist"));
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral(".config"))));
        std::optional<FifoAtPath> fifo;
        if (content == "FIFO") {
            QVERIFY((fifo.emplace(file), fifo->made()));
        } else {
            QFile settings(file);
            QVERIFY(settings.open(QIODevice::WriteOnly) && settings.write(content) > 0);
        }

        AgentProcess agent(home.path());
        QVERIFY(agent.start());
        QTRY_VERIFY_WITH_TIMEOUT(AgentProcess::isPortTaken(3333), 20000);
        QVERIFY(!fifo || !fifo->blocked());
        QVERIFY(agent.terminate());
        QCOMPARE(agent.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(agent.messages().filter(file).size(), 1);
    }

    // The settings notice makes the agent read the store again, but its listener stays; the
    // port notice moves the listener to the port stored now and frees the old one.
    void portMovesOnlyOnThePortNotice()
    {
        QTemporaryDir home;
        const quint16 oldPort = AgentProcess::freePort();
        QVERIFY(AgentProcess::storeSettings(
            home.path(),
            {{kDebugLogging, true}, {kPortStr, QVariant::fromValue<qint32>(oldPort)}}));
        AgentProcess agent(home.path());
        QVERIFY(agent.start());
        QVERIFY(
            agent.waitForMessage(QStringLiteral("started TuioClient on Port: %1").arg(oldPort)));

        const quint16 newPort = AgentProcess::freePort();
        QVERIFY(AgentProcess::storeSettings(home.path(),
                                            {{kPortStr, QVariant::fromValue<qint32>(newPort)}}));
        postOnSessionBus(kDefaultsDidChangeNotification);
        // A second notice the agent must also handle proves the first one was taken in.
        postOnSessionBus(kDefaultsDidChangeNotification);
        QTest::qWait(300);
        QVERIFY(AgentProcess::isPortTaken(oldPort));
        QVERIFY(!AgentProcess::isPortTaken(newPort));

        postOnSessionBus(kPortDidChangeNotification);
        QVERIFY(
            agent.waitForMessage(QStringLiteral("started TuioClient on Port: %1").arg(newPort)));
        QVERIFY(AgentProcess::isPortTaken(newPort));
        QVERIFY(!AgentProcess::isPortTaken(oldPort));
        const QStringList portLines = agent.messages().filter(QStringLiteral("Port changed: "));
        QCOMPARE(portLines.size(), 1);
        QVERIFY(portLines.first().contains(kPortDidChangeNotification));
    }

    void portThatCannotBeOpenedIsReported()
    {
        QTemporaryDir home;
        QVERIFY(AgentProcess::storeSettings(home.path(),
                                            {{kPortStr, QVariant::fromValue<qint32>(70000)}}));
        AgentProcess agent(home.path());
        QVERIFY(agent.start());
        QTRY_VERIFY_WITH_TIMEOUT(!agent.messages().filter(QStringLiteral("70000")).isEmpty(),
                                 20000);
        QCOMPARE(agent.process().state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(AgentStartupTest)
#include "tst_agent_startup.moc"
