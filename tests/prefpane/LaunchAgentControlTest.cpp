// Start and stop of the agent through the launch-agent property list and the bundle's
// launcher tool (one that records its runs): the file the pane creates, the file on disk
// deciding the title and each click, the two runs and the log lines of a toggle, and files
// that are foreign, binary, unreadable or point at a bundle that moved.

#include "PaneTestBundle.h"
#include "StandardErrorCapture.h"
#include "platform/PropertyList.h"
#include "platform/pane/PreferencePane.h"
#include "platform/pane/PreferencePaneHost.h"
#include "platform/pane/ViewWithTag.h"
#include "support/TemporaryHome.h"

#include <QAbstractButton>
#include <QTest>
#include <memory>
#include <plist/plist.h>

namespace {
constexpr int kStartStopTag = 4;
const QString kStart = QStringLiteral("Start Tactalon");
const QString kStop = QStringLiteral("Stop Tactalon");
const QString kKeepAlive = QStringLiteral("KeepAlive");

QByteArray binaryPropertyList(const QVariantMap& map)
{
    const QByteArray xml = platform::xmlPropertyListData(map);
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    char* data = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &data, &length);
    const QByteArray binary(data, int(length));
    plist_to_bin_free(data);
    plist_free(root);
    return binary;
}
} // namespace

class LaunchAgentControlTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_bundle.isValid()); }
    void init();
    void firstLoadCreatesFolderAndStoppedFile();
    void fileOnDiskDecidesTitleAndClick_data();
    void fileOnDiskDecidesTitleAndClick();
    void toggleRunsUnloadThenLoadAndLogs();
    void foreignKeysSurviveAndBinaryComesBackAsXml();
    void unreadableFileIsKeptAside_data();
    void unreadableFileIsKeptAside();
    void movedBundleIsPointedAtThisBundlesAgent_data();
    void movedBundleIsPointedAtThisBundlesAgent();
    void launcherThatCannotStartLeavesButtonEnabled();

private:
    QAbstractButton* loadPane()
    {
        m_host = std::make_unique<PreferencePaneHost>();
        if (!m_host->load(m_bundle.path()))
            return nullptr;
        return qobject_cast<QAbstractButton*>(viewWithTag(m_host->mainView(), kStartStopTag));
    }
    QString folder() const { return m_home.filePath(QStringLiteral("Library/LaunchAgents")); }
    QString file() const { return folder() + QStringLiteral("/quillonworks.Tactalon.plist"); }
    QVariantMap readFile() const { return platform::readPropertyListFile(file()).root.toMap(); }
    bool writeFile(const QByteArray& data) const
    {
        QDir().mkpath(folder());
        QFile out(file());
        return out.open(QIODevice::WriteOnly) && out.write(data) == data.size();
    }
    QVariantMap stopped() const
    {
        return {{kKeepAlive, false},
                {QStringLiteral("Label"), QStringLiteral("quillonworks.Tactalon")},
                {QStringLiteral("ProgramArguments"), QVariantList{m_bundle.agentPath()}}};
    }
    QStringList runs(const QString& keepAlive) const
    {
        return {"unload " + file() + " " + keepAlive, "load " + file() + " " + keepAlive};
    }

    TemporaryHome m_home;
    PaneTestBundle m_bundle;
    std::unique_ptr<PreferencePaneHost> m_host;
};

void LaunchAgentControlTest::init()
{
    m_host.reset();
    QDir(m_home.filePath(QStringLiteral("Library"))).removeRecursively();
    m_bundle.clearLauncherRuns();
    QVERIFY(m_bundle.setLauncherRunnable(true));
}

void LaunchAgentControlTest::firstLoadCreatesFolderAndStoppedFile()
{
    QAbstractButton* button = loadPane();
    QVERIFY(button);
    QCOMPARE(readFile(), stopped());
    QCOMPARE(readFile().value(kKeepAlive).typeId(), QMetaType::Bool);
    QCOMPARE(button->text(), kStart);
    QVERIFY(m_bundle.launcherRuns().isEmpty());
}

void LaunchAgentControlTest::fileOnDiskDecidesTitleAndClick_data()
{
    QTest::addColumn<QVariant>("keepAlive"); // invalid: no such key
    QTest::addColumn<bool>("afterOpening");  // written behind the open pane's back
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<bool>("running");

    QTest::newRow("running") << QVariant(true) << false << false << true;
    QTest::newRow("KeepAlive as a number") << QVariant(1) << false << false << true;
    QTest::newRow("no KeepAlive") << QVariant() << false << false << false;
    QTest::newRow("started behind the pane's back") << QVariant(true) << true << false << true;
    QTest::newRow("deleted behind the pane's back") << QVariant() << true << true << false;
}

void LaunchAgentControlTest::fileOnDiskDecidesTitleAndClick()
{
    QFETCH(QVariant, keepAlive);
    QFETCH(bool, afterOpening);
    QFETCH(bool, deleted);
    QFETCH(bool, running);

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
        QCOMPARE(readFile(), state); // opening changes nothing
    }

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(readFile().value(kKeepAlive), QVariant(!running));
    QCOMPARE(button->text(), running ? kStart : kStop);
    QCOMPARE(m_bundle.launcherRuns(), runs(running ? "<false/>" : "<true/>"));
}

void LaunchAgentControlTest::toggleRunsUnloadThenLoadAndLogs()
{
    QAbstractButton* button = loadPane();
    QVERIFY(button);
    for (const bool starting : {true, false}) {
        m_bundle.clearLauncherRuns();
        StandardErrorCapture capture;
        QTest::mouseClick(button, Qt::LeftButton);
        const QByteArray log = capture.text();

        QCOMPARE(m_bundle.launcherRuns(), runs(starting ? "<true/>" : "<false/>"));
        QVERIFY(button->isEnabled());
        QVERIFY2(log.contains(QByteArray("] PropertyList in startStopAgent {\n    KeepAlive = ") +
                              (starting ? "0" : "1") + ";\n"),
                 log);
        QVERIFY2(log.contains("] (\n    \"" + QFile::encodeName(m_bundle.agentPath()) + "\"\n)\n"),
                 log);
        QVERIFY2(log.contains(starting ? "] Start agent\n" : "] Stop agent\n"), log);
    }
    QCOMPARE(readFile(), stopped());
}

void LaunchAgentControlTest::foreignKeysSurviveAndBinaryComesBackAsXml()
{
    QVariantMap state = stopped();
    state.insert(QStringLiteral("RunAtLoad"), true);
    state.insert(QStringLiteral("EnvironmentVariables"), QVariantMap{{"TUIO_SOURCE", "table"}});
    const QByteArray binary = binaryPropertyList(state);
    QVERIFY(binary.startsWith("bplist00"));
    QVERIFY(writeFile(binary));

    QTest::mouseClick(loadPane(), Qt::LeftButton);
    QFile written(file());
    QVERIFY(written.open(QIODevice::ReadOnly) && written.readAll().startsWith("<?xml"));
    state.insert(kKeepAlive, true);
    QCOMPARE(readFile(), state);
}

void LaunchAgentControlTest::unreadableFileIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("no property list") << QByteArray("KeepAlive=true\n");
    QTest::newRow("root is no dictionary") << platform::xmlPropertyListData(QVariantList{1});
    QTest::newRow("truncated binary") << QByteArray("bplist00\xd1\x01\x02", 11);
}

void LaunchAgentControlTest::unreadableFileIsKeptAside()
{
    QFETCH(QByteArray, content);
    QVERIFY(writeFile(content));
    StandardErrorCapture capture;
    QAbstractButton* button = loadPane();
    const QByteArray log = capture.text();
    QVERIFY(button);

    const QStringList aside = QDir(folder()).entryList({"*.plist.unreadable-*"}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QFile kept(folder() + u'/' + aside.first());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
    QVERIFY2(log.contains(aside.first().toUtf8()), log);
    QCOMPARE(readFile(), stopped());
    QCOMPARE(button->text(), kStart);
}

void LaunchAgentControlTest::movedBundleIsPointedAtThisBundlesAgent_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("repointed");
    QTest::newRow("bundle moved away")
        << m_home.filePath("gone/TactalonPrefs.prefPane/Contents/MacOS/Tactalon") << true;
    QTest::newRow("a program that is there stays") << QStringLiteral("/bin/true") << false;
}

void LaunchAgentControlTest::movedBundleIsPointedAtThisBundlesAgent()
{
    QFETCH(QString, program);
    QFETCH(bool, repointed);

    QVariantMap state{{kKeepAlive, true},
                      {QStringLiteral("ProgramArguments"), QVariantList{program, "--verbose"}},
                      {QStringLiteral("ThrottleInterval"), 30}};
    QVERIFY(writeFile(platform::xmlPropertyListData(state)));
    QAbstractButton* button = loadPane();
    QVERIFY(button);
    if (repointed)
        state.insert("ProgramArguments", QVariantList{m_bundle.agentPath(), "--verbose"});
    QCOMPARE(readFile(), state);
    QCOMPARE(button->text(), kStop);
    QVERIFY(m_bundle.launcherRuns().isEmpty());
}

void LaunchAgentControlTest::launcherThatCannotStartLeavesButtonEnabled()
{
    QVERIFY(m_bundle.setLauncherRunnable(false));
    QAbstractButton* button = loadPane();
    QVERIFY(button);
    StandardErrorCapture capture;
    QTest::mouseClick(button, Qt::LeftButton);
    const QByteArray log = capture.text();

    QVERIFY(button->isEnabled());
    QCOMPARE(button->text(), kStop);
    QCOMPARE(readFile().value(kKeepAlive), QVariant(true));
    for (const char* verb : {" unload:", " load:"})
        QVERIFY2(log.contains("Cannot run " + QFile::encodeName(m_bundle.launcherPath()) + verb),
                 log);
}

QTEST_MAIN(LaunchAgentControlTest)
#include "LaunchAgentControlTest.moc"
