#pragma once

#include <memory>

struct _XDisplay;

namespace platform {

struct XDisplayCloser
{
    void operator()(_XDisplay* display) const;
};

// A connection to an X display, closed when it goes.
using XDisplayPointer = std::unique_ptr<_XDisplay, XDisplayCloser>;

// Connects to the X display of $DISPLAY. A display that refuses or drops the connection (a
// server still starting, or one resetting, as Xvfb does when its last client leaves) is tried
// again: 5 tries over about 1.5 s. After the last one the display is given up on for the rest of
// the process: one log line, and later calls return nullptr at once. nullptr at once, without a
// log line, when DISPLAY is unset. A connection that is lost later gives one log line; the process
// then ends, unless the connection's owner set an exit handler (XSetIOErrorExitHandler) of its own.
XDisplayPointer openXDisplay();

} // namespace platform
