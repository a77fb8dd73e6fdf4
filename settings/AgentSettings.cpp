#include "AgentSettings.h"

#include "SettingsKeys.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

#include <algorithm>
#include <limits>

namespace {

// A stored port beyond 32 bits saturates rather than wrapping onto some unrelated valid port.
qint32 portFromStoredValue(qint64 stored)
{
    return static_cast<qint32>(std::clamp<qint64>(stored, std::numeric_limits<qint32>::min(),
                                                  std::numeric_limits<qint32>::max()));
}

} // namespace

AgentSettings AgentSettings::fromDefaults(platform::UserDefaults& userDefaults)
{
    AgentSettings settings;
    settings.port = portFromStoredValue(userDefaults.integerForKey(kPortStr));
    settings.hInvert = userDefaults.boolForKey(kHInvertStr);
    settings.vInvert = userDefaults.boolForKey(kVInvertStr);
    settings.rightClickEnabled = userDefaults.boolForKey(kRightClickEnabledStr);
    settings.rightClickTimeInterval = userDefaults.floatForKey(kRightClickTimeIntervalStr);
    // Cut to a whole number first, then compared as a float.
    settings.rightClickTolerance = static_cast<float>(
        platform::plistIntValue(userDefaults.objectForKey(kRightClickToleranceStr)));
    // Only a stored false turns scrolling off, so that a domain edited by hand without the
    // key scrolls as it always did.
    const QVariant scrolling = userDefaults.objectForKey(kScrollingEnabledStr);
    settings.scrollingEnabled = !scrolling.isValid() || platform::plistBoolValue(scrolling);
    settings.scrollingType = userDefaults.integerForKey(kScrollingTypeStr);
    settings.debugLogging = userDefaults.boolForKey(kDebugLogging);
    return settings;
}
