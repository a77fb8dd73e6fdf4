#include "prefpane/Tactalon_PrefsPref.h"

#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "platform/agentbus/AgentStatusClient.h"
#include "platform/pane/Binding.h"
#include "platform/pane/LenientValidator.h"
#include "platform/pane/ViewWithTag.h"
#include "prefpane/AgentStatusPanel.h"
#include "prefpane/MakeRoom.h"
#include "prefpane/PropertyListDescription.h"
#include "prefpane/TouchView.h"
#include "settings/DefaultsMerge.h"
#include "settings/SettingsKeys.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QDoubleValidator>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHostAddress>
#include <QIntValidator>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <iterator>
#include <utility>

namespace {

// The properties, in the order their change is announced.
const char* const kPropertyNames[] = {
    "hInvert",
    "vInvert",
    "port",
    "rightClickEnabled",
    "rightClickTimeInterval",
    "rightClickTolerance",
    "scrollingEnabled",
    "scrollingType",
    "debugLogging",
    "tuioListenAddress",
    "outputName",
};

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;
constexpr double kLongestTimeInterval = 10.0; // seconds
constexpr int kTimeIntervalDecimals = 3;      // seconds, to the millisecond
constexpr int kLargestTolerance = 1000;       // screen pixels

const QString kListenAnywhere = QStringLiteral("any");
// The listen-mode items, in the order of the interface file.
enum ListenMode : int { ListenLocally, ListenAnywhere, ListenAtAddress };

template <typename Control> QPointer<Control> controlWithTag(QWidget* view, int tag)
{
    QWidget* found = viewWithTag(view, tag);
    auto* control = qobject_cast<Control*>(found);
    if (found && !control)
        platform::logLine(QStringLiteral("The view with tag %1 is a %2, not a %3; it is left out")
                              .arg(tag)
                              .arg(QString::fromLatin1(found->metaObject()->className()),
                                   QString::fromLatin1(Control::staticMetaObject.className())));
    return control;
}

bool isDictionary(const QVariant& value)
{
    return value.metaType().id() == QMetaType::QVariantMap;
}

QString storedString(platform::UserDefaults& store, const QString& key)
{
    const QVariant value = store.objectForKey(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QVariant defaultOf(const QString& key)
{
    for (const SettingDefault& setting : agentDefaults()) {
        if (setting.key == key)
            return setting.value;
    }
    return {};
}

// Two runs of the launcher tool, in this order, make the service follow the file.
const QStringList kReloadVerbs = {QStringLiteral("unload"), QStringLiteral("load")};

} // namespace

Tactalon_PrefsPref::Tactalon_PrefsPref(const QString& bundlePath, QObject* parent)
    : PreferencePane(bundlePath, parent)
{}

Tactalon_PrefsPref::~Tactalon_PrefsPref()
{
    // No notice, and no end of a launcher run, may reach a pane that is gone.
    delete launcherRun;
    if (nc)
        nc->removeObserver(this);
    if (dnc)
        dnc->removeObserver(this);
}

// --- Settings model -------------------------------------------------------------------------

platform::UserDefaults& Tactalon_PrefsPref::defaults()
{
    // The properties may be used before the view loads; they then read the same store.
    if (!userDefaults) {
        userDefaults = &platform::UserDefaults::standardUserDefaults();
        userDefaults->addSuiteNamed(kDomainName);
    }
    return *userDefaults;
}

bool Tactalon_PrefsPref::hInvert()
{
    return defaults().boolForKey(kHInvertStr);
}

void Tactalon_PrefsPref::setHInvert(bool value)
{
    setDefaultsValue(value, kHInvertStr);
}

bool Tactalon_PrefsPref::vInvert()
{
    return defaults().boolForKey(kVInvertStr);
}

void Tactalon_PrefsPref::setVInvert(bool value)
{
    setDefaultsValue(value, kVInvertStr);
}

qint64 Tactalon_PrefsPref::port()
{
    return defaults().integerForKey(kPortStr);
}

void Tactalon_PrefsPref::setPort(qint64 value)
{
    setDefaultsValue(QVariant::fromValue(static_cast<qint32>(value)), kPortStr);
}

bool Tactalon_PrefsPref::rightClickEnabled()
{
    return defaults().boolForKey(kRightClickEnabledStr);
}

void Tactalon_PrefsPref::setRightClickEnabled(bool value)
{
    setDefaultsValue(value, kRightClickEnabledStr);
}

float Tactalon_PrefsPref::rightClickTimeInterval()
{
    return platform::plistFloatValue(defaults().objectForKey(kRightClickTimeIntervalStr));
}

void Tactalon_PrefsPref::setRightClickTimeInterval(float value)
{
    setDefaultsValue(QVariant::fromValue(value), kRightClickTimeIntervalStr);
}

qint32 Tactalon_PrefsPref::rightClickTolerance()
{
    return platform::plistIntValue(defaults().objectForKey(kRightClickToleranceStr));
}

void Tactalon_PrefsPref::setRightClickTolerance(qint32 value)
{
    setDefaultsValue(QVariant::fromValue(value), kRightClickToleranceStr);
}

bool Tactalon_PrefsPref::scrollingEnabled()
{
    return defaults().boolForKey(kScrollingEnabledStr);
}

void Tactalon_PrefsPref::setScrollingEnabled(bool value)
{
    setDefaultsValue(value, kScrollingEnabledStr);
}

qint32 Tactalon_PrefsPref::scrollingType()
{
    return platform::plistIntValue(defaults().objectForKey(kScrollingTypeStr));
}

void Tactalon_PrefsPref::setScrollingType(qint32 value)
{
    setDefaultsValue(QVariant::fromValue(value), kScrollingTypeStr);
}

bool Tactalon_PrefsPref::debugLogging()
{
    return defaults().boolForKey(kDebugLogging);
}

void Tactalon_PrefsPref::setDebugLogging(bool value)
{
    setDefaultsValue(value, kDebugLogging);
}

QString Tactalon_PrefsPref::tuioListenAddress()
{
    return storedString(defaults(), kTuioListenAddressStr);
}

void Tactalon_PrefsPref::setTuioListenAddress(const QString& value)
{
    setOrRemoveDefaultsValue(value.trimmed(), kTuioListenAddressStr);
}

QString Tactalon_PrefsPref::outputName()
{
    return storedString(defaults(), kOutputNameStr);
}

void Tactalon_PrefsPref::setOutputName(const QString& value)
{
    setOrRemoveDefaultsValue(value, kOutputNameStr);
}

void Tactalon_PrefsPref::setDefaultsValue(const QVariant& value, const QString& key)
{
    const bool listenerChanged =
        key == kPortStr && defaults().integerForKey(kPortStr) != value.toLongLong();
    changeDefaults([&](QVariantMap& domain) { domain.insert(key, value); }, listenerChanged);
}

void Tactalon_PrefsPref::setOrRemoveDefaultsValue(const QString& value, const QString& key)
{
    changeDefaults(
        [&](QVariantMap& domain) {
            if (value.isEmpty())
                domain.remove(key);
            else
                domain.insert(key, value);
        },
        key == kTuioListenAddressStr && storedString(defaults(), key) != value);
}

void Tactalon_PrefsPref::changeDefaults(const std::function<void(QVariantMap&)>& edit,
                                        bool listenerChanged)
{
    platform::UserDefaults& store = defaults();
    {
        QVariantMap workingCopy;
        if (const auto stored = store.persistentDomainForName(kDomainName))
            workingCopy.insert(*stored);
        edit(workingCopy);
        store.setPersistentDomain(workingCopy, kDomainName);
        store.synchronize();
    }
    if (!dnc)
        dnc = &platform::DistributedNotificationCenter::defaultCenter();
    dnc->postNotificationName(kDefaultsDidChangeNotification);
    // The agent binds its listener once; this notice has it bind again with what is stored.
    if (listenerChanged)
        dnc->postNotificationName(kPortDidChangeNotification);
}

void Tactalon_PrefsPref::restoreDefaults(QObject* /*sender*/)
{
    platform::logLine(QStringLiteral("Restore defaults"));
    const bool listenerChanged =
        port() != defaultOf(kPortStr).toLongLong() || !tuioListenAddress().isEmpty();
    changeDefaults(
        [](QVariantMap& domain) {
            for (const SettingDefault& setting : agentDefaults())
                domain.insert(setting.key, setting.value);
            domain.remove(kTuioListenAddressStr);
            domain.remove(kOutputNameStr);
        },
        listenerChanged);
    // Refused text goes too: every field shows what is stored now.
    for (const QPointer<Binding>& binding : fieldBindings) {
        if (binding)
            binding->showStoredValue();
    }
    listenAddressRefused = false;
    showListenAddress();
}

void Tactalon_PrefsPref::handleDefaultsChange(const platform::Notification& /*notification*/)
{
    for (const char* name : kPropertyNames)
        didChangeValueForKey(QString::fromLatin1(name));
}

void Tactalon_PrefsPref::handleDistributedDefaultsChange(const platform::Notification& notification)
{
    // Another process (or another pane) changed the settings: take them in and show them.
    if (!userDefaults)
        return;
    userDefaults->synchronize();
    handleDefaultsChange(notification);
}

void Tactalon_PrefsPref::setupDefaults()
{
    userDefaults = &platform::UserDefaults::standardUserDefaults();
    userDefaults->addSuiteNamed(kDomainName);
    // Take in what other processes stored since this process last looked, so that the merge
    // never puts a default over a value someone else has set.
    userDefaults->synchronize();
    mergeDefaults(*userDefaults, paneDefaults());
}

// --- View wiring ----------------------------------------------------------------------------

void Tactalon_PrefsPref::mainViewDidLoad()
{
    PreferencePane::mainViewDidLoad();
    dnc = &platform::DistributedNotificationCenter::defaultCenter();
    nc = &platform::NotificationCenter::defaultCenter();
    nc->addObserver(this, platform::kUserDefaultsDidChangeNotification,
                    [this](const platform::Notification& n) { handleDefaultsChange(n); });
    dnc->addObserver(this, kDefaultsDidChangeNotification, [this](const platform::Notification& n) {
        handleDistributedDefaultsChange(n);
    });
    findControls();
    setupDefaults();
    setupLaunchAgentPropertyList();
    updateStartStopTitle();
    reloadRepointedAgent();
    attachValidators();
    bindControls();
    connectDependentControls();
    connectListenAddress();
    connectOutput();
    showAgentStatus();
    connect(this, &PreferencePane::didChangeValue, this, &Tactalon_PrefsPref::onValueDidChange);
}

// The running agent as it reports itself on the session bus, beside what the user asked for.
void Tactalon_PrefsPref::showAgentStatus()
{
    auto* agent = new platform::AgentStatusClient(this);
    if (auto* area = mainView()->findChild<QWidget*>(QStringLiteral("agentStatusArea")))
        area->layout()->addWidget(new AgentStatusPanel(agent, area));
    if (auto* area = mainView()->findChild<QWidget*>(QStringLiteral("touchViewArea")))
        area->layout()->addWidget(new TouchView(agent, area));
}

void Tactalon_PrefsPref::findControls()
{
    QWidget* view = mainView();
    ibHInvert = controlWithTag<QAbstractButton>(view, 1);
    ibVInvert = controlWithTag<QAbstractButton>(view, 2);
    ibPort = controlWithTag<QLineEdit>(view, 3);
    ibStartStopButton = controlWithTag<QAbstractButton>(view, 4);
    ibRightClickEnabled = controlWithTag<QAbstractButton>(view, 5);
    ibRightClickInterval = controlWithTag<QLineEdit>(view, 6);
    ibRightClickTolerance = controlWithTag<QLineEdit>(view, 7);
    ibScrollingEnabled = controlWithTag<QAbstractButton>(view, 8);
    ibScrollingType = controlWithTag<QComboBox>(view, 9);
    ibDebugLogging = controlWithTag<QAbstractButton>(view, 10);
    ibListenMode = controlWithTag<QComboBox>(view, 11);
    ibListenAddress = controlWithTag<QComboBox>(view, 12);
    ibOutput = controlWithTag<QComboBox>(view, 13);
    agentStateLabel = view->findChild<QLabel*>(QStringLiteral("agentStateLabel"));
    listenAddressMessage = view->findChild<QLabel*>(QStringLiteral("listenAddressMessage"));
    listenWarningLabel = view->findChild<QLabel*>(QStringLiteral("listenWarningLabel"));
}

void Tactalon_PrefsPref::attachValidators()
{
    // The fields keep whatever is typed; text outside these ranges is refused when the edit
    // ends, shown as such, and not stored.
    const QLocale c = QLocale::c();
    if (ibPort) {
        auto* validator = new QIntValidator(kLowestPort, kHighestPort);
        validator->setLocale(c);
        ibPort->setValidator(new LenientValidator(validator, ibPort));
    }
    if (ibRightClickInterval) {
        auto* validator = new QDoubleValidator(0.0, kLongestTimeInterval, kTimeIntervalDecimals);
        validator->setNotation(QDoubleValidator::StandardNotation);
        validator->setLocale(c);
        ibRightClickInterval->setValidator(new LenientValidator(validator, ibRightClickInterval));
    }
    if (ibRightClickTolerance) {
        auto* validator = new QIntValidator(0, kLargestTolerance);
        validator->setLocale(c);
        ibRightClickTolerance->setValidator(new LenientValidator(validator, ibRightClickTolerance));
    }
}

void Tactalon_PrefsPref::bindControls()
{
    const QString value = QStringLiteral("value");
    Binding::bind(ibVInvert, value, this, QStringLiteral("vInvert"));
    Binding::bind(ibHInvert, value, this, QStringLiteral("hInvert"));
    Binding::bind(ibRightClickEnabled, value, this, QStringLiteral("rightClickEnabled"));
    Binding::bind(ibScrollingEnabled, value, this, QStringLiteral("scrollingEnabled"));
    Binding::bind(ibDebugLogging, value, this, QStringLiteral("debugLogging"));
    Binding::bind(ibScrollingType, QStringLiteral("selectedTag"), this,
                  QStringLiteral("scrollingType"));

    struct Field
    {
        QLineEdit* control;
        const char* property;
        const char* messageLabel;
        QString refusal;
    };
    const Field fields[] = {
        {ibPort, "port", "portMessage",
         tr("Not stored: a port is a whole number from %1 to %2.")
             .arg(kLowestPort)
             .arg(kHighestPort)},
        {ibRightClickInterval, "rightClickTimeInterval", "timeLimitMessage",
         tr("Not stored: enter seconds from 0 to %1, such as 0.5.").arg(kLongestTimeInterval)},
        {ibRightClickTolerance, "rightClickTolerance", "toleranceMessage",
         tr("Not stored: enter whole pixels from 0 to %1.").arg(kLargestTolerance)},
    };
    for (const Field& field : fields) {
        Binding* binding =
            Binding::bind(field.control, value, this, QString::fromLatin1(field.property));
        if (!binding)
            continue;
        fieldBindings.append(binding);
        QLabel* message = mainView()->findChild<QLabel*>(QString::fromLatin1(field.messageLabel));
        connect(binding, &Binding::inputRefusedChanged, this,
                [this, binding, message, refusal = field.refusal](bool refused) {
                    showRefusal(binding, message, refused ? refusal : QString());
                });
    }
}

void Tactalon_PrefsPref::showRefusal(Binding* binding, QLabel* message, const QString& text)
{
    if (!text.isEmpty())
        platform::logLine(QStringLiteral("Refused \"%1\" in %2; nothing stored")
                              .arg(qobject_cast<QLineEdit*>(binding->control())->text(),
                                   binding->control()->objectName()));
    if (!message)
        return;
    message->setText(text);
    message->setVisible(!text.isEmpty());
}

void Tactalon_PrefsPref::connectDependentControls()
{
    // The details of a gesture that is off cannot be edited; they keep their values.
    const auto follow = [this](QAbstractButton* box, const char* detailsName) {
        QWidget* details = mainView()->findChild<QWidget*>(QString::fromLatin1(detailsName));
        if (!box || !details)
            return;
        details->setEnabled(box->isChecked());
        connect(box, &QAbstractButton::toggled, details, &QWidget::setEnabled);
    };
    follow(ibRightClickEnabled, "rightClickDetails");
    follow(ibScrollingEnabled, "scrollingDetails");
}

// --- Listen address ---------------------------------------------------------------------

bool Tactalon_PrefsPref::listensBeyondThisComputer(const QString& listenAddress)
{
    if (listenAddress.isEmpty())
        return false;
    const QHostAddress address(listenAddress);
    return address.isNull() || !address.isLoopback();
}

bool Tactalon_PrefsPref::isAddressOfThisComputer(const QString& text)
{
    const QHostAddress address(text.trimmed());
    return !address.isNull() && QNetworkInterface::allAddresses().contains(address);
}

void Tactalon_PrefsPref::connectListenAddress()
{
    if (!ibListenMode || !ibListenAddress)
        return;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (!address.isLoopback())
            ibListenAddress->addItem(address.toString());
    }
    ibListenAddress->setCurrentIndex(-1); // no address is chosen by merely opening the window
    connect(ibListenMode, &QComboBox::activated, this, &Tactalon_PrefsPref::listenModeChosen);
    connect(ibListenAddress, &QComboBox::activated, this,
            &Tactalon_PrefsPref::listenAddressEntered);
    if (!ibListenAddress->isEditable())
        ibListenAddress->setEditable(true); // an address of one's own can always be typed
    connect(ibListenAddress->lineEdit(), &QLineEdit::editingFinished, this,
            &Tactalon_PrefsPref::listenAddressEntered);
    showListenAddress();
}

void Tactalon_PrefsPref::showListenAddress()
{
    if (!ibListenMode || !ibListenAddress)
        return;
    const QString stored = tuioListenAddress();
    // Refused text stays on view until the stored address itself changes.
    if (listenAddressRefused && stored == shownListenAddress)
        return;
    shownListenAddress = stored;
    listenAddressRefused = false;
    const ListenMode mode = stored.isEmpty()            ? ListenLocally
                            : stored == kListenAnywhere ? ListenAnywhere
                                                        : ListenAtAddress;
    ibListenMode->setCurrentIndex(mode);
    ibListenAddress->setEnabled(mode == ListenAtAddress);
    if (mode == ListenAtAddress) {
        if (!ibListenAddress->lineEdit()->hasFocus())
            ibListenAddress->setEditText(stored);
        setListenAddressMessage(isAddressOfThisComputer(stored)
                                    ? QString()
                                    : tr("Not an address of this computer now."));
    } else {
        setListenAddressMessage({});
    }
    if (listenWarningLabel)
        listenWarningLabel->setVisible(listensBeyondThisComputer(stored));
}

void Tactalon_PrefsPref::listenModeChosen(int index)
{
    switch (index) {
    case ListenLocally:
        setTuioListenAddress({});
        break;
    case ListenAnywhere:
        setTuioListenAddress(kListenAnywhere);
        break;
    default:
        // Nothing is stored until the user picks or types an address of this machine: opening
        // the desktop to the network is never a side effect.
        ibListenAddress->setEnabled(true);
        ibListenAddress->setFocus();
        listenAddressEntered();
        break;
    }
}

void Tactalon_PrefsPref::listenAddressEntered()
{
    if (!ibListenMode || ibListenMode->currentIndex() != ListenAtAddress)
        return;
    const QString text = ibListenAddress->currentText().trimmed();
    if (text == tuioListenAddress())
        return; // focus leaving an unchanged field stores nothing
    if (!isAddressOfThisComputer(text)) {
        platform::logLine(
            QStringLiteral("Refused listen address \"%1\"; nothing stored").arg(text));
        listenAddressRefused = true;
        setListenAddressMessage(text.isEmpty()
                                    ? tr("Choose or type an address of this computer.")
                                    : tr("Not stored: not an address of this computer."));
        return;
    }
    setListenAddressMessage({});
    setTuioListenAddress(text);
}

void Tactalon_PrefsPref::setListenAddressMessage(const QString& text)
{
    if (ibListenAddress)
        ibListenAddress->setStyleSheet(
            text.isEmpty() ? QString()
                           : QStringLiteral("QComboBox { border: 2px solid #c62828; }"));
    if (!listenAddressMessage)
        return;
    listenAddressMessage->setText(text);
    listenAddressMessage->setVisible(!text.isEmpty());
}

// --- Monitor ------------------------------------------------------------------------------

void Tactalon_PrefsPref::connectOutput()
{
    if (!ibOutput)
        return;
    connect(ibOutput, &QComboBox::activated, this, [this](int index) {
        setOutputName(ibOutput->itemData(index).toString());
        showOutput(); // a monitor that is not connected goes once another is chosen
    });
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &Tactalon_PrefsPref::showOutput);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &Tactalon_PrefsPref::showOutput);
    showOutput();
}

void Tactalon_PrefsPref::showOutput()
{
    if (!ibOutput)
        return;
    // A stored monitor that is not connected now stays chosen, marked as such, so that
    // plugging it in again needs no visit here.
    const QString stored = outputName();
    ibOutput->clear();
    ibOutput->addItem(tr("Main screen"), QString());
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (!screen->name().isEmpty()) // a display server that names no outputs
            ibOutput->addItem(screen->name(), screen->name());
    }
    int index = ibOutput->findData(stored);
    if (index < 0) {
        ibOutput->addItem(tr("%1 (not connected)").arg(stored), stored);
        index = ibOutput->count() - 1;
    }
    ibOutput->setCurrentIndex(index);
}

void Tactalon_PrefsPref::onValueDidChange(const QString& key)
{
    if (key == QLatin1String("tuioListenAddress"))
        showListenAddress();
    else if (key == QLatin1String("outputName") && ibOutput &&
             outputName() != ibOutput->currentData().toString())
        showOutput();
}

void Tactalon_PrefsPref::openURL(QObject* sender)
{
    const auto* button = qobject_cast<QAbstractButton*>(sender);
    const QString title = button ? button->text().trimmed() : QString();
    const QUrl url(title, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) {
        platform::logLine(QStringLiteral("Not a web address, nothing opened: \"%1\"").arg(title));
        return;
    }
    QDesktopServices::openUrl(url);
}

// --- Launch agent control -------------------------------------------------------------------

QString Tactalon_PrefsPref::launchAgentPropertyListPath()
{
    return QDir::homePath() + QStringLiteral("/Library/LaunchAgents/quillonworks.Tactalon.plist");
}

QString Tactalon_PrefsPref::launcherToolPath() const
{
    return bundlePath() + QStringLiteral("/Contents/Helpers/launchctl");
}

QString Tactalon_PrefsPref::agentProgramPath() const
{
    return bundlePath() + QStringLiteral("/Contents/MacOS/Tactalon");
}

QString Tactalon_PrefsPref::startStopTitle(bool running) const
{
    return running ? tr("Stop T&actalon") : tr("Start T&actalon");
}

void Tactalon_PrefsPref::updateStartStopTitle()
{
    if (!ibStartStopButton)
        return;
    const bool running = platform::plistBoolValue(launchAgentPropertyList.value(kKeepAlive));
    ibStartStopButton->setText(startStopTitle(running));
}

QVariantMap Tactalon_PrefsPref::freshLaunchAgentPropertyList() const
{
    return {
        {kKeepAlive, false},
        {kLabel, kDomainName},
        {kProgramArguments, QVariantList{agentProgramPath()}},
    };
}

void Tactalon_PrefsPref::setupLaunchAgentPropertyList()
{
    launchAgentRepointed = false;
    propertyListPath = launchAgentPropertyListPath();
    const QString folder = QDir::homePath() + QStringLiteral("/Library/LaunchAgents/");
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        platform::logLine(QStringLiteral("Cannot create the folder %1").arg(folder));

    if (!QFileInfo::exists(propertyListPath)) {
        launchAgentLeftOut.clear();
        launchAgentPropertyList = freshLaunchAgentPropertyList();
        launchAgentPropertyListWritable = true;
        writeLaunchAgentPropertyList();
        return;
    }
    readLaunchAgentPropertyList();
}

void Tactalon_PrefsPref::readLaunchAgentPropertyList()
{
    const platform::PropertyListFile file = platform::readPropertyListFile(propertyListPath);
    launchAgentLeftOut.clear();
    launchAgentOriginal.clear();
    if (file.status == platform::PropertyListStatus::Ok && isDictionary(file.root)) {
        launchAgentPropertyList = file.root.toMap();
        if (!file.leftOut.isEmpty()) {
            launchAgentLeftOut = file.leftOut;
            launchAgentOriginal = file.data;
        }
        launchAgentPropertyListWritable = true;
        launchAgentRepointed = pointAtThisBundlesAgent();
        return;
    }
    const QString reason = file.status == platform::PropertyListStatus::Ok
                               ? QStringLiteral("it holds no dictionary")
                               : file.error;
    // A file we cannot understand is kept for the user, never overwritten.
    launchAgentPropertyListWritable = setAsideUnreadableFile(reason);
    launchAgentPropertyList =
        launchAgentPropertyListWritable ? freshLaunchAgentPropertyList() : QVariantMap{};
    if (launchAgentPropertyListWritable)
        writeLaunchAgentPropertyList();
}

bool Tactalon_PrefsPref::setAsideUnreadableFile(const QString& reason)
{
    const QString aside = platform::moveUnreadableFileAside(propertyListPath);
    if (aside.isEmpty()) {
        platform::logLine(QStringLiteral("Cannot read the launch agent file %1 (%2), nor move it "
                                         "aside; it is left as it is")
                              .arg(propertyListPath, reason));
        return false;
    }
    platform::logLine(QStringLiteral("Cannot read the launch agent file %1 (%2); it is kept as %3 "
                                     "and replaced by a new one")
                          .arg(propertyListPath, reason, aside));
    return true;
}

bool Tactalon_PrefsPref::pointAtThisBundlesAgent()
{
    // A pane moved or installed after the file was made would leave the service starting
    // another copy of the agent (a build tree's), or one that is no longer there.
    const QVariant arguments = launchAgentPropertyList.value(kProgramArguments);
    if (arguments.metaType().id() != QMetaType::QVariantList)
        return false;
    QVariantList list = arguments.toList();
    const QString program = list.isEmpty() ? QString() : list.first().toString();
    if (program.isEmpty())
        return false;
    const QFileInfo programFile(program);
    const QFileInfo ourAgent(agentProgramPath());
    const bool otherAgentCopy = programFile.fileName() == ourAgent.fileName() &&
                                programFile.canonicalFilePath() != ourAgent.canonicalFilePath();
    if (program == agentProgramPath() || (programFile.exists() && !otherAgentCopy))
        return false;
    platform::logLine(QStringLiteral("The launch agent started %1 %2; it now starts %3")
                          .arg(program,
                               programFile.exists() ? QStringLiteral("(another copy of the agent)")
                                                    : QStringLiteral("(gone)"),
                               agentProgramPath()));
    list[0] = agentProgramPath();
    launchAgentPropertyList.insert(kProgramArguments, list);
    return writeLaunchAgentPropertyList();
}

void Tactalon_PrefsPref::reloadRepointedAgent()
{
    // A running service still runs the program it started with: unload and load have it run
    // the one the file names now. A stopped one starts nothing.
    if (!std::exchange(launchAgentRepointed, false) ||
        !platform::plistBoolValue(launchAgentPropertyList.value(kKeepAlive)))
        return;
    runLauncherTool(QStringLiteral("restart"));
}

bool Tactalon_PrefsPref::writeLaunchAgentPropertyList()
{
    if (!launchAgentPropertyListWritable) {
        platform::logLine(
            QStringLiteral("The launch agent file %1 is left unchanged").arg(propertyListPath));
        return false;
    }
    if (!keepLaunchAgentOriginal())
        return false;
    QString error;
    if (!platform::writeXmlPropertyListFile(propertyListPath, launchAgentPropertyList, &error)) {
        platform::logLine(QStringLiteral("Cannot write the launch agent file %1: %2")
                              .arg(propertyListPath, error));
        return false;
    }
    return true;
}

// A file holding values that cannot be written back exactly is rewritten without them only
// once a copy of it as it was is kept beside it.
bool Tactalon_PrefsPref::keepLaunchAgentOriginal()
{
    if (launchAgentLeftOut.isEmpty())
        return true;
    const QString values = launchAgentLeftOut.join(QStringLiteral(", "));
    QString error;
    const QString copy = platform::keepOriginalCopy(propertyListPath, launchAgentOriginal, &error);
    if (copy.isEmpty()) {
        platform::logLine(QStringLiteral("Cannot write the launch agent file %1: it holds values "
                                         "that cannot be written back exactly (%2), and keeping "
                                         "a copy failed (%3)")
                              .arg(propertyListPath, values, error));
        return false;
    }
    platform::logLine(QStringLiteral("The launch agent file %1 holds values that cannot be "
                                     "written back exactly (%2): kept it as it was as %3; the "
                                     "rewritten file leaves them out")
                          .arg(propertyListPath, values, copy));
    launchAgentLeftOut.clear();
    launchAgentOriginal.clear();
    return true;
}

void Tactalon_PrefsPref::startStopAgent(QObject* /*sender*/)
{
    if (launcherRun && launcherRun->isRunning()) {
        platform::logLine(QStringLiteral("The launcher tool still runs; start/stop ignored"));
        return;
    }
    setupLaunchAgentPropertyList(); // the file on disk decides, not the title shown
    launchAgentRepointed = false;   // the runs below reload the job anyway
    platform::logLine(QStringLiteral("PropertyList in startStopAgent %1")
                          .arg(describePropertyList(launchAgentPropertyList)));
    platform::logLine(describePropertyList(launchAgentPropertyList.value(kProgramArguments)));

    const bool wasRunning = platform::plistBoolValue(launchAgentPropertyList.value(kKeepAlive));
    platform::logLine(wasRunning ? QStringLiteral("Stop agent") : QStringLiteral("Start agent"));
    launchAgentPropertyList.insert(kKeepAlive, !wasRunning);
    if (!writeLaunchAgentPropertyList()) {
        // The file still records the old state: show that, and leave the launcher alone.
        launchAgentPropertyList.insert(kKeepAlive, wasRunning);
        updateStartStopTitle();
        setAgentState(tr("Nothing changed: the file %1 cannot be written.").arg(propertyListPath),
                      true);
        return;
    }
    updateStartStopTitle();
    runLauncherTool(wasRunning ? QStringLiteral("stop") : QStringLiteral("start"));
}

void Tactalon_PrefsPref::runLauncherTool(const QString& action)
{
    // The button stays disabled until both runs are over, and never longer; the window and
    // every other control go on working meanwhile.
    if (ibStartStopButton)
        ibStartStopButton->setEnabled(false);
    setAgentState(action == QLatin1String("start")  ? tr("Starting Tactalon…")
                  : action == QLatin1String("stop") ? tr("Stopping Tactalon…")
                                                    : tr("Restarting Tactalon…"),
                  false);
    delete launcherRun;
    launcherRun = new LauncherRun(launcherToolPath(), propertyListPath,
                                  std::chrono::milliseconds(m_launcherTimeout), this);
    connect(launcherRun, &LauncherRun::finished, this,
            [this, action](const QList<LauncherRun::Failure>& failures) {
                launcherToolFinished(action, failures);
            });
    launcherRun->start(kReloadVerbs);
}

void Tactalon_PrefsPref::launcherToolFinished(const QString& action,
                                              const QList<LauncherRun::Failure>& failures)
{
    if (ibStartStopButton)
        ibStartStopButton->setEnabled(true);
    // The load decides where the job ends up, so its failure is the one told. An unload that
    // merely exited non-zero (the first start finds nothing to unload) is no failure once the
    // load did what was asked; every run's own words stay in the log.
    QList<LauncherRun::Failure> told;
    std::copy_if(failures.begin(), failures.end(), std::back_inserter(told),
                 [](const LauncherRun::Failure& failure) { return failure.verb == u"load"; });
    if (told.isEmpty())
        std::copy_if(failures.begin(), failures.end(), std::back_inserter(told),
                     [](const LauncherRun::Failure& failure) {
                         return failure.kind != LauncherRun::FailureKind::ExitStatus;
                     });
    QStringList problems;
    for (const LauncherRun::Failure& failure : told)
        problems << describeFailure(failure);
    if (!problems.isEmpty()) {
        const QString head = action == QLatin1String("start") ? tr("Tactalon may not have started:")
                             : action == QLatin1String("stop")
                                 ? tr("Tactalon may not have stopped:")
                                 : tr("Tactalon may not have restarted:");
        setAgentState(head + u' ' + problems.join(u' '), true);
        return;
    }
    setAgentState(action == QLatin1String("start")
                      ? tr("Started. Tactalon also starts at every login.")
                  : action == QLatin1String("stop")
                      ? tr("Stopped. Tactalon stays stopped until you start it here.")
                      : tr("Restarted with the agent of this window's bundle."),
                  false);
}

QString Tactalon_PrefsPref::describeFailure(const LauncherRun::Failure& failure) const
{
    const QString run = QStringLiteral("\"launchctl %1\"").arg(failure.verb);
    const QString said =
        failure.detail.isEmpty() ? QString() : tr(" It said: %1").arg(failure.detail);
    switch (failure.kind) {
    case LauncherRun::FailureKind::Missing:
        return tr("the helper program %1 is missing.").arg(launcherToolPath());
    case LauncherRun::FailureKind::NotStartable:
        return tr("the helper program %1 cannot be run (%2).")
            .arg(launcherToolPath(), failure.detail);
    case LauncherRun::FailureKind::Crashed:
        return tr("%1 crashed.").arg(run) + said;
    case LauncherRun::FailureKind::TimedOut:
        return tr("%1 did not finish within %2 seconds and was stopped.")
                   .arg(run)
                   .arg(m_launcherTimeout / 1000.0) +
               said;
    case LauncherRun::FailureKind::ExitStatus:
        break;
    }
    return tr("%1 failed (exit status %2).").arg(run).arg(failure.exitStatus) + said;
}

void Tactalon_PrefsPref::setAgentState(const QString& text, bool isProblem)
{
    if (!agentStateLabel)
        return;
    agentStateLabel->setText(text);
    agentStateLabel->setStyleSheet(isProblem ? QStringLiteral("color: #c62828;") : QString());
    makeRoomForWrappedText(agentStateLabel);
}
