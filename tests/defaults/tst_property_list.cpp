#include "platform/PropertyList.h"
#include "support/UnreadableFile.h"

#include <QDateTime>
#include <QPoint>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <limits>
#include <optional>
#include <plist/plist.h>

using namespace platform;

namespace {

QByteArray binaryPlist(plist_t root)
{
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    QByteArray data(bytes, length);
    plist_to_bin_free(bytes);
    plist_free(root);
    return data;
}

// Objects 0..n-1, each an array holding object i+1 twice (the last one empty), with one-byte
// offsets and references: 3 bytes per object on disk, 2^n values once expanded.
QByteArray expandingBinaryPlist(char levels)
{
    QByteArray objects, offsets;
    for (char i = 0; i < levels; ++i) {
        offsets += char(8 + objects.size());
        objects += i + 1 < levels ? QByteArray("\xA2") + char(i + 1) + char(i + 1) : "\xA0";
    }
    QByteArray trailer(32, '\0');
    trailer[6] = trailer[7] = 1; // offset and reference sizes
    trailer[15] = levels;
    trailer[31] = char(8 + objects.size());
    return "bplist00" + objects + offsets + trailer;
}

QByteArray xmlDictionary(const QByteArray& value)
{
    return "<plist><dict><key>keep</key><true/><key>k</key>" + value + "</dict></plist>";
}

} // namespace

class PropertyListTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What a hand-edited file holds survives a rewrite; a bool must not come back as 1 nor a
    // whole float as an integer.
    void everyKindSurvivesARewrite()
    {
        const QVariantMap root{
            {"yes", true},
            {"no", false},
            {"int", QVariant::fromValue<qint32>(15)},
            {"negative64", QVariant::fromValue(std::numeric_limits<qint64>::min())},
            {"float", QVariant::fromValue(0.5f)},
            {"wholeFloat", QVariant::fromValue(10.0f)},
            {"string", QStringLiteral("<&> \"quoted\" ümlaut ✓")},
            {"data", QByteArray("\0\1\2binary\xff", 10)},
            {"date", QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15), Qt::UTC)},
            {"array", QVariantList{1, "two", 3.5, false, QVariantList{}, QVariantMap{}}},
            {"dict", QVariantMap{{"deeper", QVariantMap{{"list", QVariantList{-7, true}}}}}},
            {"empty", QString()},
            {"strings", QStringList{"a", "b"}}};
        QTemporaryDir dir;
        const QString path = dir.filePath("all.plist");
        QString error;
        QVERIFY2(writeXmlPropertyListFile(path, root, &error), qPrintable(error));
        const PropertyListFile read = readPropertyListFile(path);
        QCOMPARE(read.status, PropertyListStatus::Ok);
        QVERIFY(plistValuesEqual(read.root, root));
        const QByteArray xml = xmlPropertyListData(read.root);
        QCOMPARE(xml, xmlPropertyListData(root));
        for (const char* entry : {"yes</key>\\s*<true/>", "no</key>\\s*<false/>",
                                  "int</key>\\s*<integer>", "negative64</key>\\s*<integer>",
                                  "float</key>\\s*<real>", "wholeFloat</key>\\s*<real>"})
            QVERIFY2(QString::fromUtf8(xml).contains(QRegularExpression("<key>" + QString(entry))),
                     entry);
    }

    void binaryPlistsAreRead()
    {
        plist_t root = plist_new_dict();
        plist_dict_set_item(root, "port", plist_new_uint(4000));
        plist_dict_set_item(root, "vInvert", plist_new_bool(0));
        plist_dict_set_item(root, "interval", plist_new_real(0.25));
        plist_dict_set_item(root, "negative", plist_new_uint(uint64_t(-3)));
        const QVariantMap expected{
            {"port", 4000}, {"vInvert", false}, {"interval", 0.25}, {"negative", -3}};
        QVERIFY(plistValuesEqual(parsePropertyList(binaryPlist(root)), expected));
    }

    // Damaged or hostile content, and what is no regular file: a FIFO without a writer must not
    // hold the reader, nor a device feed it.
    void damagedOrHostileFilesAreUnreadable_data()
    {
        QTest::addColumn<QByteArray>("data"); // "FIFO", "DEVICE", "FOLDER": no regular file
        QTest::addColumn<QString>("error");   // a part of the error; empty: any
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("truncated xml")
            << xmlPropertyListData(QVariantMap{{"a", 1}}).chopped(20) << "";
        plist_t dict = plist_new_dict();
        plist_dict_set_item(dict, "a", plist_new_string("text"));
        QTest::newRow("truncated binary") << binaryPlist(dict).chopped(5) << "";
        QTest::newRow("binary header only") << QByteArray("bplist00") << "";
        // Deep enough to overflow libplist's recursive free and encoder.
        QTest::newRow("xml nested 300000 deep")
            << "<plist>" + QByteArray("<array>").repeated(300'000) +
                   QByteArray("</array>").repeated(300'000) + "</plist>"
            << "";
        plist_t deep = plist_new_array();
        for (int i = 0; i < 1000; ++i) {
            plist_t outer = plist_new_array();
            plist_array_append_item(outer, deep);
            deep = outer;
        }
        QTest::newRow("binary nested 1000 deep") << binaryPlist(deep) << "";
        QTest::newRow("binary expanding to 2^60 values") << expandingBinaryPlist(60) << "";
        QTest::newRow("over the size limit")
            << "<plist><string>" + QByteArray(300 * 1024, 'x') + "</string></plist>"
            << "";
        // libplist 2.2 asserts on the first, and cuts the second short into another key.
        QTest::newRow("binary key holding U+0000") << binaryKeyHoldingNul() << "";
        QTest::newRow("binary key holding a NUL byte")
            << binaryDictionary(QByteArray("\x53p\x00o", 4), "\x09") << "";
        QTest::newRow("FIFO") << QByteArray("FIFO") << "a FIFO";
        QTest::newRow("device") << QByteArray("DEVICE") << "a device";
        QTest::newRow("folder") << QByteArray("FOLDER") << "a folder";
    }
    void damagedOrHostileFilesAreUnreadable()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.plist");
        std::optional<FifoAtPath> fifo;
        if (data == "DEVICE")
            QVERIFY(QFile::link("/dev/zero", path));
        else if (data == "FOLDER")
            QVERIFY(QDir().mkdir(path));
        else
            QVERIFY(placeFile(path, data, fifo));
        const PropertyListFile read = readPropertyListFile(path);
        QVERIFY(!fifo || !fifo->blocked());
        QCOMPARE(read.status, PropertyListStatus::Unreadable);
        QVERIFY(!read.root.isValid());
        QVERIFY2(!read.error.isEmpty() && read.error.contains(error), qPrintable(read.error));
        QCOMPARE(readPropertyListFile(dir.filePath("absent.plist")).status,
                 PropertyListStatus::Missing);
    }

    // What libplist 2.2 would hand out changed, or could not write back, is left out of the
    // value read and named; the rest is read as it is.
    void valuesWithoutExactFormAreLeftOutWhenRead_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("reason");
        const QByteArray key("\x51k");
        QTest::newRow("binary date before 1932")
            << binaryDictionary(key, binaryDate(-3e9)) << "a date outside";
        QTest::newRow("binary date NaN")
            << binaryDictionary(key, binaryDate(std::nan(""))) << "a date outside";
        QTest::newRow("binary date with a fraction")
            << binaryDictionary(key, binaryDate(1.5)) << "fractions of a second";
        QTest::newRow("binary string with a NUL byte") << binaryDictionary(key, QByteArray("\x55"
                                                                                           "ab\x00"
                                                                                           "cd",
                                                                                           6))
                                                       << "NUL";
        QTest::newRow("binary UTF-16 with a lone surrogate")
            << binaryDictionary(key, QByteArray("\x62\xD8\x00\x00\x62", 5)) << "UTF-16";
        QTest::newRow("binary UTF-16 holding U+0000")
            << binaryDictionary(key, QByteArray("\x62\x00\x61\x00\x00", 5)) << "U+0000";
        QTest::newRow("binary integer beyond 64 bits")
            << binaryDictionary(key, "\x14" + QByteArray(7, '\0') + '\x01' + QByteArray(8, '\x05'))
            << "beyond 64 bits";
        QTest::newRow("binary set") << binaryDictionary(key, "\xC1\x02") << "a set";
        QTest::newRow("binary UID beyond 64 bits")
            << binaryDictionary(key, "\x88\x01" + QByteArray(7, '\0') + '\x07') << "a UID beyond";
        QTest::newRow("xml date before 1932")
            << xmlDictionary("<date>1900-01-01T00:00:00Z</date>") << "a date outside";
        QTest::newRow("xml integer above the signed range")
            << xmlDictionary("<integer>18446744073709551615</integer>") << "above";
        QTest::newRow("xml string not UTF-8")
            << xmlDictionary("<string>\xff</string>") << "not valid UTF-8";
    }
    void valuesWithoutExactFormAreLeftOutWhenRead()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, reason);
        QStringList leftOut;
        QString error;
        const QVariant root = parsePropertyList(data, &error, &leftOut);
        QVERIFY2(root.isValid(), qPrintable(error));
        QCOMPARE(root, QVariant(QVariantMap{{"keep", true}}));
        QCOMPARE(leftOut.size(), 1);
        QVERIFY2(leftOut.first().startsWith("\"k\" (") && leftOut.first().contains(reason),
                 qPrintable(leftOut.first()));
    }

    // Only with a list to name them in are values without an exact written form left out.
    void valuesWithoutExactFormAreLeftOutWhenWritten_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("reason");
        QTest::newRow("date before 1932")
            << QVariant(QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC)) << "a date outside";
        QTest::newRow("date with milliseconds")
            << QVariant(QDateTime(QDate(2024, 1, 1), QTime(0, 0, 0, 5), Qt::UTC))
            << "fractions of a second";
        QTest::newRow("string holding U+0000")
            << QVariant(QString::fromUtf8("a\0b", 3)) << "U+0000";
        QTest::newRow("unsigned above the signed range")
            << QVariant::fromValue(std::numeric_limits<quint64>::max()) << "above";
        QTest::newRow("no property-list form") << QVariant(QPoint(1, 2)) << "QPoint";
    }
    void valuesWithoutExactFormAreLeftOutWhenWritten()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, reason);
        const QVariantMap root{{"keep", true}, {"k", value}};
        QVERIFY(xmlPropertyListData(root).isEmpty());
        QStringList leftOut;
        const QByteArray xml = xmlPropertyListData(root, &leftOut);
        QCOMPARE(leftOut.size(), 1);
        QVERIFY2(leftOut.first().contains(reason), qPrintable(leftOut.first()));
        QCOMPARE(parsePropertyList(xml), QVariant(QVariantMap{{"keep", true}}));
    }

    void numberConversions_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("asBool");
        QTest::addColumn<qint64>("asInteger");
        QTest::addColumn<qint32>("asInt");
        QTest::addColumn<float>("asFloat");
        constexpr qint64 max64 = std::numeric_limits<qint64>::max();
        constexpr qint32 max32 = std::numeric_limits<qint32>::max();
        QTest::newRow("real -10.9 toward zero")
            << QVariant(-10.9) << true << -10LL << -10 << -10.9f;
        QTest::newRow("NaN") << QVariant(std::nan("")) << false << 0LL << 0 << std::nanf("");
        QTest::newRow("huge real saturates") << QVariant(1e30) << true << max64 << max32 << 1e30f;
        QTest::newRow("5e9 in 32 bits") << QVariant::fromValue<qint64>(5'000'000'000) << true
                                        << 5'000'000'000LL << max32 << 5e9f;
        QTest::newRow("largest unsigned")
            << QVariant::fromValue(std::numeric_limits<quint64>::max()) << true << max64 << max32
            << 1.8446744e19f;
        QTest::newRow("\"YES\"") << QVariant("YES") << true << 0LL << 0 << 0.0f;
        QTest::newRow("\"true\"") << QVariant("true") << true << 0LL << 0 << 0.0f;
        QTest::newRow("\" -12.75px\"") << QVariant(" -12.75px") << true << -12LL << -12 << -12.75f;
    }
    void numberConversions()
    {
        QFETCH(QVariant, value);
        QTEST(plistBoolValue(value), "asBool");
        QTEST(plistIntegerValue(value), "asInteger");
        QTEST(plistIntValue(value), "asInt");
        QTEST(plistFloatValue(value), "asFloat"); // NaN compares equal to NaN here
    }
};

QTEST_GUILESS_MAIN(PropertyListTest)
#include "tst_property_list.moc"
