#include "StderrCapture.h"
#include "TemporaryHome.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "settings/DefaultsMerge.h"
#include "settings/SettingsKeys.h"

#include <QProcess>
#include <QTest>
#include <plist/plist.h>
#include <sys/stat.h>

using platform::UserDefaults;

namespace {

// Each key of the domain file as libplist reads it from disk: "integer 3333", "true", "real 0.5".
QMap<QString, QString> entriesOnDisk(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray xml = file.readAll();
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    QMap<QString, QString> entries;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(root, &it);
    for (;;) {
        char* key = nullptr;
        plist_t node = nullptr;
        plist_dict_next_item(root, it, &key, &node);
        if (!node)
            break;
        QString& entry = entries[QString::fromUtf8(key)];
        free(key);
        uint8_t flag = 0;
        uint64_t integer = 0;
        double real = 0;
        switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN:
            plist_get_bool_val(node, &flag);
            entry = flag ? "true" : "false";
            break;
        case PLIST_UINT:
            plist_get_uint_val(node, &integer);
            entry = QStringLiteral("integer %1").arg(qint64(integer));
            break;
        case PLIST_REAL:
            plist_get_real_val(node, &real);
            entry = QStringLiteral("real %1").arg(real);
            break;
        default:
            entry = QStringLiteral("other");
        }
    }
    free(it);
    plist_free(root);
    return entries;
}

ino_t inodeOf(const QString& path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs this test program as a writer (see main): `rounds` times, read the domain, add the key
// "w<id>-<round>", set "w<id>" to the round, write back and synchronize.
QProcess* startWriter(const QString& directory, int id, int rounds)
{
    auto* process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QCoreApplication::applicationFilePath(),
                   {"--writer", directory, QString::number(id), QString::number(rounds)});
    return process;
}

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

    void mergeOnANewDomainStoresTheNineDefaults()
    {
        UserDefaults defaults(m_home->configPath());
        mergeDefaults(defaults, agentDefaults());
        const QMap<QString, QString> expected{
            {"port", "integer 3333"},
            {"hInvert", "true"},
            {"vInvert", "true"},
            {"rightClickEnabled", "true"},
            {"rightClickTimeInterval", "real 0.5"},
            {"rightClickTolerance", "real 10"},
            {"srollingEnabled", "true"},
            {"scrollingType", "real 1"},
            {"debugLogging", "false"},
        };
        QCOMPARE(entriesOnDisk(domainFile()), expected);
    }

    void paneMergeLeavesDebugLoggingAbsent()
    {
        UserDefaults defaults(m_home->configPath());
        mergeDefaults(defaults, paneDefaults());
        const QMap<QString, QString> onDisk = entriesOnDisk(domainFile());
        QCOMPARE(onDisk.size(), 8);
        QVERIFY(!onDisk.contains(kDebugLogging));
        QCOMPARE(defaults.boolForKey(kDebugLogging), false);
    }

    // Stored values win whatever their kind, and keys of no list survive.
    void mergeKeepsWhatIsStored()
    {
        const QVariantMap stored{
            {kPortStr, 4000},
            {kRightClickToleranceStr, 15},
            {kScrollingTypeStr, 2},
            {"custom", QVariantMap{{"list", QVariantList{1, "x", QByteArray("\1")}}}},
        };
        QVERIFY(platform::writeXmlPropertyListFile(domainFile(), stored));
        UserDefaults defaults(m_home->configPath());
        mergeDefaults(defaults, agentDefaults());

        const QMap<QString, QString> onDisk = entriesOnDisk(domainFile());
        QCOMPARE(onDisk.size(), 10);
        QCOMPARE(onDisk.value(kPortStr), "integer 4000");
        QCOMPARE(onDisk.value(kRightClickToleranceStr), "integer 15");
        QCOMPARE(onDisk.value(kHInvertStr), "true");
        const QVariantMap reread = platform::readPropertyListFile(domainFile()).root.toMap();
        QVERIFY(platform::plistValuesEqual(reread.value("custom"), stored.value("custom")));
        QCOMPARE(defaults.integerForKey(kScrollingTypeStr), 2);
        QCOMPARE(defaults.integerForKey(kRightClickToleranceStr), 15);
        QCOMPARE(defaults.floatForKey(kRightClickTimeIntervalStr), 0.5f);
    }

    void mergeRewritesTheFileWhenNothingIsAdded()
    {
        mergeDefaults(*std::make_unique<UserDefaults>(m_home->configPath()), agentDefaults());
        const QByteArray before = readFile(domainFile());
        const ino_t inodeBefore = inodeOf(domainFile());
        UserDefaults again(m_home->configPath());
        mergeDefaults(again, agentDefaults());
        QVERIFY(inodeOf(domainFile()) != inodeBefore);
        QCOMPARE(readFile(domainFile()), before);
    }

    void unreadableFileIsKeptAsideAndTheDomainRebuilt_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("garbage") << QByteArray("port = 4000\n");
        QTest::newRow("truncated")
            << platform::xmlPropertyListData(QVariantMap{{"port", 4000}}).chopped(30);
        QTest::newRow("root not a dictionary") << platform::xmlPropertyListData(QVariantList{4000});
    }
    void unreadableFileIsKeptAsideAndTheDomainRebuilt()
    {
        QFETCH(QByteArray, content);
        writeFile(domainFile(), content);
        StderrCapture capture;
        UserDefaults defaults(m_home->configPath());
        mergeDefaults(defaults, agentDefaults());
        const QString log = QString::fromUtf8(capture.text());

        const QStringList aside =
            QDir(m_home->configPath()).entryList({"quillonworks.Tactalon.plist.unreadable-*"});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readFile(m_home->configPath() + '/' + aside.first()), content);
        QCOMPARE(log.count(domainFile() + " could not be read"), 1);
        QVERIFY(log.contains(aside.first()));
        QCOMPARE(entriesOnDisk(domainFile()).size(), 9);
    }

    // The folder cannot be made (its parent is a file): false, one line, and memory kept.
    void failedWriteKeepsValuesInMemory()
    {
        writeFile(m_home->filePath("file"), "x");
        UserDefaults defaults(m_home->filePath("file/config"));
        defaults.addSuiteNamed(kDomainName);
        defaults.setPersistentDomain({{kPortStr, 4000}}, kDomainName);
        StderrCapture capture;
        QVERIFY(!defaults.synchronize());
        QCOMPARE(QString::fromUtf8(capture.text()).count("Could not write settings file"), 1);
        QCOMPARE(defaults.integerForKey(kPortStr), 4000);
    }

    // The agent synchronizes from its handler of this notice: a post from synchronize would loop.
    void setPersistentDomainPostsAndSynchronizeDoesNot()
    {
        UserDefaults defaults(m_home->configPath());
        QObject observer;
        QList<const QObject*> senders;
        platform::NotificationCenter::defaultCenter().addObserver(
            &observer, kUserDefaultsDidChangeNotification,
            [&](const platform::Notification& notice) { senders.append(notice.object); });
        defaults.setPersistentDomain({{kPortStr, 1}}, kDomainName);
        QCOMPARE(senders, QList<const QObject*>{&defaults});
        QVERIFY(defaults.synchronize());
        QCOMPARE(senders.size(), 1);
    }

    // Another writer's new, changed and removed keys arrive with synchronize, and this object's
    // own pending change survives the other's write.
    void synchronizeTakesInAnotherWriter()
    {
        UserDefaults reader(m_home->configPath());
        UserDefaults writer(m_home->configPath());
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
    }

    void synchronizeTakesInAnotherProcess()
    {
        UserDefaults defaults(m_home->configPath());
        mergeDefaults(defaults, agentDefaults());
        QVariantMap domain = *defaults.persistentDomainForName(kDomainName);
        domain.insert(kPortStr, 4000);
        defaults.setPersistentDomain(domain, kDomainName);

        std::unique_ptr<QProcess> writer(startWriter(m_home->configPath(), 7, 1));
        QVERIFY(writer->waitForFinished(60000));
        QCOMPARE(writer->exitCode(), 0);
        QVERIFY(defaults.synchronize());
        QCOMPARE(defaults.integerForKey("w7"), 0);
        QVERIFY(defaults.objectForKey("w7-0").isValid());
        QCOMPARE(entriesOnDisk(domainFile()).value(kPortStr), "integer 4000");
        QCOMPARE(entriesOnDisk(domainFile()).size(), 11);
    }

    void processesWritingAtOnceLoseNoKey()
    {
        constexpr int writers = 4;
        constexpr int rounds = 30;
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int id = 0; id < writers; ++id)
            processes.emplace_back(startWriter(m_home->configPath(), id, rounds));
        for (const auto& process : processes) {
            QVERIFY(process->waitForFinished(120000));
            QCOMPARE(process->exitCode(), 0);
        }
        const QVariantMap domain = platform::readPropertyListFile(domainFile()).root.toMap();
        QCOMPARE(domain.size(), writers * (rounds + 1));
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
    if (arguments.size() == 5 && arguments.at(1) == "--writer")
        return runWriter(arguments.at(2), arguments.at(3).toInt(), arguments.at(4).toInt());
    UserDefaultsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_user_defaults.moc"
