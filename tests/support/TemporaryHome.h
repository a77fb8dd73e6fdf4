#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <QtGlobal>

// A private home for one test process: HOME and XDG_CONFIG_HOME point into a fresh
// temporary folder, removed again at the end. Make it before the first use of the
// process's standard defaults object.
class TemporaryHome
{
public:
    TemporaryHome()
    {
        qputenv("HOME", m_dir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", configPath().toUtf8());
        QDir().mkpath(configPath());
    }

    QString path() const { return m_dir.path(); }
    QString configPath() const { return m_dir.filePath(QStringLiteral(".config")); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};
