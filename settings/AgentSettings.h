#pragma once

#include <QtGlobal>

namespace platform {
class UserDefaults;
}

// The nine settings the agent runs on, as plain values. The agent reads them from the store
// whenever the store may have changed (at start, after each synchronize, on the notices), so
// that a touch frame never looks a setting up.
struct AgentSettings
{
    qint32 port = 0;
    bool hInvert = false;
    bool vInvert = false;
    bool rightClickEnabled = false;
    double rightClickTimeInterval = 0; // seconds; stored as a float, so 0.3 reads 0.30000001
    float rightClickTolerance = 0;     // screen units, a whole number
    bool scrollingEnabled = true;
    qint64 scrollingType = 0; // 1 anchored, 2 incremental; anything else scrolls anchored
    bool debugLogging = false;

    // Each value converted as a stored number of any kind reads (see PropertyList.h): an int
    // where a float is expected, a string, a missing key (false, 0).
    static AgentSettings fromDefaults(platform::UserDefaults& userDefaults);
};
