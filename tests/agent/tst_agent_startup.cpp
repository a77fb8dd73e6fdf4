// The agent program as the service launcher runs it: its start-up lines, its merge of the
// settings, and its answers to the notices of the session bus.
#include "AgentProcess.h"
#include "UnreadableFile.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsKeys.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <optional>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

class AgentStartupTest : public QObject
{
    Q_OBJECT

private:
    static void postOnSessionBus(const QString& name)
    {
        platform::DistributedNotificationCenter::defaultCenter().postNotificationName(name);
    }

    static QStringList startupLines()
    {
        return {"Registered with notificationcenter", "Registered Distributet Notification",
                "Resolution: 1440 x 900", AgentProcess::listeningLine(3333)};
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
        QVERIFY2(!isUdpPortTaken(3333), "port 3333 is in use by another program");

        AgentProcess agent;
        if (debugLogging.isValid())
            QVERIFY(AgentProcess::storeSettings(agent.home(), {{kDebugLogging, debugLogging}}));
        QVERIFY(agent.start());
        // The default port proves that the merge ran before the client was made.
        QTRY_VERIFY_WITH_TIMEOUT(isUdpPortTaken(3333), 20000);
        QVERIFY(agent.terminate());
        QCOMPARE(agent.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(agent.process().exitCode(), 0);

        QStringList seen;
        for (const QString& message : agent.messages()) {
            if (startupLines().contains(message))
                seen << message;
        }
        QCOMPARE(seen, logged ? startupLines() : QStringList());

        // The merge stored the nine keys and kept the one stored before.
        platform::UserDefaults defaults(agent.home() + QStringLiteral("/.config"));
        const QVariantMap domain =
            defaults.persistentDomainForName(kDomainName).value_or(QVariantMap{});
        QCOMPARE(domain.size(), 9);
        QCOMPARE(domain.value(kDebugLogging), debugLogging.isValid() ? debugLogging : false);
    }

    // A settings file the agent cannot read must not stop it, under the service manager least
    // of all: it starts, listens, and says so in one line.
    void unreadableSettingsFileIsOneLine_data()
    {
        QTest::addColumn<QByteArray>("content");
        addUnreadableFileRows();
    }

    void unreadableSettingsFileIsOneLine()
    {
        QFETCH(QByteArray, content);
        AgentProcess agent;
        const QString file = agent.home() + "/.config/quillonworks.Tactalon.plist";
        std::optional<FifoAtPath> fifo;
        QVERIFY(placeFile(file, content, fifo));
        QVERIFY(agent.start());
        QTRY_VERIFY_WITH_TIMEOUT(isUdpPortTaken(3333), 20000);
        QVERIFY(!fifo || !fifo->blocked());
        QVERIFY(agent.terminate());
        QCOMPARE(agent.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(agent.messages().filter(file).size(), 1);
    }

    // The settings notice makes the agent read the store again, but its listener stays; the
    // port notice moves the listener to the port stored now and frees the old one.
    void portMovesOnlyOnThePortNotice()
    {
        AgentProcess agent;
        const quint16 oldPort = freeUdpPort();
        QVERIFY(agent.startListening(oldPort));

        const quint16 newPort = freeUdpPort();
        QVERIFY(AgentProcess::storeSettings(agent.home(),
                                            {{kPortStr, QVariant::fromValue<qint32>(newPort)}}));
        postOnSessionBus(kDefaultsDidChangeNotification);
        // A second notice the agent must also handle proves the first one was taken in.
        postOnSessionBus(kDefaultsDidChangeNotification);
        QTest::qWait(300);
        QVERIFY(isUdpPortTaken(oldPort));
        QVERIFY(!isUdpPortTaken(newPort));

        postOnSessionBus(kPortDidChangeNotification);
        QVERIFY(agent.waitForMessage(AgentProcess::listeningLine(newPort)));
        QVERIFY(isUdpPortTaken(newPort));
        QVERIFY(!isUdpPortTaken(oldPort));
        const QStringList portLines = agent.messages().filter(QStringLiteral("Port changed: "));
        QCOMPARE(portLines.size(), 1);
        QVERIFY(portLines.first().contains(kPortDidChangeNotification));
    }

    // In a Wayland session XTest reaches X11 windows only: the agent says so in one line, with
    // the way to grant /dev/uinput, instead of taking XTest silently.
    void waylandSessionWithoutUinputIsOneWarning()
    {
        if (::access("/dev/uinput", W_OK) == 0)
            QSKIP("/dev/uinput is writable here: uinput would be chosen");
        AgentProcess agent;
        agent.setEnvironment(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-9"));
        QVERIFY(agent.startListening(freeUdpPort()));
        const QStringList warnings = agent.messages().filter(QStringLiteral("XWayland"));
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains(QStringLiteral("/dev/uinput is not writable (")) &&
                     warnings.first().contains(QStringLiteral("data/70-tactalon-uinput.rules")),
                 qPrintable(warnings.first()));
        QCOMPARE(agent.messages().filter(QStringLiteral("Mouse events go through")).size(), 0);
    }

    void portThatCannotBeOpenedIsReported()
    {
        AgentProcess agent;
        QVERIFY(AgentProcess::storeSettings(agent.home(),
                                            {{kPortStr, QVariant::fromValue<qint32>(70000)}}));
        QVERIFY(agent.start());
        QTRY_VERIFY_WITH_TIMEOUT(!agent.messages().filter(QStringLiteral("70000")).isEmpty(),
                                 20000);
        QCOMPARE(agent.process().state(), QProcess::Running);
    }

    // With no display and no /dev/uinput (an early login) the agent says why and ends unavailable,
    // for the service manager to start it again. In the journal its lines are bare messages with
    // a priority; a JOURNAL_STREAM naming some other file (inherited from a parent) changes
    // nothing.
    void withoutBackendEndsUnavailableAndWritesForTheJournal_data()
    {
        QTest::addColumn<bool>("intoJournal");
        QTest::newRow("standard error is the journal") << true;
        QTest::newRow("JOURNAL_STREAM names another file") << false;
    }

    void withoutBackendEndsUnavailableAndWritesForTheJournal()
    {
        QFETCH(bool, intoJournal);
        if (QFileInfo(QStringLiteral("/dev/uinput")).isWritable())
            QSKIP("this machine grants /dev/uinput: the agent has a backend");
        AgentProcess agent;
        QVERIFY(AgentProcess::storeSettings(
            agent.home(), {{kPortStr, QVariant::fromValue<qint32>(freeUdpPort())}}));
        const QString logPath = agent.home() + QStringLiteral("/journal");
        QFile(logPath).open(QIODevice::WriteOnly);
        struct stat status = {};
        QCOMPARE(::stat(QFile::encodeName(intoJournal ? logPath : agent.home()), &status), 0);
        agent.setEnvironment(QStringLiteral("JOURNAL_STREAM"),
                             QStringLiteral("%1:%2").arg(status.st_dev).arg(status.st_ino));
        agent.setEnvironment(QStringLiteral("DISPLAY"), QString());
        agent.setEnvironment(QStringLiteral("WAYLAND_DISPLAY"), QString());
        agent.process().setStandardErrorFile(logPath, QIODevice::Append);

        QVERIFY(agent.start());
        QVERIFY(agent.process().waitForFinished(20000));
        QCOMPARE(agent.process().exitCode(), EX_UNAVAILABLE);
        const QStringList lines =
            QString::fromUtf8(fileContents(logPath)).split('\n', Qt::SkipEmptyParts);
        const QString ending = QStringLiteral("Nothing to do without a way to post mouse events: "
                                              "ending in 5 s, to be started again once the "
                                              "desktop is there");
        const QStringList endingLines = lines.filter(ending);
        QCOMPARE(endingLines.size(), 1);
        if (!intoJournal) {
            QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\d [\d:.]+ Tactalon\[\d+\] )")
                         .match(endingLines.first())
                         .hasMatch(),
                     qPrintable(endingLines.first()));
            return;
        }
        QCOMPARE(endingLines.first(), "<4>" + ending);
        for (const QString& line : lines)
            QVERIFY2(QRegularExpression(R"(^<[3-7]>[^<])").match(line).hasMatch(),
                     qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(AgentStartupTest)
#include "tst_agent_startup.moc"
