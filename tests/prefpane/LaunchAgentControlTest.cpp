// Start and stop of the agent through the launch-agent property list and the bundle's
// launcher tool (one that records its runs), which runs while the window goes on working.

#include "PaneTestBundle.h"
#include "platform/PropertyList.h"
#include "platform/pane/PreferencePane.h"
#include "platform/pane/PreferencePaneHost.h"
#include "platform/pane/ViewWithTag.h"
#include "support/StandardError.h"
#include "support/TemporaryHome.h"

#include <QAbstractButton>
#include <QLabel>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace {
constexpr int kStartStopTag = 4;
const QString kStart = "Start Tactalon";
const QString kStop = "Stop Tactalon";
const QString kKeepAlive = "KeepAlive";
} // namespace

class LaunchAgentControlTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_bundle.isValid()); }

    void init()
    {
        m_host.reset();
        QDir(m_home.filePath("Library")).removeRecursively();
        m_bundle.clearLauncherRuns();
        QVERIFY(m_bundle.useRecordingLauncher());
    }

    void firstLoadCreatesStoppedFileAndEachClickToggles()
    {
        QAbstractButton* button = loadPane();
        QVERIFY(button);
        QVERIFY(fileIs(stopped()));
        QCOMPARE(title(button), kStart);
        QVERIFY(m_bundle.launcherRuns().isEmpty());

        for (const bool starting : {true, false}) {
            m_bundle.clearLauncherRuns();
            const QByteArray log = standardErrorOf([&] { clickAndWait(button); });

            QCOMPARE(m_bundle.launcherRuns(), runs(starting ? "<true/>" : "<false/>"));
            QCOMPARE(title(button), starting ? kStop : kStart);
            QVERIFY2(
                log.contains(QByteArray("] PropertyList in startStopAgent {\\n    KeepAlive = ") +
                             (starting ? "0" : "1") + ";\\n"),
                log);
            QVERIFY2(
                log.contains("] (\\n    \"" + QFile::encodeName(m_bundle.agentPath()) + "\"\\n)\n"),
                log);
            QVERIFY2(log.contains(starting ? "] Start agent\n" : "] Stop agent\n"), log);
        }
        QVERIFY(fileIs(stopped()));
    }

    // Whatever goes wrong with the launcher is said in the window, and in the log; the file
    // still records what the user asked and the button is usable again.
    void launcherFailureIsShownInTheWindow_data()
    {
        QTest::addColumn<QByteArray>("launcher"); // shell lines after the recording; "-": none
        QTest::addColumn<int>("timeout");         // milliseconds a run may take
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("logged");

        QTest::newRow("missing") << QByteArray("-") << 30000 << "is missing"
                                 << QByteArray("Cannot run");
        QTest::newRow("not runnable")
            << QByteArray("chmod") << 30000 << "cannot be run" << QByteArray("Cannot run");
        QTest::newRow("exit status with error output")
            << QByteArray("echo 'launchctl: no user manager' >&2; exit 1") << 30000
            << "\"launchctl load\" failed (exit status 1). It said: launchctl: no user manager"
            << QByteArray("launchctl: no user manager\n");
        QTest::newRow("crash") << QByteArray("kill -SEGV $$") << 30000 << "crashed"
                               << QByteArray(" load crashed");
        QTest::newRow("timeout") << QByteArray("exec sleep 10") << 300
                                 << "did not finish within 0.3 seconds"
                                 << QByteArray(" load did not finish within 300 ms");
    }

    void launcherFailureIsShownInTheWindow()
    {
        QFETCH(QByteArray, launcher);
        QFETCH(int, timeout);
        QFETCH(QString, shown);
        QFETCH(QByteArray, logged);

        QAbstractButton* button = loadPane();
        QVERIFY(button);
        m_host->pane()->setProperty("launcherTimeout", timeout);
        if (launcher == "-")
            QVERIFY(QFile::remove(m_bundle.launcherPath()));
        else if (launcher == "chmod")
            QVERIFY(m_bundle.setLauncherRunnable(false));
        else
            QVERIFY(m_bundle.useRecordingLauncher(launcher));
        const QByteArray log = standardErrorOf([&] { clickAndWait(button); });

        QCOMPARE(title(button), kStop);
        QVERIFY(fileIs(with(stopped(), kKeepAlive, true)));
        const QString state = stateLabel()->text();
        QVERIFY2(state.startsWith("Tactalon may not have started:") && state.contains(shown),
                 qPrintable(state));
        QVERIFY2(log.contains(logged), log);
    }

    // The launcher takes its time: the window goes on (timers fire, edits are stored), only
    // the start/stop button waits, and the two runs still come in order.
    void slowLauncherLeavesTheWindowWorking()
    {
        QAbstractButton* button = loadPane();
        QVERIFY(button);
        QVERIFY(m_bundle.useRecordingLauncher("sleep 1"));
        const QString settings = m_home.configPath() + "/quillonworks.Tactalon.plist";
        bool storedMeanwhile = false;
        bool buttonWaited = false;
        QTimer::singleShot(100, m_host->pane(), [&] {
            buttonWaited = !button->isEnabled();
            m_host->pane()->setProperty("debugLogging", true);
            storedMeanwhile = platform::readPropertyListFile(settings).root.toMap().value(
                                  "debugLogging") == QVariant(true);
        });
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!button->isEnabled());
        QCOMPARE(stateLabel()->text(), "Starting Tactalon…");
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10000);
        QVERIFY(storedMeanwhile);
        QVERIFY(buttonWaited);
        QCOMPARE(m_bundle.launcherRuns(), runs("<true/>"));
        QCOMPARE(stateLabel()->text(), "Started. Tactalon also starts at every login.");
    }

    void fileOnDiskDecidesTitleAndClick_data()
    {
        QTest::addColumn<QVariant>("keepAlive"); // invalid: no such key
        QTest::addColumn<bool>("afterOpening");  // written behind the open pane's back
        QTest::addColumn<bool>("deleted");

        QTest::newRow("KeepAlive as a number") << QVariant(1) << false << false;
        QTest::newRow("no KeepAlive") << QVariant() << false << false;
        QTest::newRow("started behind the pane's back") << QVariant(true) << true << false;
        QTest::newRow("deleted behind the pane's back") << QVariant() << true << true;
    }

    void fileOnDiskDecidesTitleAndClick()
    {
        QFETCH(QVariant, keepAlive);
        QFETCH(bool, afterOpening);
        QFETCH(bool, deleted);
        const bool running = keepAlive.toBool();

        QVariantMap state = stopped();
        state.remove(kKeepAlive);
        if (keepAlive.isValid())
            state.insert(kKeepAlive, keepAlive);
        QAbstractButton* button = afterOpening ? loadPane() : nullptr;
        QVERIFY(deleted ? QFile::remove(file()) : writeFile(platform::xmlPropertyListData(state)));
        if (!afterOpening) {
            button = loadPane();
            QVERIFY(button);
            QCOMPARE(title(button), running ? kStop : kStart);
            QVERIFY(fileIs(state)); // opening changes nothing
        }

        clickAndWait(button);
        QCOMPARE(readFile().value(kKeepAlive), QVariant(!running));
        QCOMPARE(title(button), running ? kStart : kStop);
        QCOMPARE(m_bundle.launcherRuns(), runs(running ? "<false/>" : "<true/>"));
    }

    // Another copy of the agent in the file (moved bundle, build tree) is replaced by this
    // bundle's; a running job is reloaded so that it runs that one.
    void otherKeysSurviveAsXmlAndOtherAgentIsRepointed_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("keepAlive");
        QTest::addColumn<bool>("repointed");

        const QString elsewhere = m_home.filePath("build/TactalonPrefs.prefPane/Contents/MacOS/");
        QTest::newRow("binary file, some other program") << true << "/bin/true" << true << false;
        QTest::newRow("bundle moved away, running")
            << false << m_home.filePath("gone/Tactalon") << true << true;
        QTest::newRow("build tree's agent, running")
            << false << elsewhere + "Tactalon" << true << true;
        QTest::newRow("build tree's agent, stopped")
            << false << elsewhere + "Tactalon" << false << true;
    }

    void otherKeysSurviveAsXmlAndOtherAgentIsRepointed()
    {
        QFETCH(bool, binary);
        QFETCH(QString, program);
        QFETCH(bool, keepAlive);
        QFETCH(bool, repointed);

        QVERIFY(!program.contains("build/") || ::writeFile(program, "#!/bin/sh\n"));
        QVariantMap state{{kKeepAlive, keepAlive},
                          {"ProgramArguments", QVariantList{program, "--verbose"}},
                          {"ThrottleInterval", 30},
                          {"EnvironmentVariables", QVariantMap{{"TUIO_SOURCE", "table"}}}};
        QVERIFY(writeFile(platform::xmlPropertyListData(state)));
        if (binary)
            QCOMPARE(QProcess::execute("plistutil", {"-i", file(), "-o", file(), "-f", "bin"}), 0);
        QAbstractButton* button = nullptr;
        const QByteArray log = standardErrorOf([&] {
            button = loadPane();
            QTRY_VERIFY(button && button->isEnabled());
        });
        QVERIFY(button);
        QCOMPARE(title(button), keepAlive ? kStop : kStart);
        if (repointed) {
            state.insert("ProgramArguments", QVariantList{m_bundle.agentPath(), "--verbose"});
            QVERIFY2(log.contains(QFile::encodeName(program)) &&
                         log.contains(QFile::encodeName(m_bundle.agentPath())),
                     log);
        }
        QVERIFY(fileIs(state));
        QCOMPARE(m_bundle.launcherRuns(), repointed && keepAlive ? runs("<true/>") : QStringList());

        clickAndWait(button);
        QVERIFY(fileIs(with(state, kKeepAlive, !keepAlive)));
        QVERIFY(fileContents(file()).startsWith("<?xml"));
    }

    void unreadableFileIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no property list") << QByteArray("KeepAlive=true\n");
        QTest::newRow("root is no dictionary") << platform::xmlPropertyListData(QVariantList{1});
    }

    void unreadableFileIsKeptAside()
    {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(content));
        QAbstractButton* button = nullptr;
        const QByteArray log = standardErrorOf([&] { button = loadPane(); });
        QVERIFY(button);

        const QStringList aside = QDir(folder()).entryList({"*.plist.unreadable-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(fileContents(folder() + u'/' + aside.first()), content);
        QVERIFY2(log.contains(aside.first().toUtf8()), log);
        QVERIFY(fileIs(stopped()));
        QCOMPARE(title(button), kStart);
    }

    // A value the file holds that cannot be written back exactly: the first rewrite keeps a
    // copy of the file as it was, and says so.
    void valueWithoutExactFormIsKeptInACopy()
    {
        const QByteArray content =
            "<plist><dict><key>KeepAlive</key><true/><key>ProgramArguments</key><array>"
            "<string>/bin/true</string></array><key>Since</key>"
            "<date>1900-01-01T00:00:00Z</date></dict></plist>";
        QVERIFY(writeFile(content));
        QAbstractButton* button = loadPane();
        QVERIFY(button);
        const QByteArray log = standardErrorOf([&] { clickAndWait(button); });

        const QStringList copies = QDir(folder()).entryList({"*.plist.original-*"});
        QCOMPARE(copies.size(), 1);
        QCOMPARE(fileContents(folder() + u'/' + copies.first()), content);
        QVERIFY2(log.contains(copies.first().toUtf8()) && log.contains("\"Since\""), log);
        QVERIFY(fileIs({{kKeepAlive, false}, {"ProgramArguments", QVariantList{"/bin/true"}}}));
    }

private:
    QAbstractButton* loadPane()
    {
        m_host = std::make_unique<PreferencePaneHost>();
        if (!m_host->load(m_bundle.path()))
            return nullptr;
        return qobject_cast<QAbstractButton*>(viewWithTag(m_host->mainView(), kStartStopTag));
    }
    // Clicks and returns once the launcher's runs are over.
    void clickAndWait(QAbstractButton* button)
    {
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 20000);
    }
    // The title as read, without its mnemonic mark.
    static QString title(const QAbstractButton* button) { return button->text().remove(u'&'); }
    QLabel* stateLabel() const { return m_host->mainView()->findChild<QLabel*>("agentStateLabel"); }
    QString folder() const { return m_home.filePath("Library/LaunchAgents"); }
    QString file() const { return folder() + "/quillonworks.Tactalon.plist"; }
    QVariantMap readFile() const { return platform::readPropertyListFile(file()).root.toMap(); }
    // The same keys, each with the same kind and value as on disk.
    bool fileIs(const QVariantMap& expected) const
    {
        return platform::plistValuesEqual(readFile(), expected);
    }
    bool writeFile(const QByteArray& data) const { return ::writeFile(file(), data); }
    QVariantMap stopped() const
    {
        return {{kKeepAlive, false},
                {"Label", "quillonworks.Tactalon"},
                {"ProgramArguments", QVariantList{m_bundle.agentPath()}}};
    }
    QStringList runs(const QString& keepAlive) const
    {
        return {"unload " + file() + " " + keepAlive, "load " + file() + " " + keepAlive};
    }

    TemporaryHome m_home;
    PaneTestBundle m_bundle;
    std::unique_ptr<PreferencePaneHost> m_host;
};

QTEST_MAIN(LaunchAgentControlTest)
#include "LaunchAgentControlTest.moc"
