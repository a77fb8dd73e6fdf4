#include "BinaryPropertyListBytes.h"
#include "StandardError.h"
#include "TemporaryHome.h"
#include "UnreadableFile.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "settings/AgentSettings.h"
#include "settings/DefaultsMerge.h"
#include "settings/SettingsKeys.h"

#include <QProcess>
#include <QTest>
#include <array>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>

using platform::UserDefaults;

namespace {

// Each key of the domain file with the kind it reads back as: "qlonglong 3333", "bool true".
QMap<QString, QString> entriesOnDisk(const QString& path)
{
    const QVariantMap domain = platform::readPropertyListFile(path).root.toMap();
    QMap<QString, QString> entries;
    for (auto it = domain.cbegin(); it != domain.cend(); ++it)
        entries[it.key()] = QString(it->typeName()) + ' ' + it->toString();
    return entries;
}

// What the agent's merge stores on a new domain, as entriesOnDisk shows it.
QMap<QString, QString> storedDefaults()
{
    return {{"port", "qlonglong 3333"},
            {"hInvert", "bool true"},
            {"vInvert", "bool true"},
            {"rightClickEnabled", "bool true"},
            {"rightClickTimeInterval", "double 0.5"},
            {"rightClickTolerance", "double 10"},
            {"srollingEnabled", "bool true"},
            {"scrollingType", "double 1"},
            {"debugLogging", "bool false"}};
}

ino_t inodeOf(const QString& path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

mode_t modeOf(const QString& path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode : 0;
}

// A writer child (see main): `rounds` times, read the domain, add the key "w<id>-<round>", set
// "w<id>" to the round, write back and synchronize.
int runWriter(const QString& directory, int id, int rounds)
{
    UserDefaults defaults(directory);
    for (int round = 0; round < rounds; ++round) {
        QVariantMap domain = defaults.persistentDomainForName(kDomainName).value_or(QVariantMap{});
        domain.insert(QStringLiteral("w%1-%2").arg(id).arg(round), round);
        domain.insert(QStringLiteral("w%1").arg(id), round);
        defaults.setPersistentDomain(domain, kDomainName);
        if (!defaults.synchronize())
            return 1;
    }
    return 0;
}

} // namespace

class UserDefaultsTest : public QObject
{
    Q_OBJECT

    QString domainFile() const { return m_home->configPath() + "/quillonworks.Tactalon.plist"; }
    std::unique_ptr<TemporaryHome> m_home;

private Q_SLOTS:
    void init() { m_home = std::make_unique<TemporaryHome>(); }

    // The agent's merge stores nine keys, the pane's the same but "debugLogging". Merging again
    // adds nothing but still writes the file anew.
    void mergeOnANewDomainStoresTheDefaults_data()
    {
        QTest::addColumn<bool>("agent");
        QTest::newRow("agent") << true;
        QTest::newRow("pane") << false;
    }
    void mergeOnANewDomainStoresTheDefaults()
    {
        QFETCH(bool, agent);
        const auto defaultValues = agent ? agentDefaults() : paneDefaults();
        UserDefaults defaults(m_home->configPath());
        mergeDefaults(defaults, defaultValues);
        QMap<QString, QString> expected = storedDefaults();
        if (!agent)
            expected.remove("debugLogging");
        QCOMPARE(entriesOnDisk(domainFile()), expected);
        QCOMPARE(defaults.boolForKey(kDebugLogging), false);

        const QByteArray before = fileContents(domainFile());
        const ino_t inodeBefore = inodeOf(domainFile());
        UserDefaults again(m_home->configPath());
        mergeDefaults(again, defaultValues);
        QVERIFY(inodeOf(domainFile()) != inodeBefore);
        QCOMPARE(fileContents(domainFile()), before);
    }

    // Stored values win whatever their kind, and keys of no list survive.
    void mergeKeepsWhatIsStored()
    {
        const QVariantMap stored{
            {kPortStr, 4000},
            {kRightClickToleranceStr, 15},
            {kScrollingTypeStr, 2},
            {"custom", QVariantMap{{"list", QVariantList{1, "x", QByteArray("\1")}}}}};
        QVERIFY(platform::writeXmlPropertyListFile(domainFile(), stored));
        UserDefaults defaults(m_home->configPath());
        mergeDefaults(defaults, agentDefaults());

        QMap<QString, QString> expected = storedDefaults();
        expected.insert(kPortStr, "qlonglong 4000");
        expected.insert(kRightClickToleranceStr, "qlonglong 15");
        expected.insert(kScrollingTypeStr, "qlonglong 2");
        expected.insert("custom", "QVariantMap ");
        QCOMPARE(entriesOnDisk(domainFile()), expected);
        const QVariantMap reread = platform::readPropertyListFile(domainFile()).root.toMap();
        QVERIFY(platform::plistValuesEqual(reread.value("custom"), stored.value("custom")));
        QCOMPARE(defaults.integerForKey(kScrollingTypeStr), 2);
        QCOMPARE(defaults.integerForKey(kRightClickToleranceStr), 15);
        QCOMPARE(defaults.floatForKey(kRightClickTimeIntervalStr), 0.5f);
    }

    // What the agent runs on, from stored values of other kinds than the merge writes.
    void agentSettingsReadValuesOfAnyKind()
    {
        UserDefaults defaults(m_home->configPath());
        defaults.addSuiteNamed(kDomainName);
        defaults.setPersistentDomain({{kPortStr, 1e12},
                                      {kHInvertStr, "YES"},
                                      {kRightClickTimeIntervalStr, 1},
                                      {kRightClickToleranceStr, 10.9},
                                      {kScrollingTypeStr, 2.0f}},
                                     kDomainName);
        const AgentSettings settings = AgentSettings::fromDefaults(defaults);
        QCOMPARE(settings.port, std::numeric_limits<qint32>::max()); // saturated, not wrapped
        QCOMPARE(settings.hInvert, true);
        QCOMPARE(settings.vInvert, false); // missing
        QCOMPARE(settings.rightClickTimeInterval, 1.0);
        QCOMPARE(settings.rightClickTolerance, 10.0f); // cut to a whole number
        QCOMPARE(settings.scrollingType, IncrementalScrolling);
        QCOMPARE(settings.scrollingEnabled, true); // only a stored false turns it off

        defaults.setPersistentDomain({{kScrollingEnabledStr, 0}}, kDomainName);
        QCOMPARE(AgentSettings::fromDefaults(defaults).scrollingEnabled, false);
    }

    void unreadableFileIsKeptAsideAndTheDomainRebuilt_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("garbage") << QByteArray("port = 4000\n");
        QTest::newRow("root not a dictionary") << platform::xmlPropertyListData(QVariantList{4000});
        addUnreadableFileRows();
    }
    void unreadableFileIsKeptAsideAndTheDomainRebuilt()
    {
        QFETCH(QByteArray, content);
        std::optional<FifoAtPath> fifo;
        QVERIFY(placeFile(domainFile(), content, fifo));
        const QString log = standardErrorOf([&] {
            UserDefaults defaults(m_home->configPath());
            mergeDefaults(defaults, agentDefaults());
        });
        QVERIFY(!fifo || !fifo->blocked());

        const QStringList aside = QDir(m_home->configPath())
                                      .entryList({"quillonworks.Tactalon.plist.unreadable-*"},
                                                 QDir::AllEntries | QDir::System);
        QCOMPARE(aside.size(), 1);
        const QString asidePath = m_home->configPath() + '/' + aside.first();
        if (fifo)
            QVERIFY(S_ISFIFO(modeOf(asidePath)));
        else
            QCOMPARE(fileContents(asidePath), content);
        QCOMPARE(log.count(domainFile() + " could not be read"), 1);
        QVERIFY(log.contains(aside.first()));
        QCOMPARE(entriesOnDisk(domainFile()), storedDefaults());
    }

    // Another program holds the lock while it rewrites the file in place: what it half wrote
    // is left where it is, and the settings in memory stay.
    void unreadableFileStaysWithoutTheLock()
    {
        QVERIFY(platform::writeXmlPropertyListFile(domainFile(), QVariantMap{{kPortStr, 4000}}));
        UserDefaults defaults(m_home->configPath());
        defaults.addSuiteNamed(kDomainName);
        QCOMPARE(defaults.integerForKey(kPortStr), 4000);
        QFile lock(m_home->configPath() + "/.quillonworks.Tactalon.plist.lock");
        QVERIFY(lock.open(QIODevice::ReadWrite) && ::flock(lock.handle(), LOCK_EX) == 0);
        const QByteArray torn = "<plist><dict><key>po";
        QVERIFY(writeFile(domainFile(), torn));

        const QByteArray log = standardErrorOf([&] { QVERIFY(defaults.synchronize()); });
        QCOMPARE(defaults.integerForKey(kPortStr), 4000);
        QCOMPARE(fileContents(domainFile()), torn);
        QCOMPARE(QDir(m_home->configPath()).entryList({"*.unreadable-*"}), QStringList());
        QCOMPARE(log.count("could not be read"), 1);
    }

    // Values libplist cannot write back exactly never stop the nine keys from being stored,
    // and are not changed silently: one line names them, and a copy keeps the file as it was.
    void valueWithoutExactFormIsKeptInACopy_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("values");
        // Came back as 1932-12-13 and without what follows U+0000.
        QTest::newRow("date before 1932, string holding U+0000")
            << binaryObjects({"\xD2\x01\x02\x03\x04", "\x54when", "\x54note", binaryDate(-3e9),
                              QByteArray("\x63\x00"
                                         "a\x00\x00\x00"
                                         "b",
                                         7)})
            << 2;
        // Made every later write fail.
        QTest::newRow("date NaN") << binaryDictionary("\x54when", binaryDate(std::nan(""))) << 1;
    }
    void valueWithoutExactFormIsKeptInACopy()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, values);
        QVERIFY(writeFile(domainFile(), content));
        const QString log = standardErrorOf([&] {
            for (int start = 0; start < 2; ++start) {
                UserDefaults defaults(m_home->configPath());
                mergeDefaults(defaults, agentDefaults());
            }
        });

        QMap<QString, QString> expected = storedDefaults();
        if (content.contains("keep"))
            expected.insert("keep", "bool true");
        QCOMPARE(entriesOnDisk(domainFile()), expected);
        const QStringList copies =
            QDir(m_home->configPath()).entryList({"quillonworks.Tactalon.plist.original-*"});
        QCOMPARE(copies.size(), 1);
        QCOMPARE(fileContents(m_home->configPath() + '/' + copies.first()), content);
        const QStringList lines = log.split('\n').filter("cannot be written back exactly");
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().contains(copies.first()));
        QCOMPARE(lines.first().count("(a "), values);
    }

    // The folder cannot be made (its parent is a file): false, one line, and memory kept.
    void failedWriteKeepsValuesInMemory()
    {
        QVERIFY(writeFile(m_home->filePath("file"), "x"));
        UserDefaults defaults(m_home->filePath("file/config"));
        defaults.addSuiteNamed(kDomainName);
        defaults.setPersistentDomain({{kPortStr, 4000}}, kDomainName);
        const QByteArray log = standardErrorOf([&] { QVERIFY(!defaults.synchronize()); });
        QCOMPARE(log.count("Could not write settings file"), 1);
        QCOMPARE(defaults.integerForKey(kPortStr), 4000);
    }

    // Another writer's new, changed and removed keys arrive with synchronize, and this object's
    // own pending change survives. Only setPersistentDomain posts the change notice: the agent
    // synchronizes from its handler, so a post from synchronize would loop.
    void synchronizeTakesInAnotherWriter()
    {
        UserDefaults reader(m_home->configPath());
        UserDefaults writer(m_home->configPath());
        QObject observer;
        QList<const QObject*> senders;
        platform::NotificationCenter::defaultCenter().addObserver(
            &observer, platform::kUserDefaultsDidChangeNotification,
            [&](const platform::Notification& notice) { senders.append(notice.object); });
        reader.addSuiteNamed(kDomainName);
        writer.setPersistentDomain({{"a", 1}, {"gone", true}}, kDomainName);
        QVERIFY(writer.synchronize());
        QCOMPARE(reader.integerForKey("a"), 1);

        reader.setPersistentDomain({{"a", 1}, {"gone", true}, {"mine", 3}}, kDomainName);
        writer.setPersistentDomain({{"a", 2}, {"b", 5}}, kDomainName);
        QVERIFY(writer.synchronize());
        QCOMPARE(reader.integerForKey("b"), 0); // not before synchronize
        QVERIFY(reader.synchronize());
        QCOMPARE(reader.persistentDomainForName(kDomainName),
                 (QVariantMap{{"a", 2}, {"b", 5}, {"mine", 3}}));
        QCOMPARE(senders, (QList<const QObject*>{&writer, &reader, &writer}));
    }

    // Writers in other processes, each adding its own keys many times, while this process holds
    // a change of its own: every key ends up on disk, and in memory here after synchronize.
    void processesWritingAtOnceLoseNoKey()
    {
        constexpr int writers = 4;
        constexpr int rounds = 30;
        UserDefaults defaults(m_home->configPath());
        defaults.setPersistentDomain({{kPortStr, 4000}}, kDomainName);
        std::array<QProcess, writers> processes;
        for (int id = 0; id < writers; ++id) {
            processes[id].setProcessChannelMode(QProcess::ForwardedErrorChannel);
            processes[id].start(
                QCoreApplication::applicationFilePath(),
                {"--writer", m_home->configPath(), QString::number(id), QString::number(rounds)});
        }
        for (QProcess& process : processes) {
            QVERIFY(process.waitForFinished(120000));
            QCOMPARE(process.exitCode(), 0);
        }
        QVERIFY(defaults.synchronize());
        const QVariantMap domain = platform::readPropertyListFile(domainFile()).root.toMap();
        QCOMPARE(defaults.persistentDomainForName(kDomainName).value_or(QVariantMap{}), domain);
        QCOMPARE(domain.size(), writers * (rounds + 1) + 1);
        QCOMPARE(domain.value(kPortStr), 4000);
        for (int id = 0; id < writers; ++id) {
            QCOMPARE(domain.value(QStringLiteral("w%1").arg(id)).toInt(), rounds - 1);
            for (int round = 0; round < rounds; ++round)
                QVERIFY(domain.contains(QStringLiteral("w%1-%2").arg(id).arg(round)));
        }
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.value(1) == "--writer")
        return runWriter(arguments.value(2), arguments.value(3).toInt(),
                         arguments.value(4).toInt());
    UserDefaultsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_user_defaults.moc"
