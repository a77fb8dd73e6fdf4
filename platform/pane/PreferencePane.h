#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

// The base of a settings pane. The host makes the pane through its plug-in, builds the main
// view from the pane's interface file, hands it over with setMainView and then calls
// mainViewDidLoad once.
//
// The host and each plug-in link their own copy of this class, which never meet: the host
// only calls the virtual members and the inline accessors on a pane that a plug-in made.
class PreferencePane : public QObject
{
    Q_OBJECT
public:
    // bundlePath: the pane's bundle folder (".../Name.prefPane"), not the host's.
    explicit PreferencePane(const QString& bundlePath, QObject* parent = nullptr)
        : QObject(parent), m_bundlePath(bundlePath)
    {}
    ~PreferencePane() override = default;

    QString bundlePath() const { return m_bundlePath; }
    QWidget* mainView() const { return m_mainView; }
    void setMainView(QWidget* view) { m_mainView = view; }

    // Called once after the main view has been set.
    virtual void mainViewDidLoad() {}

    // Tells every binding on the property `key` to read it again.
    void didChangeValueForKey(const QString& key) { emit didChangeValue(key); }

signals:
    void didChangeValue(const QString& key);

private:
    QString m_bundlePath;
    QPointer<QWidget> m_mainView;
};
