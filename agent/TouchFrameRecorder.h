#pragma once

#include "platform/agentbus/AgentStatus.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QTimer>
#include <functional>

// Gathers what viewers see between two touch frames: the gestures as they are posted, and a
// note that the fingers moved. A single-shot timer sends them as one frame, with the fingers as
// they are when it fires, at most 60 a second. Only fed while a viewer is registered: while
// nobody is, the agent does not call it at all.
class TouchFrameRecorder : public QObject
{
    Q_OBJECT
public:
    using FingerSource = std::function<QList<platform::TouchFinger>()>;

    static constexpr int kMinIntervalMs = 17; // at most 60 frames a second
    // Bounds the gestures of one frame under a flood of datagrams: further ones are left out.
    static constexpr qsizetype kMaxGestures = 1024;

    explicit TouchFrameRecorder(FingerSource fingers, QObject* parent = nullptr);

    // The fingers may have changed: a frame goes out soon.
    void fingersChanged();
    void gesture(const QString& kind, QPointF point);
    // A scroll by `pixels` (positive: up), placed at the centre of the first two fingers.
    void scrolled(qint32 pixels);
    // Drops what was gathered and sends nothing: the last viewer left.
    void clear();

signals:
    void touchFrame(const QList<platform::TouchFinger>& fingers,
                    const QList<platform::TouchGesture>& gestures);

private:
    void schedule();
    void send();

    FingerSource m_fingers;
    QTimer m_timer;
    QElapsedTimer m_sinceLastFrame;
    QList<platform::TouchGesture> m_gestures;
};
