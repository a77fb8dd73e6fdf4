#include "Tactalon_Controller.h"

#include "TouchFrameRecorder.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/MonitorChoice.h"
#include "platform/UserDefaults.h"
#include "settings/DefaultsMerge.h"
#include "settings/SettingsKeys.h"

#include <QSizeF>

Tactalon_Controller::Tactalon_Controller(Environment environment, QObject* parent)
    : QObject(parent), m_environment(std::move(environment)),
      m_gestures(m_environment.eventPoster, m_environment.now)
{
    if (!m_environment.monitors)
        m_environment.monitors = [] { return QList<platform::Monitor>(); };
}

Tactalon_Controller::~Tactalon_Controller()
{
    // The client first, so that no callback can reach a half-destroyed controller.
    _tuioClient.reset();
}

void Tactalon_Controller::setup()
{
    userDefaults = &platform::UserDefaults::standardUserDefaults();
    userDefaults->addSuiteNamed(kDomainName);
    readSettings();

    platform::NotificationCenter::defaultCenter().addObserver(
        this, platform::kUserDefaultsDidChangeNotification,
        [this](const platform::Notification& notification) { handleDefaultsChange(notification); });
    debugLog(QStringLiteral("Registered with notificationcenter"));

    auto& distributedCenter = platform::DistributedNotificationCenter::defaultCenter();
    distributedCenter.addObserver(
        this, kPortDidChangeNotification,
        [this](const platform::Notification& notification) { handlePortChange(notification); });
    distributedCenter.addObserver(
        this, kDefaultsDidChangeNotification,
        [this](const platform::Notification& notification) { handleDefaultsChange(notification); });
    debugLog(QStringLiteral("Registered Distributet Notification"));

    mergeDefaults(*userDefaults, agentDefaults());
    readSettings();

    measureScreen();
    initTuioClient();
    m_gestures.cancelRightClickCandidate();
}

void Tactalon_Controller::initTuioClient()
{
    const qint32 port = m_gestures.settings().port;
    const QVariant listenAddress = userDefaults->objectForKey(kTuioListenAddressStr);
    _tuioClient = std::make_unique<TuioClient>(
        port, QSizeF(_screenWidth, _screenHeight),
        listenAddress.typeId() == QMetaType::QString ? listenAddress.toString() : QString());
    debugLog(QString::asprintf("started TuioClient on Port: %i", port));
    _tuioClient->setTuioCursorDelegate(this);
    emit tuioClientStarted();
}

void Tactalon_Controller::handleDefaultsChange(const platform::Notification&)
{
    userDefaults->synchronize();
    readSettings();
    measureScreen();
}

void Tactalon_Controller::handleMonitorsChange()
{
    measureScreen();
}

void Tactalon_Controller::handlePortChange(const platform::Notification& notification)
{
    debugLog(QStringLiteral("Port changed: %1\n").arg(notification.description()));
    // The old source can never remove the fingers it reported: left down they would be ghosts
    // that every later gesture counts.
    m_gestures.liftAllFingers();
    _tuioClient.reset();
    // Our store shows another program's write only after a synchronize; without it the new
    // client would come up on the old port.
    userDefaults->synchronize();
    readSettings();
    measureScreen();
    initTuioClient();
}

void Tactalon_Controller::readSettings()
{
    m_gestures.setSettings(AgentSettings::fromDefaults(*userDefaults));
}

void Tactalon_Controller::measureScreen()
{
    QList<platform::Monitor> monitors = m_environment.monitors();
    QString name = outputName();
    if (m_measured && monitors == m_monitors && name == m_outputName)
        return;
    const platform::MonitorChoice choice = platform::chooseMonitor(monitors, name);
    const QRect desktop = platform::desktopBounds(monitors);
    const bool first = !m_measured;
    m_measured = true;
    m_monitors = std::move(monitors);
    m_outputName = std::move(name);
    if (!choice.notice.isEmpty())
        platform::logLine(choice.notice);

    const QRectF frame = choice.monitor.geometry;
    const QRectF current(m_screenOrigin, QSizeF(_screenWidth, _screenHeight));
    if (!first && frame == current && desktop == m_desktop)
        return;
    applyScreen(choice.monitor.name, frame, desktop);
}

// Fingers down were placed on the old screen: they are lifted there, so that no button stays
// held and no drag jumps across the desktop; the next touch starts on the new one.
void Tactalon_Controller::applyScreen(const QString& monitorName, const QRectF& frame,
                                      const QRect& desktop)
{
    if (m_gestures.cursorCount() > 0)
        m_gestures.liftAllFingers();
    _screenWidth = frame.width();
    _screenHeight = frame.height();
    m_screenOrigin = frame.topLeft();
    m_desktop = desktop;
    m_gestures.setScreenFrame(frame);
    if (_tuioClient)
        _tuioClient->setScreenSize(frame.size());
    m_environment.eventPoster.setDesktop(desktop);
    if (frame.isEmpty()) {
        const QString error = QStringLiteral("No main screen found: no display is reachable and "
                                             "no connected monitor is known. Touches cannot be "
                                             "placed.");
        platform::logWarning(error);
        emit errorReported(error);
    }
    emit monitorChosen(monitorName, frame.toRect());
    debugLog(QString::asprintf("Resolution: %g x %g", _screenWidth, _screenHeight));
}

QString Tactalon_Controller::outputName() const
{
    const QVariant name = userDefaults->objectForKey(kOutputNameStr);
    return name.typeId() == QMetaType::QString ? name.toString() : QString();
}

void Tactalon_Controller::tuioCursorAdded(const TuioCursorPtr& cursor)
{
    m_gestures.tuioCursorAdded(cursor);
}

void Tactalon_Controller::tuioCursorUpdated(const TuioCursorPtr& cursor)
{
    m_gestures.tuioCursorUpdated(cursor);
}

void Tactalon_Controller::tuioCursorRemoved(const TuioCursorPtr& cursor)
{
    m_gestures.tuioCursorRemoved(cursor);
}

void Tactalon_Controller::tuioCursorFrameFinished()
{
    m_gestures.tuioCursorFrameFinished();
    if (m_touchRecorder)
        m_touchRecorder->fingersChanged();
}

void Tactalon_Controller::debugLog(const QString& line) const
{
    if (m_gestures.settings().debugLogging)
        platform::logLine(line);
}
