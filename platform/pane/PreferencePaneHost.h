#pragma once

#include <QPluginLoader>
#include <QString>
#include <memory>

class PreferencePane;
class QWidget;

// What the settings application does with a pane bundle:
//   <bundle>/Contents/MacOS/<Name>.so            the plug-in (a PreferencePanePlugin)
//   <bundle>/Contents/Resources/<Name>.ui        the interface file, the pane's main view
// where <Name> is the bundle's folder name without ".prefPane". load() makes the pane, builds
// its main view inside a window, connects the view's actions, then calls mainViewDidLoad.
//
// Interface file conventions, read while the view is built:
//   - a control's tag is its integer dynamic property "tag";
//   - a button's dynamic property "action" names the pane's action it triggers, e.g.
//     "startStopAgent:" calls the pane's startStopAgent(QObject* sender) with the button;
//   - a combo box's dynamic property "itemTags" (a string list, one number per item) gives
//     each item its tag as item data.
class PreferencePaneHost
{
public:
    PreferencePaneHost();
    ~PreferencePaneHost();
    PreferencePaneHost(const PreferencePaneHost&) = delete;
    PreferencePaneHost& operator=(const PreferencePaneHost&) = delete;

    // False, with errorString() saying which part is missing or broken, when the pane cannot
    // be shown. Call once.
    bool load(const QString& bundlePath);
    QString errorString() const { return m_error; }

    static QString pluginPath(const QString& bundlePath);
    static QString interfacePath(const QString& bundlePath);

    PreferencePane* pane() const { return m_pane.get(); }
    QWidget* mainView() const { return m_mainView; }
    // The top-level window holding the main view (not shown yet).
    QWidget* window() const { return m_window.get(); }

private:
    bool fail(const QString& message);
    bool loadPane(const QString& bundlePath);
    bool loadMainView(const QString& bundlePath);
    void connectActions();

    QString m_error;
    QPluginLoader m_loader;
    // Declared after the loader and before the window: the view goes first, then the pane,
    // while the plug-in's code is still there.
    std::unique_ptr<PreferencePane> m_pane;
    std::unique_ptr<QWidget> m_window;
    QWidget* m_mainView = nullptr;
};
