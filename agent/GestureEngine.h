#pragma once

#include "platform/EventPoster.h"
#include "settings/AgentSettings.h"
#include "tuio/TuioCursorListener.h"

#include <QPointF>
#include <QRectF>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The fingers and the gestures, and nothing else: one finger clicks and drags, a two-finger
// tap right-clicks, two fingers scroll, a third finger cancels. It keeps the fingers in order
// of arrival, maps them onto the screen and posts mouse input through the poster it is given.
// It knows no socket, bus, file or settings store: settings, screen frame and clock are handed
// in, so the same code runs in the agent and, with plain values, in its tests. Points are
// worked out in screen units from the screen's top-left corner; what is posted is offset by the
// screen's origin, into the desktop's global coordinates.
//
// Callbacks follow the TUIO frame: a frame's adds, updates and removes, then one
// tuioCursorFrameFinished. Button releases and pointer motion are posted as they come; the left
// press, the right click, the end of a right-click candidate and scrolling at frame ends. Each
// frame end, and each lifting of all fingers, flushes the poster once: whatever the frame
// posted reaches the desktop together.
class GestureEngine : public TuioCursorListener
{
public:
    using Clock = std::chrono::steady_clock;

    GestureEngine(platform::EventPoster& eventPoster, std::function<Clock::time_point()> now);

    void setSettings(const AgentSettings& settings) { m_settings = settings; }
    const AgentSettings& settings() const { return m_settings; }
    // The monitor touches go to, in global display coordinates.
    void setScreenFrame(const QRectF& frame);

    void tuioCursorAdded(const TuioCursorPtr& cursor) override;
    void tuioCursorUpdated(const TuioCursorPtr& cursor) override;
    void tuioCursorRemoved(const TuioCursorPtr& cursor) override;
    void tuioCursorFrameFinished() override;

    // For a source that goes away with fingers down, or a screen that changes under them: each
    // is lifted as its source would have lifted it (left button up at its last point), and the
    // gestures start again from idle. Later updates and the removal of a finger lifted so are
    // ignored, should its source still report it.
    void liftAllFingers();
    // Only the candidate flag: the agent's start-up clears it once more as its last step.
    void cancelRightClickCandidate() { _rightClickCandidate = false; }

    QPointF getPoint(const TuioCursorPtr& cursor) const;
    static QPointF centerPoint(QPointF point1, QPointF point2);
    static float distancePoint(QPointF point1, QPointF point2);

    std::size_t cursorCount() const { return _tuioCursors.size(); }
    // Calls visit(sessionId, point) for each finger down, in order of arrival, with the point
    // it maps to on the screen.
    template <typename Visit> void forEachFinger(Visit&& visit) const
    {
        for (const CursorRecord& record : _tuioCursors)
            visit(record.cursor->sessionId(), getPoint(record.cursor));
    }

private:
    struct CursorRecord
    {
        TuioCursorPtr cursor;
    };

    QPointF centreOfFirstTwo() const;
    bool wasLifted(const TuioCursorPtr& cursor) const;
    double secondsSinceRightClickStart() const;
    void debugLog(const char* line) const;

    void endRightClickCandidateIfTooLate();
    void postRightClickIfTapped();
    void scroll();
    void pressLoneFinger();

    void post(platform::MouseEventType type, QPointF location, platform::MouseButton button);

    platform::EventPoster& m_eventPoster;
    std::function<Clock::time_point()> m_now;
    AgentSettings m_settings;
    double _screenHeight = 0; // screen units
    double _screenWidth = 0;  // screen units
    QPointF m_screenOrigin;   // global display coordinates
    std::vector<CursorRecord> _tuioCursors;
    // Lifted by liftAllFingers() while their source still reports them.
    std::vector<std::weak_ptr<TuioCursor>> m_liftedCursors;
    bool _rightClickCandidate = false;
    QPointF _rightClickPoint; // screen units
    std::optional<Clock::time_point> _rightClickStartDate;
    bool _leftClick = false;
};
