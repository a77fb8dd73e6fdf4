#include "tuio/TuioSource.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

bool isOnSurface(float coordinate)
{
    return std::isfinite(coordinate) && coordinate >= TuioSource::kMinCoordinate &&
           coordinate <= TuioSource::kMaxCoordinate;
}

// TUIO's origin is the surface's top-left; positions are reported mirrored on both axes.
QPointF screenPosition(float x, float y, QSizeF screenSize)
{
    return {(1.0 - x) * screenSize.width(), (1.0 - y) * screenSize.height()};
}

} // namespace

TuioSource::TuioSource(QString name, std::string key)
    : m_name(std::move(name)), m_key(std::move(key))
{}

void TuioSource::setAlive(std::span<const qint32> ids)
{
    m_pendingAlive.assign(ids.begin(), ids.end());
    m_hasPendingAlive = true;
}

bool TuioSource::addSet(qint32 sessionId, float x, float y)
{
    if (!isOnSurface(x) || !isOnSurface(y))
        return false;
    if (m_pendingSets.size() >= kMaxPendingSets) {
        m_pendingOverflow = true;
        return true;
    }
    m_pendingSets.push_back({sessionId, x, y});
    return true;
}

TuioSource::Outcome TuioSource::commitFrame(qint32 fseq, QSizeF screenSize,
                                            std::vector<TuioCursorEvent>& events)
{
    Outcome outcome = Outcome::Committed;
    if (m_pendingOverflow)
        outcome = Outcome::Hostile;
    else if (!acceptsFrame(fseq))
        outcome = Outcome::Late;

    if (outcome == Outcome::Committed) {
        if (m_hasPendingAlive) {
            removeFingersNotIn(m_pendingAlive, events);
            addAndUpdate(m_pendingAlive, screenSize, events);
        } else {
            // A frame without alive moves the fingers it has and adds none.
            m_frameIds.clear();
            for (const Finger& each : m_fingers)
                m_frameIds.push_back(each.sessionId);
            addAndUpdate(m_frameIds, screenSize, events);
        }
    }
    clearPending();
    return outcome;
}

void TuioSource::removeAll(std::vector<TuioCursorEvent>& events)
{
    removeFingersNotIn({}, events);
    clearPending();
}

bool TuioSource::acceptsFrame(qint32 fseq)
{
    if (fseq <= 0) // start, stop and refresh bundles carry no order
        return true;
    const bool restarted = qint64(m_lastFseq) - fseq > kRestartDistance;
    if (m_hasFseq && fseq < m_lastFseq && !restarted)
        return false;
    m_lastFseq = fseq;
    m_hasFseq = true;
    return true;
}

void TuioSource::clearPending()
{
    m_pendingAlive.clear();
    m_pendingSets.clear();
    m_hasPendingAlive = false;
    m_pendingOverflow = false;
}

const TuioSource::PendingSet* TuioSource::pendingSet(qint32 sessionId) const
{
    // The last set of an id in the frame holds.
    const auto found =
        std::find_if(m_pendingSets.rbegin(), m_pendingSets.rend(),
                     [sessionId](const PendingSet& set) { return set.sessionId == sessionId; });
    return found == m_pendingSets.rend() ? nullptr : &*found;
}

TuioSource::Finger* TuioSource::finger(qint32 sessionId)
{
    const auto found =
        std::find_if(m_fingers.begin(), m_fingers.end(),
                     [sessionId](const Finger& each) { return each.sessionId == sessionId; });
    return found == m_fingers.end() ? nullptr : &*found;
}

void TuioSource::removeFingersNotIn(std::span<const qint32> alive,
                                    std::vector<TuioCursorEvent>& events)
{
    const auto lifted = [&](const Finger& each) {
        return std::find(alive.begin(), alive.end(), each.sessionId) == alive.end();
    };
    for (const Finger& each : m_fingers) {
        if (lifted(each))
            events.push_back({TuioCursorEvent::Kind::Removed, each.cursor});
    }
    std::erase_if(m_fingers, lifted);
}

void TuioSource::addAndUpdate(std::span<const qint32> ids, QSizeF screenSize,
                              std::vector<TuioCursorEvent>& events)
{
    m_updated.clear();
    for (const qint32 id : ids) {
        const PendingSet* set = pendingSet(id);
        if (!set) // unchanged, or new but without a place yet: waits for its set
            continue;
        // An id listed twice is one finger: its second listing finds it at this very place.
        const QPointF position = screenPosition(set->x, set->y, screenSize);
        if (Finger* known = finger(id)) {
            if (known->x == set->x && known->y == set->y)
                continue;
            known->x = set->x;
            known->y = set->y;
            known->cursor->setPosition(position);
            m_updated.push_back(known->cursor);
        } else {
            auto cursor = std::make_shared<TuioCursor>(m_name, id, position);
            m_fingers.push_back({id, set->x, set->y, cursor});
            events.push_back({TuioCursorEvent::Kind::Added, std::move(cursor)});
        }
    }
    for (TuioCursorPtr& cursor : m_updated)
        events.push_back({TuioCursorEvent::Kind::Updated, std::move(cursor)});
    m_updated.clear();
}
