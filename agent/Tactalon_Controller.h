#pragma once

#include "platform/EventPoster.h"
#include "platform/NotificationCenter.h"
#include "tuio/TuioClient.h"
#include "tuio/TuioCursorListener.h"

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class UserDefaults;
}

// The agent's one object: it listens for TUIO fingers, keeps them in order of arrival, maps
// them onto the main screen and turns them into mouse input (one finger clicks and drags, a
// two-finger tap right-clicks, two fingers scroll, a third finger cancels). Everything runs on
// the main thread's event loop, one callback at a time, so nothing here takes a lock.
class Tactalon_Controller : public QObject, public TuioCursorListener
{
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    // What the controller needs of the desktop; tests hand in their own.
    struct Environment
    {
        platform::EventPoster& eventPoster;
        std::function<QRectF()> mainScreenFrame;
        std::function<Clock::time_point()> now = Clock::now;
    };

    explicit Tactalon_Controller(Environment environment, QObject* parent = nullptr);
    ~Tactalon_Controller() override;

    void setup();
    void initTuioClient();
    void handleDefaultsChange(const platform::Notification& notification);
    void handlePortChange(const platform::Notification& notification);

    void tuioCursorAdded(const TuioCursorPtr& cursor) override;
    void tuioCursorUpdated(const TuioCursorPtr& cursor) override;
    void tuioCursorRemoved(const TuioCursorPtr& cursor) override;
    void tuioCursorFrameFinished() override;

    QPointF getPoint(const TuioCursorPtr& cursor) const;
    static QPointF centerPoint(QPointF point1, QPointF point2);
    static float distancePoint(QPointF point1, QPointF point2);

    TuioClient* tuioClient() const { return _tuioClient.get(); }
    std::size_t cursorCount() const { return _tuioCursors.size(); }

private:
    struct CursorRecord
    {
        TuioCursorPtr cursor;
    };

    bool debugLogging() const;
    void debugLog(const QString& line) const;
    QPointF centreOfFirstTwo() const;
    double secondsSinceRightClickStart() const;
    double rightClickTimeLimit() const;
    bool scrollingEnabled() const;
    void liftFingersOfReplacedSource();

    void endRightClickCandidateIfTooLate();
    void postRightClickIfTapped();
    void scroll();
    void pressLoneFinger();

    void post(platform::MouseEventType type, QPointF location, platform::MouseButton button);

    std::unique_ptr<TuioClient> _tuioClient;
    platform::UserDefaults* userDefaults = nullptr;
    double _screenHeight = 0; // screen units
    double _screenWidth = 0;  // screen units
    std::vector<CursorRecord> _tuioCursors;
    bool _rightClickCandidate = false;
    QPointF _rightClickPoint;
    std::optional<Clock::time_point> _rightClickStartDate;
    bool _leftClick = false;

    Environment m_environment;
};
