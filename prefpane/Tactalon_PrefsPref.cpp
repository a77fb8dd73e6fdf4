#include "prefpane/Tactalon_PrefsPref.h"

#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "platform/pane/Binding.h"
#include "platform/pane/ViewWithTag.h"
#include "prefpane/PropertyListDescription.h"
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
#include <QIntValidator>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QUrl>
#include <limits>

namespace {

// The eight properties, in the order their change is announced.
const char* const kPropertyNames[] = {
    "hInvert",
    "vInvert",
    "port",
    "rightClickEnabled",
    "rightClickTimeInterval",
    "rightClickTolerance",
    "scrollingEnabled",
    "scrollingType",
};

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;
constexpr int kTimeIntervalDecimals = 3; // seconds, to the millisecond

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

} // namespace

Tactalon_PrefsPref::Tactalon_PrefsPref(const QString& bundlePath, QObject* parent)
    : PreferencePane(bundlePath, parent)
{}

Tactalon_PrefsPref::~Tactalon_PrefsPref()
{
    // No notice may reach a pane that is gone.
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

void Tactalon_PrefsPref::setDefaultsValue(const QVariant& value, const QString& key)
{
    platform::UserDefaults& store = defaults();
    {
        QVariantMap workingCopy;
        if (const auto stored = store.persistentDomainForName(kDomainName))
            workingCopy.insert(*stored);
        workingCopy.insert(key, value);
        store.setPersistentDomain(workingCopy, kDomainName);
        store.synchronize();
    }
    if (!dnc)
        dnc = &platform::DistributedNotificationCenter::defaultCenter();
    dnc->postNotificationName(kDefaultsDidChangeNotification);
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
    attachValidators();
    bindControls();
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
}

void Tactalon_PrefsPref::attachValidators()
{
    // The fields take only what can be stored and used; anything else is replaced by the
    // stored value when the edit ends, so each key keeps a number.
    const QLocale c = QLocale::c();
    if (ibPort) {
        auto* validator = new QIntValidator(kLowestPort, kHighestPort, ibPort);
        validator->setLocale(c);
        ibPort->setValidator(validator);
    }
    if (ibRightClickInterval) {
        auto* validator = new QDoubleValidator(0.0, std::numeric_limits<float>::max(),
                                               kTimeIntervalDecimals, ibRightClickInterval);
        validator->setNotation(QDoubleValidator::StandardNotation);
        validator->setLocale(c);
        ibRightClickInterval->setValidator(validator);
    }
    if (ibRightClickTolerance) {
        auto* validator =
            new QIntValidator(0, std::numeric_limits<qint32>::max(), ibRightClickTolerance);
        validator->setLocale(c);
        ibRightClickTolerance->setValidator(validator);
    }
}

void Tactalon_PrefsPref::bindControls()
{
    const QString value = QStringLiteral("value");
    Binding::bind(ibVInvert, value, this, QStringLiteral("vInvert"));
    Binding::bind(ibHInvert, value, this, QStringLiteral("hInvert"));
    Binding::bind(ibPort, value, this, QStringLiteral("port"));
    Binding::bind(ibRightClickEnabled, value, this, QStringLiteral("rightClickEnabled"));
    Binding::bind(ibRightClickInterval, value, this, QStringLiteral("rightClickTimeInterval"));
    Binding::bind(ibRightClickTolerance, value, this, QStringLiteral("rightClickTolerance"));
    Binding::bind(ibScrollingEnabled, value, this, QStringLiteral("scrollingEnabled"));
    Binding::bind(ibScrollingType, QStringLiteral("selectedTag"), this,
                  QStringLiteral("scrollingType"));
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

void Tactalon_PrefsPref::updateStartStopTitle()
{
    if (!ibStartStopButton)
        return;
    const bool running = platform::plistBoolValue(launchAgentPropertyList.value(kKeepAlive));
    ibStartStopButton->setText(running ? kButtonStringStop : kButtonStringStart);
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
        pointAtThisBundlesAgent();
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

void Tactalon_PrefsPref::pointAtThisBundlesAgent()
{
    // After the pane bundle has moved, the file would start a program that is no longer there.
    const QVariant arguments = launchAgentPropertyList.value(kProgramArguments);
    if (arguments.metaType().id() != QMetaType::QVariantList)
        return;
    QVariantList list = arguments.toList();
    const QString program = list.isEmpty() ? QString() : list.first().toString();
    if (program.isEmpty() || program == agentProgramPath() || QFileInfo::exists(program))
        return;
    platform::logLine(QStringLiteral("The agent %1 is gone; the launch agent now starts %2")
                          .arg(program, agentProgramPath()));
    list[0] = agentProgramPath();
    launchAgentPropertyList.insert(kProgramArguments, list);
    writeLaunchAgentPropertyList();
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

void Tactalon_PrefsPref::startStopAgent(QObject* sender)
{
    // The button stays disabled until both launcher runs are over, and never longer.
    const QPointer<QAbstractButton> button = qobject_cast<QAbstractButton*>(sender);
    if (button)
        button->setEnabled(false);
    const auto enableAgain = qScopeGuard([button] {
        if (button)
            button->setEnabled(true);
    });

    setupLaunchAgentPropertyList(); // the file on disk decides, not the title shown
    platform::logLine(QStringLiteral("PropertyList in startStopAgent %1")
                          .arg(describePropertyList(launchAgentPropertyList)));
    platform::logLine(describePropertyList(launchAgentPropertyList.value(kProgramArguments)));

    const bool wasRunning = platform::plistBoolValue(launchAgentPropertyList.value(kKeepAlive));
    platform::logLine(wasRunning ? QStringLiteral("Stop agent") : QStringLiteral("Start agent"));
    launchAgentPropertyList.insert(kKeepAlive, !wasRunning);
    if (!writeLaunchAgentPropertyList()) {
        // The file still records the old state: show that, and leave the launcher alone.
        launchAgentPropertyList.insert(kKeepAlive, wasRunning);
        if (button)
            button->setText(wasRunning ? kButtonStringStop : kButtonStringStart);
        return;
    }
    if (button)
        button->setText(wasRunning ? kButtonStringStart : kButtonStringStop);

    runLauncherTool(QStringLiteral("unload"));
    runLauncherTool(QStringLiteral("load"));
}

void Tactalon_PrefsPref::runLauncherTool(const QString& verb)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.setInputChannelMode(QProcess::ForwardedInputChannel);
    tool.start(launcherToolPath(), {verb, propertyListPath});
    if (!tool.waitForStarted(-1)) {
        platform::logLine(QStringLiteral("Cannot run %1 %2: %3")
                              .arg(launcherToolPath(), verb, tool.errorString()));
        return;
    }
    tool.waitForFinished(-1);
}
