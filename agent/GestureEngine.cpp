#include "GestureEngine.h"

#include "platform/Log.h"
#include "settings/SettingsKeys.h"

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

} // namespace

GestureEngine::GestureEngine(platform::EventPoster& eventPoster,
                             std::function<Clock::time_point()> now)
    : m_eventPoster(eventPoster), m_now(now ? std::move(now) : Clock::now)
{}

void GestureEngine::setScreenFrame(const QRectF& frame)
{
    _screenWidth = frame.width();
    _screenHeight = frame.height();
    m_screenOrigin = frame.topLeft();
}

// --- Cursor tracking and screen mapping ------------------------------------------------------

QPointF GestureEngine::getPoint(const TuioCursorPtr& cursor) const
{
    QPointF point = cursor->position();
    if (m_settings.vInvert)
        point.setY(_screenHeight - point.y());
    if (m_settings.hInvert)
        point.setX(_screenWidth - point.x());
    return point;
}

QPointF GestureEngine::centerPoint(QPointF point1, QPointF point2)
{
    return {(point1.x() + point2.x()) / 2, (point1.y() + point2.y()) / 2};
}

float GestureEngine::distancePoint(QPointF point1, QPointF point2)
{
    return static_cast<float>(std::hypot(point1.x() - point2.x(), point1.y() - point2.y()));
}

QPointF GestureEngine::centreOfFirstTwo() const
{
    return centerPoint(getPoint(_tuioCursors[0].cursor), getPoint(_tuioCursors[1].cursor));
}

bool GestureEngine::wasLifted(const TuioCursorPtr& cursor) const
{
    return std::ranges::any_of(m_liftedCursors,
                               [&cursor](const auto& lifted) { return lifted.lock() == cursor; });
}

void GestureEngine::liftAllFingers()
{
    // A lifted finger that no one else holds any more has gone with its source.
    std::erase_if(m_liftedCursors, [](const auto& lifted) { return lifted.expired(); });
    while (!_tuioCursors.empty()) {
        const TuioCursorPtr lifted = _tuioCursors.front().cursor;
        tuioCursorRemoved(lifted);
        m_liftedCursors.push_back(lifted);
    }
    _leftClick = false;
    _rightClickCandidate = false;
    _rightClickStartDate.reset();
    m_eventPoster.flush();
}

// --- Gestures --------------------------------------------------------------------------------

void GestureEngine::tuioCursorAdded(const TuioCursorPtr& cursor)
{
    _tuioCursors.push_back({cursor});
    const std::size_t count = _tuioCursors.size();
    if (count == 1) {
        _leftClick = true;
    } else if (count == 2) {
        _leftClick = false;
        _rightClickCandidate = true;
        _rightClickPoint = centreOfFirstTwo();
        _rightClickStartDate = m_now();
    } else {
        _rightClickCandidate = false;
        _leftClick = false;
    }
}

void GestureEngine::tuioCursorUpdated(const TuioCursorPtr& cursor)
{
    if (wasLifted(cursor))
        return;
    const std::size_t count = _tuioCursors.size();
    if (count == 1) {
        post(MouseEventType::LeftMouseDragged, getPoint(cursor), MouseButton::Left);
        return;
    }
    // Only a right-click candidate looks at the centre; while scrolling an update posts nothing.
    if (count < 2 || !_rightClickCandidate)
        return;

    const QPointF centre = centreOfFirstTwo();
    if (distancePoint(_rightClickPoint, centre) > m_settings.rightClickTolerance) {
        _rightClickCandidate = false;
        debugLog("moved too much");
        return;
    }
    _rightClickPoint = centre;
    post(MouseEventType::MouseMoved, centre, MouseButton::Left);
}

void GestureEngine::tuioCursorRemoved(const TuioCursorPtr& cursor)
{
    // Held here, as the caller's reference may be to the very record that is erased.
    const TuioCursorPtr removed = cursor;
    if (wasLifted(removed)) {
        std::erase_if(m_liftedCursors,
                      [&removed](const auto& lifted) { return lifted.lock() == removed; });
        return;
    }
    std::erase_if(_tuioCursors,
                  [&removed](const CursorRecord& record) { return record.cursor == removed; });
    post(MouseEventType::LeftMouseUp, getPoint(removed), MouseButton::Left);
}

void GestureEngine::tuioCursorFrameFinished()
{
    endRightClickCandidateIfTooLate();
    postRightClickIfTapped();
    scroll();
    pressLoneFinger();
    m_eventPoster.flush();
}

void GestureEngine::endRightClickCandidateIfTooLate()
{
    if (!_rightClickCandidate)
        return;
    if (secondsSinceRightClickStart() > m_settings.rightClickTimeInterval) {
        debugLog("To much Time needed for rightclick");
        _rightClickCandidate = false;
    }
}

void GestureEngine::postRightClickIfTapped()
{
    if (_tuioCursors.size() > 1 || !_rightClickCandidate)
        return;
    if (secondsSinceRightClickStart() < m_settings.rightClickTimeInterval &&
        m_settings.rightClickEnabled) {
        debugLog("Right click!");
        post(MouseEventType::RightMouseDown, _rightClickPoint, MouseButton::Right);
        post(MouseEventType::RightMouseUp, _rightClickPoint, MouseButton::Right);
        _rightClickStartDate.reset();
        _rightClickCandidate = false;
    }
}

void GestureEngine::scroll()
{
    if (_tuioCursors.size() < 2 || _rightClickCandidate)
        return;
    const QPointF centre = centreOfFirstTwo();
    const qint32 amount = truncatedScrollAmount(centre.y() - _rightClickPoint.y());
    if (m_settings.scrollingType == IncrementalScrolling)
        _rightClickPoint = centre;
    if (m_settings.scrollingEnabled)
        m_eventPoster.postScrollWheelEvent(amount);
}

void GestureEngine::pressLoneFinger()
{
    if (_tuioCursors.size() != 1 || !_leftClick)
        return;
    post(MouseEventType::LeftMouseDown, getPoint(_tuioCursors.back().cursor), MouseButton::Left);
    _leftClick = false;
}

double GestureEngine::secondsSinceRightClickStart() const
{
    if (!_rightClickStartDate)
        return 0;
    return std::chrono::duration<double>(m_now() - *_rightClickStartDate).count();
}

void GestureEngine::post(MouseEventType type, QPointF location, MouseButton button)
{
    m_eventPoster.postMouseEvent(type, m_screenOrigin + location, button);
}

void GestureEngine::debugLog(const char* line) const
{
    if (m_settings.debugLogging)
        platform::logLine(QString::fromLatin1(line));
}
