#pragma once

#include "TuioCursor.h"

// Receives the cursor callbacks of a TuioClient. For each committed frame: its removes,
// adds and updates, then one tuioCursorFrameFinished (also for a frame that changed nothing).
class TuioCursorListener
{
public:
    virtual ~TuioCursorListener() = default;

    virtual void tuioCursorAdded(const TuioCursorPtr& cursor) = 0;
    virtual void tuioCursorUpdated(const TuioCursorPtr& cursor) = 0;
    virtual void tuioCursorRemoved(const TuioCursorPtr& cursor) = 0;
    virtual void tuioCursorFrameFinished() = 0;
};
