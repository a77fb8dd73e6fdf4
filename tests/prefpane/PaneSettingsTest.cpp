// The pane's settings, loaded from a bundle copy through the real host, on the real settings
// file and session bus.

#include "PaneTestBundle.h"
#include "platform/PropertyList.h"
#include "platform/pane/PreferencePane.h"
#include "platform/pane/PreferencePaneHost.h"
#include "platform/pane/ViewWithTag.h"
#include "settings/SettingsKeys.h"
#include "support/TemporaryHome.h"
#include "support/UnreadableFile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <memory>
#include <optional>

namespace {

enum Tag {
    HInvert = 1,
    VInvert,
    Port,
    RightClick = 5,
    TimeLimit,
    Tolerance,
    Scrolling,
    Type,
    DebugLogging,
    ListenMode,
    ListenAddress,
    Output,
    RestoreDefaults,
};

// As the pane's merge leaves a new domain, plus keys that only others use.
const QVariantMap kMerged{{kPortStr, 3333},
                          {kHInvertStr, true},
                          {kVInvertStr, true},
                          {kRightClickEnabledStr, true},
                          {kRightClickTimeIntervalStr, QVariant::fromValue(0.5f)},
                          {kRightClickToleranceStr, QVariant::fromValue(10.0f)},
                          {kScrollingEnabledStr, true},
                          {kScrollingTypeStr, QVariant::fromValue(1.0f)},
                          {kDebugLogging, true},
                          {"someoneElsesKey", "kept"}};
// What the controls show for it (see shown()).
const QString kMergedShown = "1 1 1 1 3333 0.5 10 1";

// As the pane's setters write them.
const QVariantMap kEdited{{kPortStr, 4000},
                          {kHInvertStr, false},
                          {kVInvertStr, true},
                          {kRightClickEnabledStr, false},
                          {kRightClickTimeIntervalStr, QVariant::fromValue(0.75f)},
                          {kRightClickToleranceStr, 15},
                          {kScrollingEnabledStr, false},
                          {kScrollingTypeStr, 2}};
const QString kEditedShown = "0 1 0 0 4000 0.75 15 2";

} // namespace

// Watches the distributed notices on the session bus, as another process of the user would.
class NoticeWatcher : public QObject
{
    Q_OBJECT
public:
    NoticeWatcher()
    {
        m_connected = QDBusConnection::sessionBus().connect({}, kPath, kInterface, "Posted", this,
                                                            SLOT(onPosted(QString)));
    }

    static bool post(const QString& name)
    {
        return QDBusConnection::sessionBus().send(
            QDBusMessage::createSignal(kPath, kInterface, "Posted") << name);
    }

    bool isConnected() const { return m_connected; }
    int count(const QString& name) const { return int(m_names.count(name)); }
    void clear() { m_names.clear(); }

    // Posts a marker and waits for it. The bus keeps one sender's messages in order, so all
    // this process posted before has reached every observer in it by then.
    bool settle()
    {
        const QString marker = QStringLiteral("TactalonTestMarker%1").arg(++m_markers);
        return post(marker) && QTest::qWaitFor([&] { return m_names.contains(marker); }, 10000);
    }

private slots:
    void onPosted(const QString& name) { m_names.append(name); }

private:
    static constexpr const char* kPath = "/quillonworks/DistributedNotification";
    static constexpr const char* kInterface = "quillonworks.DistributedNotification";
    bool m_connected = false;
    int m_markers = 0;
    QStringList m_names;
};

class PaneSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_bundle.isValid());
        QVERIFY(m_notices.isConnected());
        QVERIFY(store(kMerged));
        m_host = loadPane(m_bundle);
        QVERIFY(m_host);
        QCOMPARE(shown(*m_host), kMergedShown);
    }

    void init()
    {
        // Focus moves only inside the active window.
        m_host->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_host->window()));
    }

    void setterOnMissingDomainCreatesItWithOneKeyAndTellsEachCall()
    {
        QVERIFY(storeAndNotify(std::nullopt));
        m_notices.clear();
        const QVariant port(qint64(0x100000000LL + 4000)); // only the low 32 bits are kept
        QVERIFY(m_host->pane()->setProperty("port", port));
        QVERIFY(m_host->pane()->setProperty("port", port)); // unchanged: written and told again
        QVERIFY(m_notices.settle());
        QCOMPARE(m_notices.count(kDefaultsDidChangeNotification), 2);
        QVERIFY(storedIs({{kPortStr, 4000}}));
        QCOMPARE(m_host->pane()->property("port"), QVariant(qint64(4000)));
    }

    void controlsFollowOtherProcessesAndMissingTagCostsOnlyThatControl()
    {
        // A second pane whose port field lost its tag: that field stays empty, the others work.
        const PaneTestBundle untagged([](QString ui) {
            return ui.remove(QRegularExpression(
                "<property name=\"tag\" stdset=\"0\">\\s*<number>3</number>\\s*</property>"));
        });
        QVERIFY(untagged.isValid());
        QVERIFY(store(kEdited));
        const auto other = loadPane(untagged);
        QVERIFY(other);
        QCOMPARE(shown(*other), "0 1 0 0 - 0.75 15 2");
        QCOMPARE(other->mainView()->findChild<QLineEdit*>("portField")->text(), QString());

        QVERIFY(storeAndNotify(kMerged));
        QCOMPARE(shown(*m_host), kMergedShown);
        QCOMPARE(shown(*other), "1 1 1 1 - 0.5 10 1");

        // Written behind the panes' back: a pane's own next write takes it in and shows it all.
        QVERIFY(store(kEdited));
        QVERIFY(m_host->pane()->setProperty("vInvert", true));
        QVERIFY(m_notices.settle());
        QCOMPARE(shown(*m_host), kEditedShown);
        QCOMPARE(shown(*other), "0 1 0 0 - 0.75 15 2");
    }

    void editThroughControlStoresItsKindOnce_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<QString>("typed"); // empty: click the box or take the next item
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("onDisk"); // kind and value

        QTest::newRow("check box") << int(HInvert) << "" << kHInvertStr << QVariant(false);
        QTest::newRow("port") << int(Port) << "4242" << kPortStr << QVariant(4242);
        QTest::newRow("time limit, seconds")
            << int(TimeLimit) << "0.3" << kRightClickTimeIntervalStr << QVariant(0.3f);
        QTest::newRow("tolerance turns from real into integer")
            << int(Tolerance) << "25" << kRightClickToleranceStr << QVariant(25);
        QTest::newRow("scrolling under the key without c")
            << int(Scrolling) << "" << kScrollingEnabledStr << QVariant(false);
        QTest::newRow("scrolling type turns from real into integer")
            << int(Type) << "" << kScrollingTypeStr << QVariant(2);
        QTest::newRow("debug logging")
            << int(DebugLogging) << "" << kDebugLogging << QVariant(false);
    }

    void editThroughControlStoresItsKindOnce()
    {
        QFETCH(int, tag);
        QFETCH(QString, typed);
        QFETCH(QString, key);
        QFETCH(QVariant, onDisk);

        QVERIFY(storeAndNotify(kMerged));
        m_notices.clear();
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
        QVERIFY(m_notices.settle());
        QCOMPARE(m_notices.count(kDefaultsDidChangeNotification), 1);
        // Every other key keeps its kind and value; no "scrollingEnabled" key appears either.
        QVERIFY(storedIs(with(kMerged, key, onDisk)));
    }

    // Text a field cannot take stays on view, framed and explained, and nothing is stored; a
    // notice of unchanged settings leaves it there too.
    void refusedTextStaysShownAndIsNotStored_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<QString>("typed");   // empty: the field is emptied
        QTest::addColumn<bool>("pressEnter"); // else the edit ends by leaving the field
        QTest::addColumn<QString>("message");

        QTest::newRow("letters as port, Enter") << int(Port) << "abc" << true << "portMessage";
        QTest::newRow("port above 65535, leaving")
            << int(Port) << "70000" << false << "portMessage";
        QTest::newRow("emptied port, Enter") << int(Port) << "" << true << "portMessage";
        QTest::newRow("lone point as time limit, leaving")
            << int(TimeLimit) << "." << false << "timeLimitMessage";
        QTest::newRow("time limit above 10 s, Enter")
            << int(TimeLimit) << "11" << true << "timeLimitMessage";
        QTest::newRow("negative tolerance, leaving")
            << int(Tolerance) << "-1" << false << "toleranceMessage";
    }

    void refusedTextStaysShownAndIsNotStored()
    {
        QFETCH(int, tag);
        QFETCH(QString, typed);
        QFETCH(bool, pressEnter);
        QFETCH(QString, message);

        QVERIFY(storeAndNotify(kMerged));
        m_notices.clear();
        auto* field = qobject_cast<QLineEdit*>(control(tag));
        typeInto(field, typed.isEmpty() ? QStringLiteral("\b") : typed);
        if (pressEnter)
            QTest::keyClick(field, Qt::Key_Return);
        else
            control(HInvert)->setFocus();

        QCOMPARE(field->text(), typed);
        QVERIFY(label(message)->isVisibleTo(m_host->window()));
        QVERIFY(label(message)->text().startsWith("Not stored"));
        QVERIFY(storeAndNotify(kMerged));
        QCOMPARE(field->text(), typed);
        QCOMPARE(m_notices.count(kDefaultsDidChangeNotification), 1); // the test's own
        QVERIFY(storedIs(kMerged));

        QVERIFY(storeAndNotify(kEdited)); // a new stored value replaces the refused text
        QCOMPARE(shown(*m_host), kEditedShown);
        QVERIFY(!label(message)->isVisibleTo(m_host->window()));
    }

    void detailsOfAGestureThatIsOffAreDisabled_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<QList<int>>("details");
        QTest::newRow("right click") << int(RightClick) << QList<int>{TimeLimit, Tolerance};
        QTest::newRow("scrolling") << int(Scrolling) << QList<int>{Type};
    }

    void detailsOfAGestureThatIsOffAreDisabled()
    {
        QFETCH(int, tag);
        QFETCH(QList<int>, details);

        QVERIFY(storeAndNotify(kEdited)); // both gestures off
        for (int detail : details)
            QVERIFY(!control(detail)->isEnabled());
        auto* box = qobject_cast<QAbstractButton*>(control(tag));
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        for (int detail : details)
            QVERIFY(control(detail)->isEnabled());
    }

    // Restore Defaults stores the agent's defaults in one announced write, ends the network
    // listener and the monitor choice, and clears refused text.
    void restoreDefaultsStoresTheAgentsDefaults()
    {
        QVERIFY(storeAndNotify(
            with(with(with(kEdited, kTuioListenAddressStr, "any"), kOutputNameStr, "HDMI-9"),
                 "someoneElsesKey", "kept")));
        typeInto(qobject_cast<QLineEdit*>(control(TimeLimit)), "abc");
        control(HInvert)->setFocus();
        m_notices.clear();

        QTest::mouseClick(qobject_cast<QAbstractButton*>(control(RestoreDefaults)), Qt::LeftButton);
        QVERIFY(m_notices.settle());
        QCOMPARE(m_notices.count(kDefaultsDidChangeNotification), 1);
        QCOMPARE(m_notices.count(kPortDidChangeNotification), 1);
        QVERIFY(storedIs(with(with(kMerged, kDebugLogging, false), "someoneElsesKey", "kept")));
        QCOMPARE(shown(*m_host), kMergedShown);
        QVERIFY(!label("timeLimitMessage")->isVisibleTo(m_host->window()));
        QCOMPARE(combo(ListenMode)->currentIndex(), 0);
        QCOMPARE(combo(Output)->currentText(), "Main screen");
    }

    // Where the listener listens: stored or removed, the listener restarted, and a warning
    // while touches may come from the network.
    void listenAddressIsStoredOrRemoved_data()
    {
        QTest::addColumn<QVariant>("before"); // invalid: no key
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("typed"); // into the address field; empty: nothing typed
        QTest::addColumn<QVariant>("after");
        QTest::addColumn<bool>("warning");

        QTest::newRow("all networks") << QVariant() << 1 << "" << QVariant("any") << true;
        QTest::newRow("this computer only") << QVariant("any") << 0 << "" << QVariant() << false;
        QTest::newRow("loopback address")
            << QVariant() << 2 << "127.0.0.1" << QVariant("127.0.0.1") << false;
        QTest::newRow("address of no interface here is refused")
            << QVariant("any") << 2 << "192.0.2.1" << QVariant("any") << true;
        QTest::newRow("no address at all is refused")
            << QVariant() << 2 << "not-an-address" << QVariant() << false;
    }

    void listenAddressIsStoredOrRemoved()
    {
        QFETCH(QVariant, before);
        QFETCH(int, mode);
        QFETCH(QString, typed);
        QFETCH(QVariant, after);
        QFETCH(bool, warning);

        QVERIFY(storeAndNotify(before.isValid() ? with(kMerged, kTuioListenAddressStr, before)
                                                : kMerged));
        m_notices.clear();
        QLineEdit* field = combo(ListenAddress)->lineEdit();
        field->clear();
        QComboBox* modes = combo(ListenMode);
        modes->setFocus();
        modes->setCurrentIndex(mode);
        emit modes->activated(mode);
        if (!typed.isEmpty()) {
            typeInto(field, typed);
            QTest::keyClick(field, Qt::Key_Return);
        }
        QVERIFY(m_notices.settle());
        const bool changed = after != before;
        QCOMPARE(m_notices.count(kPortDidChangeNotification), changed ? 1 : 0);
        QVERIFY(storedIs(after.isValid() ? with(kMerged, kTuioListenAddressStr, after) : kMerged));
        QCOMPARE(label("listenWarningLabel")->isVisibleTo(m_host->window()), warning);
        QCOMPARE(label("listenAddressMessage")->isVisibleTo(m_host->window()),
                 mode == 2 && !changed);
    }

    void outputNameIsStoredOrRemovedAndAMissingOneKept()
    {
        QVERIFY(storeAndNotify(with(kMerged, kOutputNameStr, "HDMI-9")));
        QComboBox* outputs = combo(Output);
        QCOMPARE(outputs->currentText(), "HDMI-9 (not connected)");
        const QString connected = "HDMI-1";
        for (const QVariant& choice : {QVariant(connected), QVariant()}) {
            const int index = outputs->findText(choice.isValid() ? connected : "Main screen");
            QVERIFY(index >= 0);
            outputs->setCurrentIndex(index);
            emit outputs->activated(index);
            QVERIFY(storedIs(choice.isValid() ? with(kMerged, kOutputNameStr, choice) : kMerged));
        }
        QCOMPARE(outputs->findText("HDMI-9 (not connected)"), -1);
    }

    void hostSaysWhatIsMissing_data()
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

    void hostSaysWhatIsMissing()
    {
        QFETCH(QString, part);
        QFETCH(QByteArray, replacement);
        QFETCH(QString, message);

        const PaneTestBundle broken;
        const QString bundle =
            part.isEmpty() ? m_home.filePath("none/TactalonPrefs.prefPane") : broken.path();
        if (!part.isEmpty()) {
            QVERIFY(QFile::remove(bundle + u'/' + part));
            QVERIFY(replacement.isEmpty() || writeFile(bundle + u'/' + part, replacement));
        }
        QProcess program;
        program.start(qEnvironmentVariable("TACTALON_BUILD_DIR") + "/bin/tactalon-settings",
                      {bundle});
        QVERIFY(program.waitForFinished(60000));
        QVERIFY(program.exitCode() != 0);
        const QString error = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(error.contains(message), qPrintable(error));
    }

    // A settings file the window cannot read does not stop it: the pane loads, and its merge
    // stores the defaults in a new file, the old one kept aside.
    void unreadableSettingsFileLeavesThePaneWithDefaults_data()
    {
        QTest::addColumn<QByteArray>("content");
        addUnreadableFileRows();
    }

    void unreadableSettingsFileLeavesThePaneWithDefaults()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir home;
        const QString config = home.filePath(".config");
        const QString file = config + "/" + kDomainName + ".plist";
        std::optional<FifoAtPath> fifo;
        QVERIFY(placeFile(file, content, fifo));

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", config);
        program.setProcessEnvironment(environment);
        program.start(qEnvironmentVariable("TACTALON_BUILD_DIR") + "/bin/tactalon-settings",
                      {m_bundle.path()});
        QTRY_COMPARE_WITH_TIMEOUT(platform::readPropertyListFile(file).root.toMap().size(), 8,
                                  20000);
        QVERIFY(!fifo || !fifo->blocked());
        QCOMPARE(program.state(), QProcess::Running);
        QCOMPARE(QDir(config).entryList({"*.unreadable-*"}, QDir::AllEntries | QDir::System).size(),
                 1);
        program.kill();
        program.waitForFinished(10000);
    }

private:
    static std::unique_ptr<PreferencePaneHost> loadPane(const PaneTestBundle& bundle)
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
    QWidget* control(int tag) const { return viewWithTag(m_host->mainView(), tag); }
    QComboBox* combo(int tag) const { return qobject_cast<QComboBox*>(control(tag)); }
    QLabel* label(const QString& name) const
    {
        return m_host->mainView()->findChild<QLabel*>(name);
    }
    static void typeInto(QLineEdit* field, const QString& text)
    {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
    }
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
    // The same keys, each with the same kind and value as on disk.
    bool storedIs(const QVariantMap& expected) const
    {
        return platform::plistValuesEqual(stored(), expected);
    }
    // Check boxes 1 2 5 8, fields 3 6 7, the tag of the scrolling type's item; "-": no control.
    static QString shown(const PreferencePaneHost& host)
    {
        QStringList values;
        for (int tag :
             {HInvert, VInvert, RightClick, Scrolling, Port, TimeLimit, Tolerance, Type}) {
            QWidget* view = viewWithTag(host.mainView(), tag);
            if (auto* box = qobject_cast<QAbstractButton*>(view))
                values << QString::number(box->isChecked());
            else if (auto* field = qobject_cast<QLineEdit*>(view))
                values << field->text();
            else if (auto* list = qobject_cast<QComboBox*>(view))
                values << list->currentData().toString();
            else
                values << "-";
        }
        return values.join(u' ');
    }

    TemporaryHome m_home; // first: before anything reads the settings
    PaneTestBundle m_bundle;
    NoticeWatcher m_notices;
    std::unique_ptr<PreferencePaneHost> m_host;
};

int main(int argc, char* argv[])
{
    // Two named monitors on Qt's offscreen platform, as a laptop with a projector has; the
    // settings programs the tests start read the same description.
    const QTemporaryDir folder;
    const QString screens = folder.filePath("screens.json");
    if (!writeFile(screens, R"({"screens": [
            {"name": "eDP-1", "x": 0, "y": 0, "width": 1440, "height": 900},
            {"name": "HDMI-1", "x": 1440, "y": 0, "width": 1920, "height": 1080}]})"))
        return 1;
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens));
    QApplication application(argc, argv);
    PaneSettingsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "PaneSettingsTest.moc"
