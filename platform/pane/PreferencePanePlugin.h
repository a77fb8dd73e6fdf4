#pragma once

#include "platform/pane/PreferencePane.h"

#include <QtPlugin>
#include <memory>

// What a pane's plug-in library offers its host (found with QPluginLoader).
class PreferencePanePlugin
{
public:
    virtual ~PreferencePanePlugin() = default;

    // A new pane of this plug-in's bundle, its view not loaded yet.
    virtual std::unique_ptr<PreferencePane> createPane() = 0;
};

#define PreferencePanePlugin_iid "quillonworks.Tactalon.PreferencePanePlugin/1.0"
Q_DECLARE_INTERFACE(PreferencePanePlugin, PreferencePanePlugin_iid)
