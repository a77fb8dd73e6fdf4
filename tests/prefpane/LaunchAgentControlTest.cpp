// Start and stop of the agent through the launch-agent property list and the bundle's
// launcher tool (one that records its runs).

#include "PaneTestBundle.h"
#include "platform/PropertyList.h"
#include "platform/pane/PreferencePane.h"
#include "platform/pane/PreferencePaneHost.h"
#include "platform/pane/ViewWithTag.h"
#include "support/StandardError.h"
#include "support/TemporaryHome.h"

#include <QAbstractButton>
#include <QProcess>
#include <QTest>
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
        QVERIFY(m_bundle.setLauncherRunnable(true));
    }

    void firstLoadCreatesStoppedFileAndEachClickToggles()
    {
        QAbstractButton* button = loadPane();
        QVERIFY(button);
        QVERIFY(fileIs(stopped()));
        QCOMPARE(button->text(), kStart);
        QVERIFY(m_bundle.launcherRuns().isEmpty());

        for (const bool starting : {true, false}) {
            m_bundle.clearLauncherRuns();
            const QByteArray log =
                standardErrorOf([&] { QTest::mouseClick(button, Qt::LeftButton); });

            QCOMPARE(m_bundle.launcherRuns(), runs(starting ? "<true/>" : "<false/>"));
            QCOMPARE(button->text(), starting ? kStop : kStart);
            QVERIFY(button->isEnabled());
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

        // A launcher that cannot start: the file still flips and the button stays usable.
        QVERIFY(m_bundle.setLauncherRunnable(false));
        const QByteArray log = standardErrorOf([&] { QTest::mouseClick(button, Qt::LeftButton); });
        QVERIFY(button->isEnabled());
        QCOMPARE(button->text(), kStop);
        QVERIFY(fileIs(with(stopped(), kKeepAlive, true)));
        for (const char* verb : {" unload:", " load:"})
            QVERIFY2(
                log.contains("Cannot run " + QFile::encodeName(m_bundle.launcherPath()) + verb),
                log);
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
            QCOMPARE(button->text(), running ? kStop : kStart);
            QVERIFY(fileIs(state)); // opening changes nothing
        }

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(readFile().value(kKeepAlive), QVariant(!running));
        QCOMPARE(button->text(), running ? kStart : kStop);
        QCOMPARE(m_bundle.launcherRuns(), runs(running ? "<false/>" : "<true/>"));
    }

    void otherKeysSurviveAsXmlAndMovedAgentIsRepointed_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("repointed");

        QTest::newRow("binary file, agent there") << true << "/bin/true" << false;
        QTest::newRow("bundle moved away")
            << false << m_home.filePath("gone/TactalonPrefs.prefPane/Contents/MacOS/Tactalon")
            << true;
    }

    void otherKeysSurviveAsXmlAndMovedAgentIsRepointed()
    {
        QFETCH(bool, binary);
        QFETCH(QString, program);
        QFETCH(bool, repointed);

        QVariantMap state{{kKeepAlive, true},
                          {"ProgramArguments", QVariantList{program, "--verbose"}},
                          {"ThrottleInterval", 30},
                          {"EnvironmentVariables", QVariantMap{{"TUIO_SOURCE", "table"}}}};
        QVERIFY(writeFile(platform::xmlPropertyListData(state)));
        if (binary)
            QCOMPARE(QProcess::execute("plistutil", {"-i", file(), "-o", file(), "-f", "bin"}), 0);
        QAbstractButton* button = loadPane();
        QVERIFY(button);
        QCOMPARE(button->text(), kStop);
        if (repointed)
            state.insert("ProgramArguments", QVariantList{m_bundle.agentPath(), "--verbose"});
        QVERIFY(fileIs(state));
        QVERIFY(m_bundle.launcherRuns().isEmpty());

        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(fileIs(with(state, kKeepAlive, false)));
        QVERIFY(fileContents(file()).startsWith("<?xml"));
    }

    void unreadableFileIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no property list") << QByteArray("KeepAlive=true\n");
        QTest::newRow("root is no dictionary") << platform::xmlPropertyListData(QVariantList{1});
        QTest::newRow("truncated binary") << QByteArray("bplist00\xd1\x01\x02", 11);
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
        QCOMPARE(button->text(), kStart);
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
        const QByteArray log = standardErrorOf([&] { QTest::mouseClick(button, Qt::LeftButton); });

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
