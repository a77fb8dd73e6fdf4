// The held-button record's file where the agent program's tests do not reach: damaged records,
// a symbolic link in place of one, and the runtime folder when $XDG_RUNTIME_DIR is unset or
// unsafe.
#include "platform/HeldButtonRecord.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using platform::HeldButtonRecord;

namespace {

// Process ids stay below 2^22: no process has this one.
constexpr qint64 endedPid = 99999999;

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
}

// Sets an environment variable for the life of the object; a null value unsets it.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char* name, const QByteArray& value)
        : m_name(name), m_saved(qgetenv(name)), m_wasSet(qEnvironmentVariableIsSet(name))
    {
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    ~ScopedEnvironment() { m_wasSet ? qputenv(m_name, m_saved) : qunsetenv(m_name); }

private:
    const char* m_name;
    QByteArray m_saved;
    bool m_wasSet;
};

} // namespace

class HeldButtonRecordTest : public QObject
{
    Q_OBJECT

private slots:
    void damagedRecordReadsAsNoRecord_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("cut short") << QByteArray("display=:0\nbutt");
        QTest::newRow("no button") << QByteArray("display=:0\nbuttons=\n");
        QTest::newRow("a wheel button") << QByteArray("display=:0\nbuttons=1 4\n");
        QTest::newRow("no display") << QByteArray("display=\nbuttons=1\n");
        QTest::newRow("a line more") << QByteArray("display=:0\nbuttons=1\nbuttons=3\n");
        QTest::newRow("too large") << "display=" + QByteArray(5000, 'x') + "\nbuttons=1\n";
    }

    void damagedRecordReadsAsNoRecord()
    {
        QFETCH(QByteArray, contents);
        QTemporaryDir folder;
        const QString prefix = QLatin1String(HeldButtonRecord::fileNamePrefix);
        writeFile(folder.filePath(prefix + QString::number(endedPid)), contents);
        writeFile(folder.filePath(prefix + QStringLiteral("notes")), "display=:0\nbuttons=1\n");

        const auto leftOvers = HeldButtonRecord(folder.path()).leftOvers();
        QCOMPARE(leftOvers.size(), std::size_t(1));
        QCOMPARE(leftOvers[0].pid, endedPid);
        QCOMPARE(leftOvers[0].display, QString());
    }

    void linkInPlaceOfTheRecordIsNotFollowed()
    {
        QTemporaryDir folder;
        HeldButtonRecord record(folder.path());
        const QString target = folder.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QFile::link(target, record.filePath()));
        record.update(QStringLiteral(":0"), {1});
        QVERIFY(!QFile::exists(target));
        // Read neither: to the next agent the link is a damaged record of an ended one.
        const auto leftOvers = record.leftOvers();
        QCOMPARE(leftOvers.size(), std::size_t(1));
        QCOMPARE(leftOvers[0].display, QString());
    }

    void runtimeFolderIsPrivate_data()
    {
        QTest::addColumn<QString>("runtimeDir"); // in the temporary folder; empty: unset
        QTest::newRow("unset") << QString();
        QTest::newRow("open to others") << QStringLiteral("open");
        QTest::newRow("a link to a private folder") << QStringLiteral("link");
    }

    // An unusable $XDG_RUNTIME_DIR gives way to a folder of this user's own, mode 0700, in the
    // temporary folder.
    void runtimeFolderIsPrivate()
    {
        QFETCH(QString, runtimeDir);
        QTemporaryDir temp;
        QDir(temp.path()).mkdir(QStringLiteral("tmp"));
        QDir(temp.path()).mkdir(QStringLiteral("open"));
        QFile::setPermissions(temp.filePath(QStringLiteral("open")),
                              QFileDevice::Permissions(0x7777));
        QDir(temp.path()).mkdir(QStringLiteral("private"));
        QFile::setPermissions(temp.filePath(QStringLiteral("private")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::link(temp.filePath(QStringLiteral("private")),
                    temp.filePath(QStringLiteral("link")));
        const ScopedEnvironment tmpdir("TMPDIR",
                                       temp.filePath(QStringLiteral("tmp")).toLocal8Bit());
        const ScopedEnvironment runtime(
            "XDG_RUNTIME_DIR",
            runtimeDir.isEmpty() ? QByteArray() : temp.filePath(runtimeDir).toLocal8Bit());

        const auto record = HeldButtonRecord::inRuntimeFolder();
        QVERIFY(record);
        const QFileInfo folder(QFileInfo(record->filePath()).path());
        QCOMPARE(folder.dir().path(), temp.filePath(QStringLiteral("tmp")));
        QVERIFY(folder.isDir() && !folder.isSymLink());
        QCOMPARE(folder.ownerId(), ::geteuid());
        QCOMPARE(folder.permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
};

QTEST_GUILESS_MAIN(HeldButtonRecordTest)
#include "tst_held_button_record.moc"
