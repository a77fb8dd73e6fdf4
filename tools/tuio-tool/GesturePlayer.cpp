#include "GesturePlayer.h"

#include <QTextStream>
#include <chrono>
#include <cmath>

namespace {

// A listener on loopback hears a datagram only while the socket that sent it is open: the
// socket stays this long after the last frame, for a listener that is slow to read.
constexpr auto kLingerAfterLastFrame = std::chrono::milliseconds(200);

} // namespace

GesturePlayer::GesturePlayer(TuioSender& sender, std::vector<GesturePlan::Fingers> frames,
                             double rate, QObject* parent)
    : QObject(parent), m_sender(sender), m_frames(std::move(frames))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(int(std::lround(1000.0 / rate))); // ms
    connect(&m_timer, &QTimer::timeout, this, &GesturePlayer::sendNextFrame);
}

void GesturePlayer::start()
{
    sendNextFrame();
    m_timer.start();
}

void GesturePlayer::sendNextFrame()
{
    if (m_next >= m_frames.size()) {
        m_timer.stop();
        QTimer::singleShot(kLingerAfterLastFrame, this, [this] { emit finished(true); });
        return;
    }
    const GesturePlan::Fingers& fingers = m_frames[m_next++];
    std::vector<qint32> alive;
    for (const TuioSet& finger : fingers)
        alive.push_back(finger.sessionId);
    if (!m_sender.sendFrame(std::move(alive), fingers)) {
        QTextStream(stderr) << "tactalon-tuio: cannot send: " << m_sender.errorString() << Qt::endl;
        m_timer.stop();
        emit finished(false);
    }
}
