#pragma once

#include "tuio/TuioCursorListener.h"

#include <QStringList>
#include <functional>
#include <vector>

// Writes each callback down as a line: "add 7 750,400" (session id, position at that moment),
// "update ...", "remove ...", "frame"; and keeps the cursor objects it was given.
class RecordingTuioListener : public TuioCursorListener
{
public:
    void tuioCursorAdded(const TuioCursorPtr& cursor) override { record("add", cursor); }
    void tuioCursorUpdated(const TuioCursorPtr& cursor) override { record("update", cursor); }
    void tuioCursorRemoved(const TuioCursorPtr& cursor) override { record("remove", cursor); }
    void tuioCursorFrameFinished() override
    {
        lines << QStringLiteral("frame");
        if (onCallback)
            onCallback();
    }

    QStringList lines;
    std::vector<TuioCursorPtr> cursors; // in the order of the callbacks
    std::function<void()> onCallback;   // runs inside every callback, after it is recorded

private:
    void record(const char* kind, const TuioCursorPtr& cursor)
    {
        lines << QStringLiteral("%1 %2 %3,%4")
                     .arg(QLatin1String(kind))
                     .arg(cursor->sessionId())
                     .arg(cursor->position().x())
                     .arg(cursor->position().y());
        cursors.push_back(cursor);
        if (onCallback)
            onCallback();
    }
};
