// The pane's settings, loaded from a bundle copy through the real host, on the real settings
// file and session bus: the kind each setter stores, one notice per write, keys of others
// surviving; controls that show stored values of either kind and follow changes,
// edits through them, refused text; a missing tag, the web address button, and what the host
// says when a part of the bundle is missing.

#include "NoticeWatcher.h"
#include "PaneTestBundle.h"
#include "platform/PropertyList.h"
#include "platform/pane/PreferencePane.h"
#include "platform/pane/PreferencePaneHost.h"
#include "platform/pane/ViewWithTag.h"
#include "settings/SettingsKeys.h"
#include "support/TemporaryHome.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <memory>
#include <optional>

namespace {

enum Tag {
    HInvert = 1,
    VInvert,
    Port,
    StartStop,
    RightClick,
    TimeLimit,
    Tolerance,
    Scrolling,
    Type
};

// As the pane's merge leaves a new domain, plus keys that only others use.
const QVariantMap kMerged{
    {kPortStr, 3333},
    {kHInvertStr, true},
    {kVInvertStr, true},
    {kRightClickEnabledStr, true},
    {kRightClickTimeIntervalStr, QVariant::fromValue(0.5f)},
    {kRightClickToleranceStr, QVariant::fromValue(10.0f)},
    {kScrollingEnabledStr, true},
    {kScrollingTypeStr, QVariant::fromValue(1.0f)},
    {kDebugLogging, true},
    {QStringLiteral("someoneElsesKey"), QStringLiteral("kept")},
};
// What the controls show for it: check boxes 1 2 5 8, fields 3 6 7, the scrolling type's tag.
const QString kMergedShown = QStringLiteral("1 1 1 1 3333 0.5 10 1");

// As the pane's setters write them.
const QVariantMap kEdited{
    {kPortStr, 4000},
    {kHInvertStr, false},
    {kVInvertStr, true},
    {kRightClickEnabledStr, false},
    {kRightClickTimeIntervalStr, QVariant::fromValue(0.75f)},
    {kRightClickToleranceStr, 15},
    {kScrollingEnabledStr, false},
    {kScrollingTypeStr, 2},
};
const QString kEditedShown = QStringLiteral("0 1 0 0 4000 0.75 15 2");

QString kindOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return QStringLiteral("bool");
    case QMetaType::Float:
    case QMetaType::Double:
        return QStringLiteral("real");
    default:
        return value.canConvert<qint64>() ? QStringLiteral("integer") : value.typeName();
    }
}

} // namespace

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class PaneSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void settersStoreTheirKindAndKeepOtherKeys_data();
    void settersStoreTheirKindAndKeepOtherKeys();
    void setterOnMissingDomainCreatesItWithOneKey();
    void controlsShowStoredValuesAndFollowOtherProcesses();
    void editsThroughControlsAreStored_data();
    void editsThroughControlsAreStored();
    void refusedTextShowsStoredValueAgain_data();
    void refusedTextShowsStoredValueAgain();
    void missingTagCostsOnlyThatControl();
    void webAddressButtonOpensItsTitle();
    void hostSaysWhatIsMissing_data();
    void hostSaysWhatIsMissing();
    void screenshot();

private:
    std::unique_ptr<PreferencePaneHost> loadPane(const PaneTestBundle& bundle);
    QString domainPath() const { return m_home.configPath() + "/" + kDomainName + ".plist"; }
    bool store(const std::optional<QVariantMap>& domain) const
    {
        return domain ? platform::writeXmlPropertyListFile(domainPath(), *domain)
                      : QFile::remove(domainPath());
    }
    // Another process writes the settings and says so; returns once the pane has heard it.
    bool storeAndNotify(const std::optional<QVariantMap>& domain)
    {
        return store(domain) && NoticeWatcher::post(kDefaultsDidChangeNotification) &&
               m_notices.settle();
    }
    QVariantMap stored() const { return platform::readPropertyListFile(domainPath()).root.toMap(); }
    static QString shown(const PreferencePaneHost& host);

    TemporaryHome m_home; // first: before anything reads the settings
    PaneTestBundle m_bundle;
    NoticeWatcher m_notices;
    std::unique_ptr<PreferencePaneHost> m_host;
};

void PaneSettingsTest::initTestCase()
{
    QVERIFY(m_bundle.isValid());
    QVERIFY(m_notices.isConnected());
    QVERIFY(store(kMerged));
    m_host = loadPane(m_bundle);
    QVERIFY(m_host);
}

void PaneSettingsTest::init()
{
    // Focus moves only inside the active window.
    m_host->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_host->window()));
}

std::unique_ptr<PreferencePaneHost> PaneSettingsTest::loadPane(const PaneTestBundle& bundle)
{
    auto host = std::make_unique<PreferencePaneHost>();
    if (!host->load(bundle.path())) {
        qWarning("%s", qPrintable(host->errorString()));
        return nullptr;
    }
    host->window()->show();
    host->window()->activateWindow();
    return QTest::qWaitForWindowActive(host->window()) ? std::move(host) : nullptr;
}

QString PaneSettingsTest::shown(const PreferencePaneHost& host)
{
    QStringList values;
    for (int tag : {HInvert, VInvert, RightClick, Scrolling})
        values << QString::number(
            qobject_cast<QAbstractButton*>(viewWithTag(host.mainView(), tag))->isChecked());
    for (int tag : {Port, TimeLimit, Tolerance})
        values << qobject_cast<QLineEdit*>(viewWithTag(host.mainView(), tag))->text();
    values
        << qobject_cast<QComboBox*>(viewWithTag(host.mainView(), Type))->currentData().toString();
    return values.join(u' ');
}

void PaneSettingsTest::settersStoreTheirKindAndKeepOtherKeys_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("expected");

    QTest::newRow("hInvert") << QByteArray("hInvert") << QVariant(false) << kHInvertStr << "bool"
                             << 0.0;
    QTest::newRow("port beyond 32 bits keeps its low 32 bits")
        << QByteArray("port") << QVariant(qint64(0x100000000LL + 4000)) << kPortStr << "integer"
        << 4000.0;
    QTest::newRow("time interval, seconds")
        << QByteArray("rightClickTimeInterval") << QVariant(0.25f) << kRightClickTimeIntervalStr
        << "real" << 0.25;
    QTest::newRow("tolerance turns from real into integer")
        << QByteArray("rightClickTolerance") << QVariant(15) << kRightClickToleranceStr << "integer"
        << 15.0;
    QTest::newRow("scrollingEnabled under the key without c")
        << QByteArray("scrollingEnabled") << QVariant(false) << kScrollingEnabledStr << "bool"
        << 0.0;
    QTest::newRow("scrollingType turns from real into integer")
        << QByteArray("scrollingType") << QVariant(2) << kScrollingTypeStr << "integer" << 2.0;
}

void PaneSettingsTest::settersStoreTheirKindAndKeepOtherKeys()
{
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    QFETCH(QString, key);
    QFETCH(QString, kind);
    QFETCH(double, expected);

    QVERIFY(storeAndNotify(kMerged));
    m_notices.clear();
    QVERIFY(m_host->pane()->setProperty(property, value));
    QVERIFY(m_host->pane()->setProperty(property, value)); // unchanged: written and told again
    QVERIFY(m_notices.settle());
    QCOMPARE(m_notices.count(kDefaultsDidChangeNotification), 2);

    const QVariantMap after = stored();
    QCOMPARE(kindOf(after.value(key)), kind);
    QCOMPARE(after.value(key).toDouble(), expected);
    QCOMPARE(m_host->pane()->property(property).toDouble(), expected);
    QCOMPARE(after.size(), kMerged.size()); // no "scrollingEnabled" key either
    for (auto it = kMerged.cbegin(); it != kMerged.cend(); ++it) {
        if (it.key() != key)
            QCOMPARE(kindOf(after.value(it.key())) + after.value(it.key()).toString(),
                     kindOf(*it) + it->toString());
    }
}

void PaneSettingsTest::setterOnMissingDomainCreatesItWithOneKey()
{
    QVERIFY(storeAndNotify(std::nullopt));
    QVERIFY(m_host->pane()->setProperty("rightClickTolerance", 12));
    QCOMPARE(stored(), (QVariantMap{{kRightClickToleranceStr, 12}}));
}

void PaneSettingsTest::controlsShowStoredValuesAndFollowOtherProcesses()
{
    QVERIFY(store(kEdited));
    const auto host = loadPane(m_bundle);
    QVERIFY(host);
    QCOMPARE(shown(*host), kEditedShown);
    QCOMPARE(qobject_cast<QComboBox*>(viewWithTag(host->mainView(), Type))->currentText(),
             "Incremental");

    QVERIFY(storeAndNotify(kMerged));
    QCOMPARE(shown(*host), kMergedShown);

    // Written behind the pane's back: its own next write takes it in and shows it all.
    QVERIFY(store(kEdited));
    QVERIFY(host->pane()->setProperty("vInvert", true));
    QVERIFY(m_notices.settle());
    QCOMPARE(shown(*host), kEditedShown);
}

void PaneSettingsTest::editsThroughControlsAreStored_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("typed"); // empty: click the box or take the next item
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("check box") << int(VInvert) << "" << kVInvertStr << QVariant(false);
    QTest::newRow("port") << int(Port) << "4242" << kPortStr << QVariant(4242);
    QTest::newRow("time limit") << int(TimeLimit) << "0.3" << kRightClickTimeIntervalStr
                                << QVariant(0.3f);
    QTest::newRow("tolerance") << int(Tolerance) << "25" << kRightClickToleranceStr << QVariant(25);
    QTest::newRow("scrolling type") << int(Type) << "" << kScrollingTypeStr << QVariant(2);
}

void PaneSettingsTest::editsThroughControlsAreStored()
{
    QFETCH(int, tag);
    QFETCH(QString, typed);
    QFETCH(QString, key);
    QFETCH(QVariant, expected);

    QVERIFY(storeAndNotify(kMerged));
    QWidget* control = viewWithTag(m_host->mainView(), tag);
    control->setFocus();
    if (auto* field = qobject_cast<QLineEdit*>(control)) {
        field->selectAll();
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(field->text(), typed);
    } else if (qobject_cast<QComboBox*>(control)) {
        QTest::keyClick(control, Qt::Key_Down);
    } else {
        QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(8, control->height() / 2));
    }
    const QVariantMap after = stored();
    QCOMPARE(kindOf(after.value(key)), kindOf(expected));
    QCOMPARE(after.value(key).toString(), expected.toString());
    QCOMPARE(after.size(), kMerged.size());
}

void PaneSettingsTest::refusedTextShowsStoredValueAgain_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("typed");   // empty: the field is emptied
    QTest::addColumn<bool>("pressEnter"); // else the edit ends by leaving the field
    QTest::addColumn<QString>("storedText");

    QTest::newRow("emptied port, Enter") << int(Port) << "" << true << "3333";
    QTest::newRow("port 0, leaving") << int(Port) << "0" << false << "3333";
    QTest::newRow("lone point as time limit, leaving") << int(TimeLimit) << "." << false << "0.5";
    QTest::newRow("emptied tolerance, leaving") << int(Tolerance) << "" << false << "10";
}

void PaneSettingsTest::refusedTextShowsStoredValueAgain()
{
    QFETCH(int, tag);
    QFETCH(QString, typed);
    QFETCH(bool, pressEnter);
    QFETCH(QString, storedText);

    QVERIFY(storeAndNotify(kMerged));
    m_notices.clear();
    auto* field = qobject_cast<QLineEdit*>(viewWithTag(m_host->mainView(), tag));
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, typed.isEmpty() ? QStringLiteral("\b") : typed);
    if (pressEnter)
        QTest::keyClick(field, Qt::Key_Return);
    else
        viewWithTag(m_host->mainView(), HInvert)->setFocus();

    QCOMPARE(field->text(), storedText);
    QVERIFY(m_notices.settle());
    QCOMPARE(m_notices.count(kDefaultsDidChangeNotification), 0);
    QCOMPARE(stored(), kMerged);
}

void PaneSettingsTest::missingTagCostsOnlyThatControl()
{
    const PaneTestBundle untagged(
        [](const QString& ui) { return PaneTestBundle::withoutTag(ui, Port); });
    QVERIFY(untagged.isValid());
    QVERIFY(store(kEdited));
    const auto host = loadPane(untagged);
    QVERIFY(host);
    QCOMPARE(host->mainView()->findChild<QLineEdit*>("portField")->text(), QString());
    QVERIFY(!qobject_cast<QAbstractButton*>(viewWithTag(host->mainView(), HInvert))->isChecked());
    auto* tolerance = qobject_cast<QLineEdit*>(viewWithTag(host->mainView(), Tolerance));
    QCOMPARE(tolerance->text(), "15");
    tolerance->setFocus();
    tolerance->selectAll();
    QTest::keyClicks(tolerance, "30\r");
    QCOMPARE(stored().value(kRightClickToleranceStr), QVariant(30));
}

void PaneSettingsTest::webAddressButtonOpensItsTitle()
{
    UrlRecorder browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    const auto unset = qScopeGuard([] { QDesktopServices::unsetUrlHandler("https"); });
    auto* link = m_host->mainView()->findChild<QAbstractButton*>("tuioLinkButton");
    QCOMPARE(link->property("action").toString(), "openURL:");

    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(browser.opened, QList<QUrl>{QUrl(QStringLiteral("https://www.tuio.org/"))});
    link->setText(QStringLiteral("no address at all"));
    QTest::mouseClick(link, Qt::LeftButton);
    link->setText(QStringLiteral("https://www.tuio.org/"));
    QCOMPARE(browser.opened.size(), 1);
}

void PaneSettingsTest::hostSaysWhatIsMissing_data()
{
    QTest::addColumn<QString>("part");           // of a bundle copy; empty: no bundle at all
    QTest::addColumn<QByteArray>("replacement"); // empty: the part is removed
    QTest::addColumn<QString>("message");

    QTest::newRow("no bundle") << "" << QByteArray() << "No settings pane bundle";
    QTest::newRow("plug-in that is no library")
        << "Contents/MacOS/TactalonPrefs.so" << QByteArray("text")
        << "Cannot load the pane's plug-in";
    QTest::newRow("no interface file") << "Contents/Resources/TactalonPrefs.ui" << QByteArray()
                                       << "Cannot read the pane's interface file";
}

void PaneSettingsTest::hostSaysWhatIsMissing()
{
    QFETCH(QString, part);
    QFETCH(QByteArray, replacement);
    QFETCH(QString, message);

    const PaneTestBundle broken;
    const QString bundle =
        part.isEmpty() ? m_home.filePath("none/TactalonPrefs.prefPane") : broken.path();
    if (!part.isEmpty()) {
        QFile file(broken.path() + u'/' + part);
        QVERIFY(file.remove());
        QVERIFY(replacement.isEmpty() ||
                (file.open(QIODevice::WriteOnly) && file.write(replacement)));
    }
    PreferencePaneHost host;
    QVERIFY(!host.load(bundle));
    QVERIFY2(host.errorString().contains(message), qPrintable(host.errorString()));

    QProcess program;
    program.start(qEnvironmentVariable("TACTALON_BUILD_DIR") + "/bin/tactalon-settings", {bundle});
    QVERIFY(program.waitForFinished(60000));
    QVERIFY(program.exitCode() != 0);
    QVERIFY(QString::fromLocal8Bit(program.readAllStandardError()).contains(message));
}

void PaneSettingsTest::screenshot()
{
    // TACTALON_SCREENSHOT=<file.png> keeps a picture of the window as a person sees it.
    const QString path = qEnvironmentVariable("TACTALON_SCREENSHOT");
    if (path.isEmpty())
        QSKIP("TACTALON_SCREENSHOT is not set");
    QVERIFY(storeAndNotify(kMerged));
    QVERIFY(m_host->window()->grab().save(path));
}

QTEST_MAIN(PaneSettingsTest)
#include "PaneSettingsTest.moc"
