#include "TouchFrameRecorder.h"

#include <algorithm>

TouchFrameRecorder::TouchFrameRecorder(FingerSource fingers, QObject* parent)
    : QObject(parent), m_fingers(std::move(fingers))
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire early, which would make more than 60 frames a second.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TouchFrameRecorder::send);
}

void TouchFrameRecorder::fingersChanged()
{
    schedule();
}

void TouchFrameRecorder::gesture(const QString& kind, QPointF point)
{
    if (m_gestures.size() < kMaxGestures)
        m_gestures.append({kind, point});
    schedule();
}

void TouchFrameRecorder::scrolled(qint32 pixels)
{
    const QList<platform::TouchFinger> fingers =
        m_fingers ? m_fingers() : QList<platform::TouchFinger>{};
    QPointF centre;
    if (fingers.size() >= 2)
        centre = (fingers[0].position + fingers[1].position) / 2;
    gesture(pixels > 0 ? QStringLiteral("scroll-up") : QStringLiteral("scroll-down"), centre);
}

void TouchFrameRecorder::clear()
{
    m_timer.stop();
    m_gestures.clear();
}

// Right away when the last frame is long past, else when the interval since it has passed.
void TouchFrameRecorder::schedule()
{
    if (m_timer.isActive())
        return;
    const qint64 elapsed = m_sinceLastFrame.isValid() ? m_sinceLastFrame.elapsed() : kMinIntervalMs;
    m_timer.start(int(std::max<qint64>(0, kMinIntervalMs - elapsed)));
}

void TouchFrameRecorder::send()
{
    m_sinceLastFrame.start();
    emit touchFrame(m_fingers ? m_fingers() : QList<platform::TouchFinger>{},
                    std::exchange(m_gestures, {}));
}
