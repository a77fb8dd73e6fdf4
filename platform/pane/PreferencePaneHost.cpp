#include "platform/pane/PreferencePaneHost.h"

#include "platform/pane/PreferencePane.h"
#include "platform/pane/PreferencePanePlugin.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QUiLoader>
#include <QVBoxLayout>
#include <QWidget>

namespace {

QString paneName(const QString& bundlePath)
{
    return QFileInfo(QDir::cleanPath(bundlePath)).completeBaseName();
}

// "startStopAgent:" -> "startStopAgent(QObject*)"
QByteArray actionSignature(const QString& action)
{
    QString name = action.trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return name.toLatin1() + "(QObject*)";
}

void applyItemTags(QComboBox* comboBox)
{
    const QStringList tags = comboBox->property("itemTags").toStringList();
    for (int index = 0; index < comboBox->count() && index < tags.size(); ++index) {
        bool isNumber = false;
        const int tag = tags.at(index).trimmed().toInt(&isNumber);
        if (isNumber)
            comboBox->setItemData(index, tag);
        else
            qWarning("Item %d of %s has no number for a tag: \"%s\"", index,
                     qPrintable(comboBox->objectName()), qPrintable(tags.at(index)));
    }
}

} // namespace

PreferencePaneHost::PreferencePaneHost() = default;
PreferencePaneHost::~PreferencePaneHost() = default;

QString PreferencePaneHost::pluginPath(const QString& bundlePath)
{
    return QDir(bundlePath)
        .filePath(QStringLiteral("Contents/MacOS/%1.so").arg(paneName(bundlePath)));
}

QString PreferencePaneHost::interfacePath(const QString& bundlePath)
{
    return QDir(bundlePath)
        .filePath(QStringLiteral("Contents/Resources/%1.ui").arg(paneName(bundlePath)));
}

bool PreferencePaneHost::load(const QString& bundlePath)
{
    if (!QFileInfo(bundlePath).isDir())
        return fail(QStringLiteral("No settings pane bundle at %1").arg(bundlePath));
    if (!loadPane(bundlePath) || !loadMainView(bundlePath))
        return false;
    m_pane->setMainView(m_mainView);
    connectActions();
    m_pane->mainViewDidLoad();
    return true;
}

bool PreferencePaneHost::fail(const QString& message)
{
    m_error = message;
    return false;
}

bool PreferencePaneHost::loadPane(const QString& bundlePath)
{
    const QString path = pluginPath(bundlePath);
    if (!QFileInfo::exists(path))
        return fail(QStringLiteral("The pane's plug-in is missing: %1").arg(path));
    m_loader.setFileName(path);
    auto* plugin = qobject_cast<PreferencePanePlugin*>(m_loader.instance());
    if (!plugin) {
        const QString reason = m_loader.isLoaded() ? QStringLiteral("not a settings pane plug-in")
                                                   : m_loader.errorString();
        return fail(QStringLiteral("Cannot load the pane's plug-in %1: %2").arg(path, reason));
    }
    m_pane = plugin->createPane();
    if (!m_pane)
        return fail(QStringLiteral("The plug-in %1 made no pane").arg(path));
    return true;
}

bool PreferencePaneHost::loadMainView(const QString& bundlePath)
{
    const QString path = interfacePath(bundlePath);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read the pane's interface file %1: %2")
                        .arg(path, file.errorString()));

    m_window = std::make_unique<QWidget>();
    QUiLoader loader;
    loader.setWorkingDirectory(QFileInfo(path).absoluteDir());
    m_mainView = loader.load(&file, m_window.get());
    if (!m_mainView)
        return fail(QStringLiteral("Cannot build the pane's view from %1: %2")
                        .arg(path, loader.errorString()));

    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_mainView);
    for (QComboBox* comboBox : m_mainView->findChildren<QComboBox*>())
        applyItemTags(comboBox);
    return true;
}

void PreferencePaneHost::connectActions()
{
    PreferencePane* pane = m_pane.get();
    const QMetaObject* meta = pane->metaObject();
    for (QAbstractButton* button : m_mainView->findChildren<QAbstractButton*>()) {
        const QString action = button->property("action").toString();
        if (action.isEmpty())
            continue;
        const int index = meta->indexOfMethod(actionSignature(action).constData());
        if (index < 0) {
            qWarning("%s has no action %s for button %s", meta->className(), qPrintable(action),
                     qPrintable(button->objectName()));
            continue;
        }
        const QMetaMethod method = meta->method(index);
        QObject::connect(button, &QAbstractButton::clicked, pane, [pane, button, method] {
            method.invoke(pane, Qt::DirectConnection, Q_ARG(QObject*, button));
        });
    }
}
