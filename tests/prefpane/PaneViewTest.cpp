// The pane's view as a person uses it, built from the real interface file by the real host:
// controls show the stored settings, edits through them are stored, refused text never is,
// changes from elsewhere are shown, a missing tag costs only its control, web addresses open,
// and the host says clearly what is missing.

#include "NoticeWatcher.h"
#include "PaneTestBundle.h"
#include "StoredSettings.h"
#include "platform/pane/PreferencePane.h"
#include "platform/pane/PreferencePaneHost.h"
#include "platform/pane/ViewWithTag.h"
#include "support/TemporaryHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QUrl>
#include <memory>

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

// What the view should show: the four check boxes, the three fields, the chosen item's tag.
struct Shown
{
    bool hInvert, vInvert, rightClick, scrolling;
    QString port, timeLimit, tolerance;
    int scrollingType;
};

QVariantMap paneWrittenDomain()
{
    return {
        {kHInvertStr, false},
        {kVInvertStr, true},
        {kPortStr, 4000},
        {kRightClickEnabledStr, false},
        {kRightClickTimeIntervalStr, QVariant::fromValue(0.75f)},
        {kRightClickToleranceStr, 15},
        {kScrollingEnabledStr, false},
        {kScrollingTypeStr, 2},
        {kDebugLogging, true},
    };
}
const Shown kPaneWrittenShown{false, true, false, false, "4000", "0.75", "15", 2};
const Shown kDefaultsShown{true, true, true, true, "3333", "0.5", "10", 1};

} // namespace

Q_DECLARE_METATYPE(Shown)

// Stands in for the desktop's web browser.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class PaneViewTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void storedValuesShownAfterLoad_data();
    void storedValuesShownAfterLoad();
    void editsThroughControlsAreStored_data();
    void editsThroughControlsAreStored();
    void refusedTextShowsStoredValueAgain_data();
    void refusedTextShowsStoredValueAgain();
    void changeFromAnotherProcessIsShown();
    void setterCallShowsEveryStoredValue();
    void missingTagCostsOnlyThatControl();
    void webAddressButtonOpensItsTitle();
    void hostSaysWhatIsMissing_data();
    void hostSaysWhatIsMissing();
    void screenshot();

private:
    std::unique_ptr<PreferencePaneHost> loadPane(const PaneTestBundle& bundle);
    template <typename Control> Control* control(const PreferencePaneHost& host, int tag)
    {
        return qobject_cast<Control*>(viewWithTag(host.mainView(), tag));
    }
    QString mismatch(const PreferencePaneHost& host, const Shown& expected);

    TemporaryHome m_home;
    StoredSettings m_stored{m_home};
    PaneTestBundle m_bundle;
    NoticeWatcher m_notices;
};

void PaneViewTest::initTestCase()
{
    QVERIFY(m_bundle.isValid());
    QVERIFY(m_notices.isConnected());
}

std::unique_ptr<PreferencePaneHost> PaneViewTest::loadPane(const PaneTestBundle& bundle)
{
    auto host = std::make_unique<PreferencePaneHost>();
    if (!host->load(bundle.path())) {
        qWarning("%s", qPrintable(host->errorString()));
        return nullptr;
    }
    host->window()->show();
    host->window()->activateWindow();
    if (!QTest::qWaitForWindowActive(host->window()))
        return nullptr;
    return host;
}

QString PaneViewTest::mismatch(const PreferencePaneHost& host, const Shown& expected)
{
    QStringList wrong;
    const auto checkBox = [&](int tag, bool checked) {
        if (control<QAbstractButton>(host, tag)->isChecked() != checked)
            wrong << QStringLiteral("check box %1 is not %2").arg(tag).arg(checked);
    };
    const auto field = [&](int tag, const QString& text) {
        if (control<QLineEdit>(host, tag)->text() != text)
            wrong << QStringLiteral("field %1 shows \"%2\", not \"%3\"")
                         .arg(tag)
                         .arg(control<QLineEdit>(host, tag)->text(), text);
    };
    checkBox(HInvert, expected.hInvert);
    checkBox(VInvert, expected.vInvert);
    checkBox(RightClick, expected.rightClick);
    checkBox(Scrolling, expected.scrolling);
    field(Port, expected.port);
    field(TimeLimit, expected.timeLimit);
    field(Tolerance, expected.tolerance);
    if (control<QComboBox>(host, Type)->currentData().toInt() != expected.scrollingType)
        wrong << QStringLiteral("scrolling type shows \"%1\"")
                     .arg(control<QComboBox>(host, Type)->currentText());
    return wrong.join(QStringLiteral("; "));
}

void PaneViewTest::storedValuesShownAfterLoad_data()
{
    QTest::addColumn<QVariantMap>("domain");
    QTest::addColumn<Shown>("shown");

    QTest::newRow("as the pane writes them") << paneWrittenDomain() << kPaneWrittenShown;
    QVariantMap mergeKinds = StoredSettings::mergedDefaultsWithExtras();
    mergeKinds.insert(kRightClickToleranceStr, QVariant::fromValue(12.0f));
    mergeKinds.insert(kVInvertStr, false);
    QTest::newRow("as the merge writes them")
        << mergeKinds << Shown{true, false, true, true, "3333", "0.5", "12", 1};
}

void PaneViewTest::storedValuesShownAfterLoad()
{
    QFETCH(QVariantMap, domain);
    QFETCH(Shown, shown);

    QVERIFY(m_stored.write(domain));
    const auto host = loadPane(m_bundle);
    QVERIFY(host);
    const QString wrong = mismatch(*host, shown);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QCOMPARE(control<QComboBox>(*host, Type)->currentText(),
             shown.scrollingType == 2 ? "Incremental" : "Anchored");
}

void PaneViewTest::editsThroughControlsAreStored_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("typed"); // empty: click the check box / choose the next item
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("stored");
    QTest::addColumn<QString>("shownText");

    QTest::newRow("hInvert check box") << int(HInvert) << "" << kHInvertStr << "bool" << 0.0 << "";
    QTest::newRow("vInvert check box") << int(VInvert) << "" << kVInvertStr << "bool" << 0.0 << "";
    QTest::newRow("port field") << int(Port) << "4242" << kPortStr << "integer" << 4242.0 << "4242";
    QTest::newRow("right click check box")
        << int(RightClick) << "" << kRightClickEnabledStr << "bool" << 0.0 << "";
    QTest::newRow("time limit field, seconds")
        << int(TimeLimit) << "0.3" << kRightClickTimeIntervalStr << "real" << double(0.3f) << "0.3";
    QTest::newRow("tolerance field, screen units")
        << int(Tolerance) << "25" << kRightClickToleranceStr << "integer" << 25.0 << "25";
    QTest::newRow("scrolling check box")
        << int(Scrolling) << "" << kScrollingEnabledStr << "bool" << 0.0 << "";
    QTest::newRow("scrolling type: the next item")
        << int(Type) << "" << kScrollingTypeStr << "integer" << 2.0 << "Incremental";
}

void PaneViewTest::editsThroughControlsAreStored()
{
    QFETCH(int, tag);
    QFETCH(QString, typed);
    QFETCH(QString, key);
    QFETCH(QString, kind);
    QFETCH(double, stored);
    QFETCH(QString, shownText);

    const QVariantMap before = StoredSettings::mergedDefaultsWithExtras();
    QVERIFY(m_stored.write(before));
    const auto host = loadPane(m_bundle);
    QVERIFY(host);

    QWidget* edited = viewWithTag(host->mainView(), tag);
    QVERIFY(edited);
    edited->setFocus();
    if (auto* field = qobject_cast<QLineEdit*>(edited)) {
        field->selectAll();
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(field->text(), shownText);
    } else if (auto* comboBox = qobject_cast<QComboBox*>(edited)) {
        QTest::keyClick(comboBox, Qt::Key_Down);
        QCOMPARE(comboBox->currentText(), shownText);
    } else {
        // On the box itself, not on the empty end of its row.
        QTest::mouseClick(edited, Qt::LeftButton, {}, QPoint(8, edited->height() / 2));
        QCOMPARE(qobject_cast<QAbstractButton*>(edited)->isChecked(), false);
    }

    const auto after = m_stored.read();
    QVERIFY(after);
    QCOMPARE(StoredSettings::kindOf(after->value(key)), kind);
    QCOMPARE(after->value(key).toDouble(), stored);
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.key() != key)
            QCOMPARE(after->value(it.key()).toString(), it->toString());
    }
}

void PaneViewTest::refusedTextShowsStoredValueAgain_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("typed");   // empty: the field is emptied
    QTest::addColumn<bool>("pressEnter"); // else the edit ends by leaving the field
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("storedText");

    QTest::newRow("emptied port, Enter") << int(Port) << "" << true << kPortStr << "3333";
    QTest::newRow("emptied port, leaving") << int(Port) << "" << false << kPortStr << "3333";
    QTest::newRow("port 0, Enter") << int(Port) << "0" << true << kPortStr << "3333";
    QTest::newRow("port 65536, Enter") << int(Port) << "65536" << true << kPortStr << "3333";
    QTest::newRow("emptied time limit, leaving")
        << int(TimeLimit) << "" << false << kRightClickTimeIntervalStr << "0.5";
    QTest::newRow("minus sign refused in the time limit")
        << int(TimeLimit) << "-" << true << kRightClickTimeIntervalStr << "0.5";
    QTest::newRow("time limit of a lone point, Enter")
        << int(TimeLimit) << "." << true << kRightClickTimeIntervalStr << "0.5";
    QTest::newRow("emptied tolerance, Enter")
        << int(Tolerance) << "" << true << kRightClickToleranceStr << "10";
    QTest::newRow("decimal point refused in the tolerance")
        << int(Tolerance) << "." << true << kRightClickToleranceStr << "10";
}

void PaneViewTest::refusedTextShowsStoredValueAgain()
{
    QFETCH(int, tag);
    QFETCH(QString, typed);
    QFETCH(bool, pressEnter);
    QFETCH(QString, key);
    QFETCH(QString, storedText);

    const QVariantMap before = StoredSettings::mergedDefaultsWithExtras();
    QVERIFY(m_stored.write(before));
    const auto host = loadPane(m_bundle);
    QVERIFY(host);
    QVERIFY(m_notices.settle());
    m_notices.clear();

    auto* field = control<QLineEdit>(*host, tag);
    field->setFocus();
    field->selectAll();
    if (typed.isEmpty())
        QTest::keyClick(field, Qt::Key_Backspace);
    else
        QTest::keyClicks(field, typed);
    if (pressEnter)
        QTest::keyClick(field, Qt::Key_Return);
    else
        control<QWidget>(*host, HInvert)->setFocus();

    QCOMPARE(field->text(), storedText);
    QVERIFY(m_notices.settle());
    QCOMPARE(m_notices.count(kDefaultsDidChangeNotification), 0);
    const auto after = m_stored.read();
    QVERIFY(after);
    QCOMPARE(StoredSettings::kindOf(after->value(key)), StoredSettings::kindOf(before.value(key)));
    QCOMPARE(after->value(key).toString(), before.value(key).toString());
}

void PaneViewTest::changeFromAnotherProcessIsShown()
{
    QVERIFY(m_stored.write(StoredSettings::mergedDefaultsWithExtras()));
    const auto host = loadPane(m_bundle);
    QVERIFY(host);
    QVERIFY(mismatch(*host, kDefaultsShown).isEmpty());

    QVERIFY(m_stored.write(paneWrittenDomain()));
    QVERIFY(NoticeWatcher::post(kDefaultsDidChangeNotification));
    QVERIFY(m_notices.settle());
    const QString wrong = mismatch(*host, kPaneWrittenShown);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void PaneViewTest::setterCallShowsEveryStoredValue()
{
    QVERIFY(m_stored.write(StoredSettings::mergedDefaultsWithExtras()));
    const auto host = loadPane(m_bundle);
    QVERIFY(host);

    // Another process changes the file without a word; the pane's next write takes it in.
    QVERIFY(m_stored.write(paneWrittenDomain()));
    QVERIFY(host->pane()->setProperty("vInvert", true));
    QVERIFY(m_notices.settle());
    const QString wrong = mismatch(*host, kPaneWrittenShown);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void PaneViewTest::missingTagCostsOnlyThatControl()
{
    const PaneTestBundle untagged(
        [](const QString& text) { return withoutTag(withoutTag(text, Port), Type); });
    QVERIFY(untagged.isValid());
    QVERIFY(m_stored.write(paneWrittenDomain()));
    const auto host = loadPane(untagged);
    QVERIFY(host);

    auto* port = host->mainView()->findChild<QLineEdit*>(QStringLiteral("portField"));
    auto* type = host->mainView()->findChild<QComboBox*>(QStringLiteral("scrollingTypeComboBox"));
    QVERIFY(port && type);
    QCOMPARE(port->text(), QString()); // not bound
    QVERIFY(!control<QAbstractButton>(*host, HInvert)->isChecked());
    QCOMPARE(control<QLineEdit>(*host, Tolerance)->text(), "15");

    auto* tolerance = control<QLineEdit>(*host, Tolerance);
    tolerance->setFocus();
    tolerance->selectAll();
    QTest::keyClicks(tolerance, "30");
    QTest::keyClick(tolerance, Qt::Key_Return);
    QCOMPARE(m_stored.read()->value(kRightClickToleranceStr).toInt(), 30);
    QCOMPARE(m_stored.read()->value(kPortStr).toInt(), 4000);
}

void PaneViewTest::webAddressButtonOpensItsTitle()
{
    UrlRecorder browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    const auto unset = qScopeGuard([] { QDesktopServices::unsetUrlHandler("https"); });
    const auto host = loadPane(m_bundle);
    QVERIFY(host);

    QAbstractButton* link = nullptr;
    for (auto* button : host->mainView()->findChildren<QAbstractButton*>()) {
        if (button->property("action").toString() == QLatin1String("openURL:"))
            link = button;
    }
    QVERIFY(link);
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(browser.opened, QList<QUrl>{QUrl(link->text())});
    QCOMPARE(link->text(), "https://www.tuio.org/");

    link->setText(QStringLiteral("no address at all"));
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(browser.opened.size(), 1);
}

void PaneViewTest::hostSaysWhatIsMissing_data()
{
    QTest::addColumn<QString>("remove"); // the part of a bundle copy to take away
    QTest::addColumn<QString>("replaceWithText");
    QTest::addColumn<QString>("message");

    QTest::newRow("no bundle") << ""
                               << ""
                               << "No settings pane bundle";
    QTest::newRow("no plug-in") << "Contents/MacOS/TactalonPrefs.so"
                                << ""
                                << "plug-in is missing";
    QTest::newRow("plug-in that is no library") << "Contents/MacOS/TactalonPrefs.so"
                                                << "not a library"
                                                << "Cannot load the pane's plug-in";
    QTest::newRow("no interface file") << "Contents/Resources/TactalonPrefs.ui"
                                       << ""
                                       << "Cannot read the pane's interface file";
    QTest::newRow("broken interface file") << "Contents/Resources/TactalonPrefs.ui"
                                           << "<ui><widget"
                                           << "Cannot build the pane's view";
}

void PaneViewTest::hostSaysWhatIsMissing()
{
    QFETCH(QString, remove);
    QFETCH(QString, replaceWithText);
    QFETCH(QString, message);

    const PaneTestBundle broken;
    QString bundlePath = broken.path();
    if (remove.isEmpty()) {
        bundlePath = m_home.filePath(QStringLiteral("nowhere/TactalonPrefs.prefPane"));
    } else {
        const QString part = broken.path() + QLatin1Char('/') + remove;
        QVERIFY(QFile::remove(part));
        if (!replaceWithText.isEmpty()) {
            QFile file(part);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(replaceWithText.toUtf8());
        }
    }

    PreferencePaneHost host;
    QVERIFY(!host.load(bundlePath));
    QVERIFY2(host.errorString().contains(message), qPrintable(host.errorString()));

    QProcess program;
    program.start(qEnvironmentVariable("TACTALON_BUILD_DIR") +
                      QStringLiteral("/bin/tactalon-settings"),
                  {bundlePath});
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY(program.exitCode() != 0);
    const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(errors.contains(message), qPrintable(errors));
}

void PaneViewTest::screenshot()
{
    // TACTALON_SCREENSHOT=<file.png> keeps a picture of the window as a person sees it.
    const QString path = qEnvironmentVariable("TACTALON_SCREENSHOT");
    if (path.isEmpty())
        QSKIP("TACTALON_SCREENSHOT is not set");
    QVERIFY(m_stored.write(StoredSettings::mergedDefaultsWithExtras()));
    const auto host = loadPane(m_bundle);
    QVERIFY(host);
    host->window()->setWindowTitle(QStringLiteral("Tactalon"));
    QVERIFY(host->window()->grab().save(path));
}

QTEST_MAIN(PaneViewTest)
#include "PaneViewTest.moc"
