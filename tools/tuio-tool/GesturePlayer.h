#pragma once

#include "GesturePlan.h"
#include "tuio/encoder/TuioSender.h"

#include <QObject>
#include <QTimer>
#include <vector>

// Sends a gesture's frames, one per tick at a fixed rate, then reports that it is done (a
// moment after the last frame, so that the sending socket outlives it).
class GesturePlayer : public QObject
{
    Q_OBJECT
public:
    GesturePlayer(TuioSender& sender, std::vector<GesturePlan::Fingers> frames, double rate,
                  QObject* parent = nullptr);

    void start();

signals:
    // `sent` is false when a datagram could not be sent (the error is on standard error).
    void finished(bool sent);

private:
    void sendNextFrame();

    TuioSender& m_sender;
    std::vector<GesturePlan::Fingers> m_frames;
    std::size_t m_next = 0;
    QTimer m_timer;
};
