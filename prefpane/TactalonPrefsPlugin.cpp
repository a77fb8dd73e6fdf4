#include "prefpane/TactalonPrefsPlugin.h"

#include "platform/pane/BundleLocation.h"
#include "prefpane/Tactalon_PrefsPref.h"

namespace {
// Its address lies inside this library, whose file tells the bundle.
const char kInsideThisLibrary = 0;
} // namespace

std::unique_ptr<PreferencePane> TactalonPrefsPlugin::createPane()
{
    return std::make_unique<Tactalon_PrefsPref>(bundlePathContaining(&kInsideThisLibrary));
}
