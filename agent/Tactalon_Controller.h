#pragma once

#include "GestureEngine.h"
#include "platform/EventPoster.h"
#include "platform/NotificationCenter.h"
#include "tuio/TuioClient.h"
#include "tuio/TuioCursorListener.h"

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <functional>
#include <memory>

namespace platform {
class UserDefaults;
}
class TouchFrameRecorder;

// The agent's one object: it wires the parts of the desktop to the gesture engine. It reads the
// settings, listens for TUIO fingers on the stored port, follows the notices by which other
// programs announce a change, and hands every finger to the engine (GestureEngine), which maps
// them onto the main screen and turns them into mouse input. Everything runs on the main
// thread's event loop, one callback at a time, so nothing here takes a lock.
class Tactalon_Controller : public QObject, public TuioCursorListener
{
    Q_OBJECT
public:
    using Clock = GestureEngine::Clock;

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

    TuioClient* tuioClient() const { return _tuioClient.get(); }
    std::size_t cursorCount() const { return m_gestures.cursorCount(); }
    const GestureEngine& gestures() const { return m_gestures; }
    // Told of every frame while set: only while someone watches the touches.
    void setTouchRecorder(TouchFrameRecorder* recorder) { m_touchRecorder = recorder; }

signals:
    // A TUIO client was made (at start-up, and for each port change): listening or not.
    void tuioClientStarted();
    // A fault the log names, in the same words, for status displays.
    void errorReported(const QString& error);

private:
    // Takes the store's values into the engine: after every read that may have changed them.
    void readSettings();
    void debugLog(const QString& line) const;

    std::unique_ptr<TuioClient> _tuioClient;
    platform::UserDefaults* userDefaults = nullptr;
    double _screenHeight = 0; // screen units
    double _screenWidth = 0;  // screen units

    Environment m_environment;
    GestureEngine m_gestures;
    TouchFrameRecorder* m_touchRecorder = nullptr;
};
