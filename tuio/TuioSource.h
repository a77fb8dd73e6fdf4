#pragma once

#include "tuio/TuioCursor.h"

#include <QSizeF>
#include <QString>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

// What one committed frame did to one finger, in the order the listener hears it.
struct TuioCursorEvent
{
    enum class Kind { Removed, Added, Updated };
    Kind kind;
    TuioCursorPtr cursor;
};

// The fingers of one tracker and the frame it is sending. `alive` and `set` messages are
// gathered until `fseq`, which decides whether the frame commits or is dropped as late.
class TuioSource
{
public:
    // Frames further behind than this mean the tracker restarted its count.
    static constexpr qint32 kRestartDistance = 100; // frames
    // Bounds a sender that never ends its frame (sets without fseq).
    static constexpr std::size_t kMaxPendingSets = 1024;
    // Normalised coordinates outside this range are not a finger on the surface.
    static constexpr float kMinCoordinate = -1.0f;
    static constexpr float kMaxCoordinate = 2.0f;

    enum class Outcome { Committed, Late, Hostile };

    // What became of this source's frames, counted by its client.
    struct Counters
    {
        quint64 committedFrames = 0;
        quint64 lateFrames = 0;
        quint64 malformed = 0; // frames dropped whole as hostile
    };

    // `name` is what cursors report as their source; `key` tells named sources apart
    // (empty for a source known only by its sender address).
    TuioSource(QString name, std::string key);

    const QString& name() const { return m_name; }
    const std::string& key() const { return m_key; }
    bool isNamed() const { return !m_key.empty(); }
    std::size_t fingerCount() const { return m_fingers.size(); }
    // When the source last sent anything, on the owner's clock (for forgetting the oldest).
    quint64 lastSeen() const { return m_lastSeen; }
    void setLastSeen(quint64 tick) { m_lastSeen = tick; }
    Counters& counters() { return m_counters; }
    const Counters& counters() const { return m_counters; }

    void setAlive(std::span<const qint32> ids);
    // False when the set was dropped for non-finite or absurd coordinates.
    bool addSet(qint32 sessionId, float x, float y);

    // Ends the gathered frame with sequence number `fseq` (<= 0: unsequenced). A committed
    // frame appends its removes, then adds, then updates to `events`, positions in the units
    // of `screenSize`, mirrored on both axes. The gathered messages are cleared in any case.
    Outcome commitFrame(qint32 fseq, QSizeF screenSize, std::vector<TuioCursorEvent>& events);
    // Lifts every finger, as when the source is forgotten.
    void removeAll(std::vector<TuioCursorEvent>& events);

private:
    struct Finger
    {
        qint32 sessionId;
        float x;
        float y;
        TuioCursorPtr cursor;
    };
    struct PendingSet
    {
        qint32 sessionId;
        float x;
        float y;
    };

    bool acceptsFrame(qint32 fseq);
    void clearPending();
    const PendingSet* pendingSet(qint32 sessionId) const;
    Finger* finger(qint32 sessionId);
    void removeFingersNotIn(std::span<const qint32> alive, std::vector<TuioCursorEvent>& events);
    void addAndUpdate(std::span<const qint32> ids, QSizeF screenSize,
                      std::vector<TuioCursorEvent>& events);

    QString m_name;
    std::string m_key;
    std::vector<Finger> m_fingers; // in order of arrival
    std::vector<qint32> m_pendingAlive;
    std::vector<PendingSet> m_pendingSets;
    std::vector<qint32> m_frameIds;
    std::vector<TuioCursorPtr> m_updated;
    bool m_hasPendingAlive = false;
    bool m_pendingOverflow = false;
    bool m_hasFseq = false;
    qint32 m_lastFseq = 0;
    quint64 m_lastSeen = 0;
    Counters m_counters;
};
