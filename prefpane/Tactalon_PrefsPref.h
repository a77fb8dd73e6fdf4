#pragma once

#include "platform/pane/PreferencePane.h"
#include "prefpane/LauncherRun.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <functional>

class Binding;
class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;

namespace platform {
class DistributedNotificationCenter;
class NotificationCenter;
class UserDefaults;
struct Notification;
} // namespace platform

// The launch-agent property list's keys and the start/stop button's titles.
inline const QString kLabel = QStringLiteral("Label");
inline const QString kProgramArguments = QStringLiteral("ProgramArguments");
inline const QString kKeepAlive = QStringLiteral("KeepAlive");
inline const QString kButtonStringStart = QStringLiteral("Start Tactalon");
inline const QString kButtonStringStop = QStringLiteral("Stop Tactalon");

// The Tactalon settings pane: the settings as properties on the shared settings domain, the
// controls of its view bound to them, and the start/stop of the agent through the
// launch-agent property list and the bundle's launcher tool, run without blocking the window.
class Tactalon_PrefsPref : public PreferencePane
{
    Q_OBJECT
    Q_PROPERTY(bool hInvert READ hInvert WRITE setHInvert)
    Q_PROPERTY(bool vInvert READ vInvert WRITE setVInvert)
    Q_PROPERTY(qint64 port READ port WRITE setPort)
    Q_PROPERTY(bool rightClickEnabled READ rightClickEnabled WRITE setRightClickEnabled)
    Q_PROPERTY(
        float rightClickTimeInterval READ rightClickTimeInterval WRITE setRightClickTimeInterval)
    Q_PROPERTY(qint32 rightClickTolerance READ rightClickTolerance WRITE setRightClickTolerance)
    Q_PROPERTY(bool scrollingEnabled READ scrollingEnabled WRITE setScrollingEnabled)
    Q_PROPERTY(qint32 scrollingType READ scrollingType WRITE setScrollingType)
    Q_PROPERTY(bool debugLogging READ debugLogging WRITE setDebugLogging)
    // Empty: the key is absent (this computer only); "any"; or an address of this machine.
    Q_PROPERTY(QString tuioListenAddress READ tuioListenAddress WRITE setTuioListenAddress)
    // Empty: the key is absent (the main screen); else a monitor's output name.
    Q_PROPERTY(QString outputName READ outputName WRITE setOutputName)
    // How long one launcher run may take before it is stopped, in milliseconds.
    Q_PROPERTY(int launcherTimeout READ launcherTimeout WRITE setLauncherTimeout)

public:
    explicit Tactalon_PrefsPref(const QString& bundlePath, QObject* parent = nullptr);
    ~Tactalon_PrefsPref() override;

    void mainViewDidLoad() override;

    bool hInvert();
    void setHInvert(bool value);
    bool vInvert();
    void setVInvert(bool value);
    qint64 port();
    void setPort(qint64 value);
    bool rightClickEnabled();
    void setRightClickEnabled(bool value);
    float rightClickTimeInterval(); // seconds
    void setRightClickTimeInterval(float value);
    qint32 rightClickTolerance(); // screen units
    void setRightClickTolerance(qint32 value);
    bool scrollingEnabled();
    void setScrollingEnabled(bool value);
    qint32 scrollingType(); // a ScrollingType
    void setScrollingType(qint32 value);
    bool debugLogging();
    void setDebugLogging(bool value);
    QString tuioListenAddress();
    void setTuioListenAddress(const QString& value);
    QString outputName();
    void setOutputName(const QString& value);
    int launcherTimeout() const { return m_launcherTimeout; }
    void setLauncherTimeout(int milliseconds) { m_launcherTimeout = milliseconds; }

    void setupDefaults();
    void setupLaunchAgentPropertyList();
    void handleDefaultsChange(const platform::Notification& notification);
    void setDefaultsValue(const QVariant& value, const QString& key);

    // The launch-agent property list's place, and the tool that loads and unloads it.
    static QString launchAgentPropertyListPath();
    QString launcherToolPath() const;
    QString agentProgramPath() const;

    // True for "any" and for an address that is not a loopback one.
    static bool listensBeyondThisComputer(const QString& listenAddress);
    static bool isAddressOfThisComputer(const QString& text);

public slots:
    void openURL(QObject* sender);
    void startStopAgent(QObject* sender);
    void restoreDefaults(QObject* sender);

private:
    platform::UserDefaults& defaults();
    // Applies `edit` to the stored domain, writes it and tells the agent; a change of where the
    // TUIO listener listens also restarts that listener.
    void changeDefaults(const std::function<void(QVariantMap&)>& edit, bool listenerChanged);
    void setOrRemoveDefaultsValue(const QString& value, const QString& key);
    void handleDistributedDefaultsChange(const platform::Notification& notification);
    void findControls();
    void attachValidators();
    void bindControls();
    void showAgentStatus();
    void showRefusal(Binding* binding, QLabel* message, const QString& text);
    void connectDependentControls();
    void connectListenAddress();
    void showListenAddress();
    void listenModeChosen(int index);
    void listenAddressEntered();
    void setListenAddressMessage(const QString& text);
    void connectOutput();
    void showOutput();
    void onValueDidChange(const QString& key);
    void updateStartStopTitle();
    QString startStopTitle(bool running) const;

    QVariantMap freshLaunchAgentPropertyList() const;
    void readLaunchAgentPropertyList();
    bool setAsideUnreadableFile(const QString& reason);
    // True when the file's program was another copy of the agent and now is this bundle's.
    bool pointAtThisBundlesAgent();
    void reloadRepointedAgent();
    bool writeLaunchAgentPropertyList();
    bool keepLaunchAgentOriginal();
    // Runs the launcher tool's unload, then load, with `action` naming what the user sees
    // happen ("start", "stop", "restart").
    void runLauncherTool(const QString& action);
    void launcherToolFinished(const QString& action, const QList<LauncherRun::Failure>& failures);
    QString describeFailure(const LauncherRun::Failure& failure) const;
    void setAgentState(const QString& text, bool isProblem);

    QPointer<QAbstractButton> ibHInvert;
    QPointer<QAbstractButton> ibVInvert;
    QPointer<QLineEdit> ibPort;
    QPointer<QAbstractButton> ibStartStopButton;
    QPointer<QAbstractButton> ibRightClickEnabled;
    QPointer<QLineEdit> ibRightClickInterval;
    QPointer<QLineEdit> ibRightClickTolerance;
    QPointer<QAbstractButton> ibScrollingEnabled;
    QPointer<QComboBox> ibScrollingType;
    QPointer<QAbstractButton> ibDebugLogging;
    QPointer<QComboBox> ibListenMode;
    QPointer<QComboBox> ibListenAddress;
    QPointer<QComboBox> ibOutput;
    QPointer<QLabel> agentStateLabel;
    QPointer<QLabel> listenAddressMessage;
    QPointer<QLabel> listenWarningLabel;
    QList<QPointer<Binding>> fieldBindings;
    QPointer<LauncherRun> launcherRun;
    bool launchAgentRepointed = false;
    bool listenAddressRefused = false;
    QString shownListenAddress;
    int m_launcherTimeout = 30000;
    QVariantMap launchAgentPropertyList;
    QString propertyListPath;
    platform::DistributedNotificationCenter* dnc = nullptr;
    platform::NotificationCenter* nc = nullptr;
    platform::UserDefaults* userDefaults = nullptr;

    // False while the file on disk could be neither read nor set aside: it is then never
    // overwritten.
    bool launchAgentPropertyListWritable = true;
    // The file as read, while it holds values the next write would leave out: kept as a copy
    // before that write.
    QByteArray launchAgentOriginal;
    QStringList launchAgentLeftOut;
};
