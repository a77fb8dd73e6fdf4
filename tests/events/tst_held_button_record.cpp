// The held-button record's file where the agent program's tests do not reach: damaged records
// and a symbolic link in place of one.
#include "platform/HeldButtonRecord.h"
#include "support/Files.h"

#include <QTemporaryDir>
#include <QTest>

using platform::HeldButtonRecord;

namespace {

// Process ids stay below 2^22: no process has this one.
constexpr qint64 endedPid = 99999999;

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
        QTest::newRow("a wheel button") << QByteArray("display=:0\nbuttons=1 4\n");
        QTest::newRow("a line more") << QByteArray("display=:0\nbuttons=1\nbuttons=3\n");
        QTest::newRow("too large") << "display=" + QByteArray(5000, 'x') + "\nbuttons=1\n";
    }

    void damagedRecordReadsAsNoRecord()
    {
        QFETCH(QByteArray, contents);
        QTemporaryDir folder;
        const QString prefix = QLatin1String(HeldButtonRecord::fileNamePrefix);
        QVERIFY(writeFile(folder.filePath(prefix + QString::number(endedPid)), contents));
        QVERIFY(writeFile(folder.filePath(prefix + QStringLiteral("notes")),
                          "display=:0\nbuttons=1\n"));

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
};

QTEST_GUILESS_MAIN(HeldButtonRecordTest)
#include "tst_held_button_record.moc"
