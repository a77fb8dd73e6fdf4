#pragma once

#include "GestureEngine.h"
#include "platform/EventPoster.h"
#include "platform/MonitorSource.h"
#include "platform/NotificationCenter.h"
#include "tuio/TuioClient.h"
#include "tuio/TuioCursorListener.h"

#include <QList>
#include <QObject>
#include <QPointF>
#include <QRect>
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
// them onto the chosen monitor and turns them into mouse input. The monitor is chosen again
// whenever the desktop's monitors or the setting "outputName" change. Everything runs on the
// main thread's event loop, one callback at a time, so nothing here takes a lock.
class Tactalon_Controller : public QObject, public TuioCursorListener
{
    Q_OBJECT
public:
    using Clock = GestureEngine::Clock;

    // What the controller needs of the desktop; tests hand in their own.
    struct Environment
    {
        platform::EventPoster& eventPoster;
        // The desktop's monitors as they are now (MonitorSource::monitors()).
        std::function<QList<platform::Monitor>()> monitors;
        std::function<Clock::time_point()> now = Clock::now;
    };

    explicit Tactalon_Controller(Environment environment, QObject* parent = nullptr);
    ~Tactalon_Controller() override;

    void setup();
    void initTuioClient();
    void handleDefaultsChange(const platform::Notification& notification);
    void handlePortChange(const platform::Notification& notification);
    // The desktop's monitors changed (MonitorSource::monitorsChanged()).
    void handleMonitorsChange();

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
    // Touches go to this monitor from now on (at start-up, and after each change of the
    // monitors or of the chosen name); `name` is "" when the desktop reports none.
    void monitorChosen(const QString& name, const QRect& geometry);

private:
    // Takes the store's values into the engine: after every read that may have changed them.
    void readSettings();
    // Chooses the monitor again, when the monitors or the name asked for changed since the last
    // time, and hands its frame to the engine, the TUIO client and the poster.
    void measureScreen();
    void applyScreen(const QString& monitorName, const QRectF& frame, const QRect& desktop);
    QString outputName() const;
    void debugLog(const QString& line) const;

    std::unique_ptr<TuioClient> _tuioClient;
    platform::UserDefaults* userDefaults = nullptr;
    double _screenHeight = 0; // screen units
    double _screenWidth = 0;  // screen units
    QPointF m_screenOrigin;   // global display coordinates
    QRect m_desktop;          // every monitor's bounds, global display coordinates

    // What the last measurement saw; nothing measured yet while m_measured is false.
    bool m_measured = false;
    QList<platform::Monitor> m_monitors;
    QString m_outputName;

    Environment m_environment;
    GestureEngine m_gestures;
    TouchFrameRecorder* m_touchRecorder = nullptr;
};
