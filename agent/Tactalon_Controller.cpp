#include "Tactalon_Controller.h"

#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "settings/DefaultsMerge.h"
#include "settings/SettingsKeys.h"

#include <QSizeF>
#include <algorithm>
#include <cmath>
#include <limits>

using platform::MouseButton;
using platform::MouseEventType;

namespace {

// The vertical scroll of a step, cut toward zero. Saturated, so that a far-off centre can
// never wrap around into a scroll the other way; NaN scrolls nothing.
qint32 truncatedScrollAmount(double pixels)
{
    if (std::isnan(pixels))
        return 0;
    constexpr double lowest = std::numeric_limits<qint32>::min();
    constexpr double highest = std::numeric_limits<qint32>::max();
    return static_cast<qint32>(std::trunc(std::clamp(pixels, lowest, highest)));
}

// A stored port beyond 32 bits saturates rather than wrapping onto some unrelated valid port.
qint32 portFromStoredValue(qint64 stored)
{
    return static_cast<qint32>(std::clamp<qint64>(stored, std::numeric_limits<qint32>::min(),
                                                  std::numeric_limits<qint32>::max()));
}

} // namespace

Tactalon_Controller::Tactalon_Controller(Environment environment, QObject* parent)
    : QObject(parent), m_environment(std::move(environment))
{
    if (!m_environment.mainScreenFrame)
        m_environment.mainScreenFrame = [] { return QRectF(); };
}

Tactalon_Controller::~Tactalon_Controller()
{
    // The client first, so that no callback can reach a half-destroyed controller.
    _tuioClient.reset();
    _tuioCursors.clear();
    _rightClickStartDate.reset();
}

void Tactalon_Controller::setup()
{
    userDefaults = &platform::UserDefaults::standardUserDefaults();
    userDefaults->addSuiteNamed(kDomainName);

    platform::NotificationCenter::defaultCenter().addObserver(
        this, kUserDefaultsDidChangeNotification,
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

    const QRectF screen = m_environment.mainScreenFrame();
    _screenHeight = screen.height();
    _screenWidth = screen.width();
    if (screen.isEmpty())
        platform::logLine(QStringLiteral("No main screen found: no display is reachable and no "
                                         "connected monitor is known. Touches cannot be placed."));

    _tuioCursors.clear();
    debugLog(QString::asprintf("Resolution: %g x %g", _screenWidth, _screenHeight));
    initTuioClient();
    _rightClickCandidate = false;
}

void Tactalon_Controller::initTuioClient()
{
    const qint32 port = portFromStoredValue(userDefaults->integerForKey(kPortStr));
    const QVariant listenAddress = userDefaults->objectForKey(kTuioListenAddressStr);
    _tuioClient = std::make_unique<TuioClient>(
        port, QSizeF(_screenWidth, _screenHeight),
        listenAddress.typeId() == QMetaType::QString ? listenAddress.toString() : QString());
    debugLog(QString::asprintf("started TuioClient on Port: %i",
                               portFromStoredValue(userDefaults->integerForKey(kPortStr))));
    _tuioClient->setTuioCursorDelegate(this);
}

void Tactalon_Controller::handleDefaultsChange(const platform::Notification&)
{
    userDefaults->synchronize();
}

void Tactalon_Controller::handlePortChange(const platform::Notification& notification)
{
    debugLog(QStringLiteral("Port changed: %1\n").arg(notification.description()));
    liftFingersOfReplacedSource();
    _tuioClient.reset();
    // Our store shows another program's write only after a synchronize; without it the new
    // client would come up on the old port.
    userDefaults->synchronize();
    initTuioClient();
}

// The old source can never remove the fingers it reported: left in the list they would be
// ghosts that every later gesture counts. Lift each as its source would have (its left
// button goes up at its last point), and start again from idle.
void Tactalon_Controller::liftFingersOfReplacedSource()
{
    while (!_tuioCursors.empty())
        tuioCursorRemoved(_tuioCursors.front().cursor);
    _leftClick = false;
    _rightClickCandidate = false;
    _rightClickStartDate.reset();
}

// --- Cursor tracking and screen mapping ------------------------------------------------------

QPointF Tactalon_Controller::getPoint(const TuioCursorPtr& cursor) const
{
    QPointF point = cursor->position();
    if (userDefaults->boolForKey(kVInvertStr))
        point.setY(_screenHeight - point.y());
    if (userDefaults->boolForKey(kHInvertStr))
        point.setX(_screenWidth - point.x());
    return point;
}

QPointF Tactalon_Controller::centerPoint(QPointF point1, QPointF point2)
{
    return {(point1.x() + point2.x()) / 2, (point1.y() + point2.y()) / 2};
}

float Tactalon_Controller::distancePoint(QPointF point1, QPointF point2)
{
    return static_cast<float>(std::hypot(point1.x() - point2.x(), point1.y() - point2.y()));
}

QPointF Tactalon_Controller::centreOfFirstTwo() const
{
    return centerPoint(getPoint(_tuioCursors[0].cursor), getPoint(_tuioCursors[1].cursor));
}

// --- Gestures --------------------------------------------------------------------------------

void Tactalon_Controller::tuioCursorAdded(const TuioCursorPtr& cursor)
{
    _tuioCursors.push_back({cursor});
    const std::size_t count = _tuioCursors.size();
    if (count == 1) {
        _leftClick = true;
    } else if (count == 2) {
        _leftClick = false;
        _rightClickCandidate = true;
        _rightClickPoint = centreOfFirstTwo();
        _rightClickStartDate = m_environment.now();
    } else {
        _rightClickCandidate = false;
        _leftClick = false;
    }
}

void Tactalon_Controller::tuioCursorUpdated(const TuioCursorPtr& cursor)
{
    const std::size_t count = _tuioCursors.size();
    if (count == 1) {
        post(MouseEventType::LeftMouseDragged, getPoint(cursor), MouseButton::Left);
        return;
    }
    // Only a right-click candidate looks at the centre; while scrolling an update posts nothing.
    if (count < 2 || !_rightClickCandidate)
        return;

    const QPointF centre = centreOfFirstTwo();
    const auto tolerance = static_cast<float>(
        platform::plistIntValue(userDefaults->valueForKey(kRightClickToleranceStr)));
    if (distancePoint(_rightClickPoint, centre) > tolerance) {
        _rightClickCandidate = false;
        debugLog(QStringLiteral("moved too much"));
        return;
    }
    _rightClickPoint = centre;
    post(MouseEventType::MouseMoved, centre, MouseButton::Left);
}

void Tactalon_Controller::tuioCursorRemoved(const TuioCursorPtr& cursor)
{
    // Held here, as the caller's reference may be to the very record that is erased.
    const TuioCursorPtr removed = cursor;
    std::erase_if(_tuioCursors,
                  [&removed](const CursorRecord& record) { return record.cursor == removed; });
    post(MouseEventType::LeftMouseUp, getPoint(removed), MouseButton::Left);
}

void Tactalon_Controller::tuioCursorFrameFinished()
{
    endRightClickCandidateIfTooLate();
    postRightClickIfTapped();
    scroll();
    pressLoneFinger();
}

void Tactalon_Controller::endRightClickCandidateIfTooLate()
{
    if (!_rightClickCandidate)
        return;
    if (secondsSinceRightClickStart() > rightClickTimeLimit()) {
        debugLog(QStringLiteral("To much Time needed for rightclick"));
        _rightClickCandidate = false;
    }
}

void Tactalon_Controller::postRightClickIfTapped()
{
    if (_tuioCursors.size() > 1 || !_rightClickCandidate)
        return;
    if (secondsSinceRightClickStart() < rightClickTimeLimit() &&
        userDefaults->boolForKey(kRightClickEnabledStr)) {
        debugLog(QStringLiteral("Right click!"));
        post(MouseEventType::RightMouseDown, _rightClickPoint, MouseButton::Right);
        post(MouseEventType::RightMouseUp, _rightClickPoint, MouseButton::Right);
        _rightClickStartDate.reset();
        _rightClickCandidate = false;
    }
}

void Tactalon_Controller::scroll()
{
    if (_tuioCursors.size() < 2 || _rightClickCandidate)
        return;
    const QPointF centre = centreOfFirstTwo();
    const qint32 amount = truncatedScrollAmount(centre.y() - _rightClickPoint.y());
    if (userDefaults->integerForKey(kScrollingTypeStr) == IncrementalScrolling)
        _rightClickPoint = centre;
    if (scrollingEnabled())
        m_environment.eventPoster.postScrollWheelEvent(amount);
}

void Tactalon_Controller::pressLoneFinger()
{
    if (_tuioCursors.size() != 1 || !_leftClick)
        return;
    post(MouseEventType::LeftMouseDown, getPoint(_tuioCursors.back().cursor), MouseButton::Left);
    _leftClick = false;
}

double Tactalon_Controller::secondsSinceRightClickStart() const
{
    if (!_rightClickStartDate)
        return 0;
    return std::chrono::duration<double>(m_environment.now() - *_rightClickStartDate).count();
}

double Tactalon_Controller::rightClickTimeLimit() const
{
    return platform::plistFloatValue(userDefaults->valueForKey(kRightClickTimeIntervalStr));
}

// The pane's scrolling switch. Only a stored false turns scrolling off, so that a domain
// edited by hand without the key scrolls as it always did.
bool Tactalon_Controller::scrollingEnabled() const
{
    const QVariant stored = userDefaults->objectForKey(kScrollingEnabledStr);
    return !stored.isValid() || platform::plistBoolValue(stored);
}

void Tactalon_Controller::post(MouseEventType type, QPointF location, MouseButton button)
{
    m_environment.eventPoster.postMouseEvent(type, location, button);
}

bool Tactalon_Controller::debugLogging() const
{
    return userDefaults && platform::plistBoolValue(userDefaults->objectForKey(kDebugLogging));
}

void Tactalon_Controller::debugLog(const QString& line) const
{
    if (debugLogging())
        platform::logLine(line);
}
