#pragma once

#include "platform/pane/PreferencePane.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

class QAbstractButton;
class QComboBox;
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

// The Tactalon settings pane: eight settings as properties on the shared settings domain,
// the controls of its view bound to them, and the start/stop of the agent through the
// launch-agent property list and the bundle's launcher tool.
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

    void setupDefaults();
    void setupLaunchAgentPropertyList();
    void handleDefaultsChange(const platform::Notification& notification);
    void setDefaultsValue(const QVariant& value, const QString& key);

    // The launch-agent property list's place, and the tool that loads and unloads it.
    static QString launchAgentPropertyListPath();
    QString launcherToolPath() const;
    QString agentProgramPath() const;

public slots:
    void openURL(QObject* sender);
    void startStopAgent(QObject* sender);

private:
    platform::UserDefaults& defaults();
    void handleDistributedDefaultsChange(const platform::Notification& notification);
    void findControls();
    void attachValidators();
    void bindControls();
    void updateStartStopTitle();

    QVariantMap freshLaunchAgentPropertyList() const;
    void readLaunchAgentPropertyList();
    bool setAsideUnreadableFile(const QString& reason);
    void pointAtThisBundlesAgent();
    bool writeLaunchAgentPropertyList();
    bool keepLaunchAgentOriginal();
    void runLauncherTool(const QString& verb);

    QPointer<QAbstractButton> ibHInvert;
    QPointer<QAbstractButton> ibVInvert;
    QPointer<QLineEdit> ibPort;
    QPointer<QAbstractButton> ibStartStopButton;
    QPointer<QAbstractButton> ibRightClickEnabled;
    QPointer<QLineEdit> ibRightClickInterval;
    QPointer<QLineEdit> ibRightClickTolerance;
    QPointer<QAbstractButton> ibScrollingEnabled;
    QPointer<QComboBox> ibScrollingType;
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
