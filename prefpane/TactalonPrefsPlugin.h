#pragma once

#include "platform/pane/PreferencePanePlugin.h"

#include <QObject>

// The entry of the TactalonPrefs plug-in: makes panes that know their bundle from this
// library's own file.
class TactalonPrefsPlugin : public QObject, public PreferencePanePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PreferencePanePlugin_iid)
    Q_INTERFACES(PreferencePanePlugin)
public:
    std::unique_ptr<PreferencePane> createPane() override;
};
