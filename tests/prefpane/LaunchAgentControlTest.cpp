// Start and stop of the agent through the launch-agent property list and the bundle's
// launcher tool (here one that records its runs): the file the pane creates, the toggle and
// its two runs, the file on disk deciding each click, and files that are foreign, unreadable
// or point at a bundle that moved.

#include "PaneTestBundle.h"
#include "StandardErrorCapture.h"
#include "platform/PropertyList.h"
#include "platform/pane/PreferencePane.h"
#include "platform/pane/PreferencePaneHost.h"
#include "platform/pane/ViewWithTag.h"
#include "support/TemporaryHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QTest>
#include <memory>
#include <plist/plist.h>

namespace {

constexpr int kStartStopTag = 4;
const QString kStart = QStringLiteral("Start Tactalon");
const QString kStop = QStringLiteral("Stop Tactalon");

} // namespace

class LaunchAgentControlTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void firstLoadCreatesFolderAndStoppedFile();
    void titleFollowsRecordedState_data();
    void titleFollowsRecordedState();
    void clicksToggleAndRunUnloadThenLoad();
    void fileOnDiskDecidesTheNextClick_data();
    void fileOnDiskDecidesTheNextClick();
    void foreignKeysSurviveAndBinaryComesBackAsXml();
    void unreadableFileIsKeptAside_data();
    void unreadableFileIsKeptAside();
    void movedBundleIsPointedAtThisBundlesAgent_data();
    void movedBundleIsPointedAtThisBundlesAgent();
    void launcherThatCannotStartLeavesButtonEnabled();

private:
    std::unique_ptr<PreferencePaneHost> loadPane();
    QAbstractButton* startStopButton(const PreferencePaneHost& host) const
    {
        return qobject_cast<QAbstractButton*>(viewWithTag(host.mainView(), kStartStopTag));
    }
    QString folder() const { return m_home.filePath(QStringLiteral("Library/LaunchAgents")); }
    QString agentFile() const { return folder() + QStringLiteral("/quillonworks.Tactalon.plist"); }
    QVariantMap readAgentFile() const
    {
        return platform::readPropertyListFile(agentFile()).root.toMap();
    }
    bool writeAgentFile(const QByteArray& data) const;
    QVariantMap stoppedFile() const;
    QStringList expectedRuns(const QString& keepAlive) const
    {
        return {QStringLiteral("unload %1 %2").arg(agentFile(), keepAlive),
                QStringLiteral("load %1 %2").arg(agentFile(), keepAlive)};
    }

    TemporaryHome m_home;
    PaneTestBundle m_bundle;
};

void LaunchAgentControlTest::initTestCase()
{
    QVERIFY(m_bundle.isValid());
}

void LaunchAgentControlTest::init()
{
    QDir(m_home.filePath(QStringLiteral("Library"))).removeRecursively();
    m_bundle.clearLauncherRuns();
    QVERIFY(m_bundle.setLauncherRunnable(true));
}

std::unique_ptr<PreferencePaneHost> LaunchAgentControlTest::loadPane()
{
    auto host = std::make_unique<PreferencePaneHost>();
    if (!host->load(m_bundle.path())) {
        qWarning("%s", qPrintable(host->errorString()));
        return nullptr;
    }
    host->window()->show();
    return host;
}

bool LaunchAgentControlTest::writeAgentFile(const QByteArray& data) const
{
    QDir().mkpath(folder());
    QFile file(agentFile());
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QVariantMap LaunchAgentControlTest::stoppedFile() const
{
    return {
        {QStringLiteral("KeepAlive"), false},
        {QStringLiteral("Label"), QStringLiteral("quillonworks.Tactalon")},
        {QStringLiteral("ProgramArguments"), QVariantList{QDir::cleanPath(m_bundle.agentPath())}},
    };
}

void LaunchAgentControlTest::firstLoadCreatesFolderAndStoppedFile()
{
    const auto host = loadPane();
    QVERIFY(host);
    QVERIFY(QFileInfo(folder()).isDir());
    const QVariantMap created = readAgentFile();
    QCOMPARE(created, stoppedFile());
    QCOMPARE(created.value(QStringLiteral("KeepAlive")).typeId(), QMetaType::Bool);
    QCOMPARE(startStopButton(*host)->text(), kStart);
    QVERIFY(m_bundle.launcherRuns().isEmpty());
}

void LaunchAgentControlTest::titleFollowsRecordedState_data()
{
    QTest::addColumn<QVariant>("keepAlive"); // invalid: no such key
    QTest::addColumn<QString>("title");

    QTest::newRow("running") << QVariant(true) << kStop;
    QTest::newRow("stopped") << QVariant(false) << kStart;
    QTest::newRow("no KeepAlive") << QVariant() << kStart;
    QTest::newRow("KeepAlive as a number") << QVariant(1) << kStop;
}

void LaunchAgentControlTest::titleFollowsRecordedState()
{
    QFETCH(QVariant, keepAlive);
    QFETCH(QString, title);

    QVariantMap file = stoppedFile();
    if (keepAlive.isValid())
        file.insert(QStringLiteral("KeepAlive"), keepAlive);
    else
        file.remove(QStringLiteral("KeepAlive"));
    QVERIFY(writeAgentFile(platform::xmlPropertyListData(file)));

    const auto host = loadPane();
    QVERIFY(host);
    QCOMPARE(startStopButton(*host)->text(), title);
    QCOMPARE(readAgentFile(), file); // opening the pane changes nothing
}

void LaunchAgentControlTest::clicksToggleAndRunUnloadThenLoad()
{
    const auto host = loadPane();
    QVERIFY(host);
    QAbstractButton* button = startStopButton(*host);

    QByteArray log;
    {
        StandardErrorCapture capture;
        QTest::mouseClick(button, Qt::LeftButton);
        log = capture.text();
    }
    QCOMPARE(m_bundle.launcherRuns(), expectedRuns(QStringLiteral("<true/>")));
    QCOMPARE(readAgentFile().value(QStringLiteral("KeepAlive")), QVariant(true));
    QCOMPARE(button->text(), kStop);
    QVERIFY(button->isEnabled());
    QVERIFY2(log.contains("] PropertyList in startStopAgent {\n    KeepAlive = 0;\n"), log);
    QVERIFY2(log.contains("] (\n    \"" + QFile::encodeName(QDir::cleanPath(m_bundle.agentPath())) +
                          "\"\n)\n"),
             log);
    QVERIFY2(log.contains("] Start agent\n"), log);

    m_bundle.clearLauncherRuns();
    {
        StandardErrorCapture capture;
        QTest::mouseClick(button, Qt::LeftButton);
        log = capture.text();
    }
    QCOMPARE(m_bundle.launcherRuns(), expectedRuns(QStringLiteral("<false/>")));
    QCOMPARE(readAgentFile(), stoppedFile());
    QCOMPARE(button->text(), kStart);
    QVERIFY(button->isEnabled());
    QVERIFY2(log.contains("] Stop agent\n"), log);
}

void LaunchAgentControlTest::fileOnDiskDecidesTheNextClick_data()
{
    QTest::addColumn<QVariant>("keepAlive"); // invalid: the key is taken out
    QTest::addColumn<bool>("deleteFile");
    QTest::addColumn<bool>("running");

    QTest::newRow("started by someone else") << QVariant(true) << false << false;
    QTest::newRow("KeepAlive taken out") << QVariant() << false << true;
    QTest::newRow("file deleted") << QVariant() << true << true;
}

void LaunchAgentControlTest::fileOnDiskDecidesTheNextClick()
{
    QFETCH(QVariant, keepAlive);
    QFETCH(bool, deleteFile);
    QFETCH(bool, running);

    const auto host = loadPane();
    QVERIFY(host);
    QAbstractButton* button = startStopButton(*host);
    QCOMPARE(button->text(), kStart);

    QVariantMap behindItsBack = stoppedFile();
    if (keepAlive.isValid())
        behindItsBack.insert(QStringLiteral("KeepAlive"), keepAlive);
    else
        behindItsBack.remove(QStringLiteral("KeepAlive"));
    QVERIFY(deleteFile ? QFile::remove(agentFile())
                       : writeAgentFile(platform::xmlPropertyListData(behindItsBack)));

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(readAgentFile().value(QStringLiteral("KeepAlive")), QVariant(running));
    QCOMPARE(button->text(), running ? kStop : kStart);
    QCOMPARE(m_bundle.launcherRuns(), expectedRuns(running ? "<true/>" : "<false/>"));
}

void LaunchAgentControlTest::foreignKeysSurviveAndBinaryComesBackAsXml()
{
    QVariantMap file = stoppedFile();
    file.insert(QStringLiteral("RunAtLoad"), true);
    file.insert(QStringLiteral("EnvironmentVariables"),
                QVariantMap{{QStringLiteral("TUIO_SOURCE"), QStringLiteral("table")}});
    file.insert(QStringLiteral("Nice"), 5);

    const QByteArray xml = platform::xmlPropertyListData(file);
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    QVERIFY(root);
    char* binary = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &binary, &length);
    plist_free(root);
    QVERIFY(binary);
    const QByteArray binaryData(binary, int(length));
    plist_to_bin_free(binary);
    QVERIFY(binaryData.startsWith("bplist00"));
    QVERIFY(writeAgentFile(binaryData));

    const auto host = loadPane();
    QVERIFY(host);
    QTest::mouseClick(startStopButton(*host), Qt::LeftButton);

    QFile written(agentFile());
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.readAll().startsWith("<?xml"));
    file.insert(QStringLiteral("KeepAlive"), true);
    QCOMPARE(readAgentFile(), file);
}

void LaunchAgentControlTest::unreadableFileIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("no property list") << QByteArray("KeepAlive=true\n");
    QTest::newRow("root is no dictionary")
        << platform::xmlPropertyListData(QVariantList{QStringLiteral("Tactalon")});
    QTest::newRow("truncated binary") << QByteArray("bplist00\xd1\x01\x02", 11);
}

void LaunchAgentControlTest::unreadableFileIsKeptAside()
{
    QFETCH(QByteArray, content);

    QVERIFY(writeAgentFile(content));
    QByteArray log;
    std::unique_ptr<PreferencePaneHost> host;
    {
        StandardErrorCapture capture;
        host = loadPane();
        log = capture.text();
    }
    QVERIFY(host);

    const QStringList aside = QDir(folder()).entryList(
        {QStringLiteral("quillonworks.Tactalon.plist.unreadable-*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QFile kept(folder() + QLatin1Char('/') + aside.first());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
    QVERIFY2(log.contains(aside.first().toUtf8()), log);

    QCOMPARE(readAgentFile(), stoppedFile());
    QCOMPARE(startStopButton(*host)->text(), kStart);
}

void LaunchAgentControlTest::movedBundleIsPointedAtThisBundlesAgent_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("repointed");

    QTest::newRow("bundle moved away")
        << m_home.filePath(QStringLiteral("gone/TactalonPrefs.prefPane/Contents/MacOS/Tactalon"))
        << true;
    QTest::newRow("a program that is there stays") << QStringLiteral("/bin/true") << false;
}

void LaunchAgentControlTest::movedBundleIsPointedAtThisBundlesAgent()
{
    QFETCH(QString, program);
    QFETCH(bool, repointed);

    QVariantMap file = stoppedFile();
    file.insert(QStringLiteral("KeepAlive"), true);
    file.insert(QStringLiteral("ProgramArguments"), QVariantList{program});
    file.insert(QStringLiteral("ThrottleInterval"), 30);
    QVERIFY(writeAgentFile(platform::xmlPropertyListData(file)));

    const auto host = loadPane();
    QVERIFY(host);
    if (repointed)
        file.insert(QStringLiteral("ProgramArguments"),
                    QVariantList{QDir::cleanPath(m_bundle.agentPath())});
    QCOMPARE(readAgentFile(), file);
    QCOMPARE(startStopButton(*host)->text(), kStop);
    QVERIFY(m_bundle.launcherRuns().isEmpty());
}

void LaunchAgentControlTest::launcherThatCannotStartLeavesButtonEnabled()
{
    QVERIFY(m_bundle.setLauncherRunnable(false));
    const auto host = loadPane();
    QVERIFY(host);
    QAbstractButton* button = startStopButton(*host);

    QByteArray log;
    {
        StandardErrorCapture capture;
        QTest::mouseClick(button, Qt::LeftButton);
        log = capture.text();
    }
    QVERIFY(button->isEnabled());
    QCOMPARE(button->text(), kStop);
    QCOMPARE(readAgentFile().value(QStringLiteral("KeepAlive")), QVariant(true));
    QVERIFY2(log.contains("Cannot run " + QFile::encodeName(m_bundle.launcherPath()) + " unload"),
             log);
    QVERIFY2(log.contains("Cannot run " + QFile::encodeName(m_bundle.launcherPath()) + " load"),
             log);
}

QTEST_MAIN(LaunchAgentControlTest)
#include "LaunchAgentControlTest.moc"
