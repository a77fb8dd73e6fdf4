// The pane's eight settings properties against the real settings file and the real session
// bus: the kind each setter stores, the reads of either kind, one notice per setter call,
// keys of others surviving, and a pane that is gone hearing nothing.

#include "NoticeWatcher.h"
#include "PaneTestBundle.h"
#include "StoredSettings.h"
#include "platform/pane/PreferencePane.h"
#include "platform/pane/PreferencePaneHost.h"
#include "support/TemporaryHome.h"

#include <QApplication>
#include <QTest>
#include <memory>

class PaneSettingsModelTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void settersStoreTheirKindAndKeepOtherKeys_data();
    void settersStoreTheirKindAndKeepOtherKeys();
    void everySetterCallNotifiesOnceEvenWithoutChange();
    void gettersReadEitherKind_data();
    void gettersReadEitherKind();
    void setterOnMissingDomainCreatesItWithOneKey();
    void paneThatIsGoneHearsNothing();

private:
    QObject* pane() const { return m_host->pane(); }
    // Another process replaces the settings file and says so on the bus; returns once the
    // pane has taken it in.
    bool storeFromOutside(const std::optional<QVariantMap>& domain);

    TemporaryHome m_home; // first: before anything reads the settings
    StoredSettings m_stored{m_home};
    PaneTestBundle m_bundle;
    NoticeWatcher m_notices;
    std::unique_ptr<PreferencePaneHost> m_host;
};

void PaneSettingsModelTest::initTestCase()
{
    QVERIFY(m_bundle.isValid());
    QVERIFY(m_notices.isConnected());
    m_host = std::make_unique<PreferencePaneHost>();
    QVERIFY2(m_host->load(m_bundle.path()), qPrintable(m_host->errorString()));
}

void PaneSettingsModelTest::cleanupTestCase()
{
    m_host.reset();
}

bool PaneSettingsModelTest::storeFromOutside(const std::optional<QVariantMap>& domain)
{
    return m_stored.write(domain) && NoticeWatcher::post(kDefaultsDidChangeNotification) &&
           m_notices.settle();
}

void PaneSettingsModelTest::settersStoreTheirKindAndKeepOtherKeys_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("stored");

    QTest::newRow("hInvert") << QByteArray("hInvert") << QVariant(false) << kHInvertStr << "bool"
                             << 0.0;
    QTest::newRow("vInvert") << QByteArray("vInvert") << QVariant(false) << kVInvertStr << "bool"
                             << 0.0;
    QTest::newRow("port") << QByteArray("port") << QVariant(qint64(4000)) << kPortStr << "integer"
                          << 4000.0;
    QTest::newRow("port beyond 32 bits keeps its low 32 bits")
        << QByteArray("port") << QVariant(qint64(0x100000000LL + 4000)) << kPortStr << "integer"
        << 4000.0;
    QTest::newRow("rightClickEnabled") << QByteArray("rightClickEnabled") << QVariant(false)
                                       << kRightClickEnabledStr << "bool" << 0.0;
    QTest::newRow("rightClickTimeInterval, seconds")
        << QByteArray("rightClickTimeInterval") << QVariant(0.25f) << kRightClickTimeIntervalStr
        << "real" << 0.25;
    QTest::newRow("rightClickTolerance turns from real into integer")
        << QByteArray("rightClickTolerance") << QVariant(15) << kRightClickToleranceStr << "integer"
        << 15.0;
    QTest::newRow("scrollingEnabled is stored without the c")
        << QByteArray("scrollingEnabled") << QVariant(false) << kScrollingEnabledStr << "bool"
        << 0.0;
    QTest::newRow("scrollingType turns from real into integer")
        << QByteArray("scrollingType") << QVariant(2) << kScrollingTypeStr << "integer" << 2.0;
}

void PaneSettingsModelTest::settersStoreTheirKindAndKeepOtherKeys()
{
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    QFETCH(QString, key);
    QFETCH(QString, kind);
    QFETCH(double, stored);

    const QVariantMap before = StoredSettings::mergedDefaultsWithExtras();
    QVERIFY(storeFromOutside(before));
    m_notices.clear();

    QVERIFY(pane()->setProperty(property.constData(), value));
    QVERIFY(m_notices.settle());
    QCOMPARE(m_notices.count(kDefaultsDidChangeNotification), 1);

    const auto after = m_stored.read();
    QVERIFY(after);
    QCOMPARE(StoredSettings::kindOf(after->value(key)), kind);
    QCOMPARE(after->value(key).toDouble(), stored);
    QCOMPARE(pane()->property(property.constData()).toDouble(), stored);
    QVERIFY(!after->contains(QStringLiteral("scrollingEnabled")));
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.key() == key)
            continue;
        QCOMPARE(StoredSettings::kindOf(after->value(it.key())), StoredSettings::kindOf(*it));
        QCOMPARE(after->value(it.key()).toString(), it->toString());
    }
}

void PaneSettingsModelTest::everySetterCallNotifiesOnceEvenWithoutChange()
{
    QVERIFY(storeFromOutside(StoredSettings::mergedDefaultsWithExtras()));
    m_notices.clear();
    for (int call = 0; call < 3; ++call)
        QVERIFY(pane()->setProperty("vInvert", true));
    QVERIFY(m_notices.settle());
    QCOMPARE(m_notices.count(kDefaultsDidChangeNotification), 3);
    QCOMPARE(m_notices.count(kPortDidChangeNotification), 0);
}

void PaneSettingsModelTest::gettersReadEitherKind_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("storedValue"); // invalid: the key is absent
    QTest::addColumn<double>("expected");

    QTest::newRow("tolerance as the merge's real")
        << QByteArray("rightClickTolerance") << kRightClickToleranceStr
        << QVariant::fromValue(10.0f) << 10.0;
    QTest::newRow("tolerance real truncated toward zero")
        << QByteArray("rightClickTolerance") << kRightClickToleranceStr << QVariant(10.9) << 10.0;
    QTest::newRow("tolerance as the pane's integer")
        << QByteArray("rightClickTolerance") << kRightClickToleranceStr << QVariant(15) << 15.0;
    QTest::newRow("scrollingType as real")
        << QByteArray("scrollingType") << kScrollingTypeStr << QVariant::fromValue(1.0f) << 1.0;
    QTest::newRow("scrollingType as integer")
        << QByteArray("scrollingType") << kScrollingTypeStr << QVariant(2) << 2.0;
    QTest::newRow("time interval from an integer")
        << QByteArray("rightClickTimeInterval") << kRightClickTimeIntervalStr << QVariant(1) << 1.0;
    QTest::newRow("boolean from a non-zero integer")
        << QByteArray("hInvert") << kHInvertStr << QVariant(2) << 1.0;
    QTest::newRow("absent port") << QByteArray("port") << kPortStr << QVariant() << 0.0;
    QTest::newRow("absent tolerance")
        << QByteArray("rightClickTolerance") << kRightClickToleranceStr << QVariant() << 0.0;
    QTest::newRow("absent time interval")
        << QByteArray("rightClickTimeInterval") << kRightClickTimeIntervalStr << QVariant() << 0.0;
    QTest::newRow("absent boolean")
        << QByteArray("scrollingEnabled") << kScrollingEnabledStr << QVariant() << 0.0;
}

void PaneSettingsModelTest::gettersReadEitherKind()
{
    QFETCH(QByteArray, property);
    QFETCH(QString, key);
    QFETCH(QVariant, storedValue);
    QFETCH(double, expected);

    QVariantMap domain = StoredSettings::mergedDefaultsWithExtras();
    if (storedValue.isValid())
        domain.insert(key, storedValue);
    else
        domain.remove(key);
    QVERIFY(storeFromOutside(domain));
    QCOMPARE(pane()->property(property.constData()).toDouble(), expected);
}

void PaneSettingsModelTest::setterOnMissingDomainCreatesItWithOneKey()
{
    QVERIFY(storeFromOutside(std::nullopt));
    QCOMPARE(pane()->property("port").toLongLong(), 0);

    QVERIFY(pane()->setProperty("rightClickTolerance", 12));
    const auto stored = m_stored.read();
    QVERIFY(stored);
    QCOMPARE(stored->keys(), QStringList{kRightClickToleranceStr});
    QCOMPARE(StoredSettings::kindOf(stored->value(kRightClickToleranceStr)), "integer");
}

void PaneSettingsModelTest::paneThatIsGoneHearsNothing()
{
    // A pane registers for both local and distributed notices; once it is gone, neither may
    // reach it (the sanitizer build turns a leftover registration into a failure).
    {
        PreferencePaneHost other;
        QVERIFY2(other.load(m_bundle.path()), qPrintable(other.errorString()));
    }
    QVERIFY(pane()->setProperty("hInvert", false)); // a local notice in the pane's process
    QVERIFY(NoticeWatcher::post(kDefaultsDidChangeNotification));
    QVERIFY(m_notices.settle());
    QCOMPARE(pane()->property("hInvert").toBool(), false);
}

QTEST_MAIN(PaneSettingsModelTest)
#include "PaneSettingsModelTest.moc"
