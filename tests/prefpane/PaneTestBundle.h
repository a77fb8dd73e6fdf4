#pragma once

#include "support/Files.h"

#include <QTemporaryDir>
#include <QVariantMap>
#include <functional>

// A copy of the built TactalonPrefs.prefPane: the real plug-in and interface file (optionally
// edited), a stand-in agent, and a launcher tool that records each run as one line
// "<verb> <file> <its KeepAlive element at that moment>", then runs the shell lines given to
// useRecordingLauncher (to fail, crash or take its time).
class PaneTestBundle
{
public:
    explicit PaneTestBundle(const std::function<QString(QString)>& editInterface = {})
    {
        const QString built =
            qEnvironmentVariable("TACTALON_BUILD_DIR") + "/TactalonPrefs.prefPane/Contents/";
        QDir().mkpath(contents() + "MacOS");
        const QString interface =
            QString::fromUtf8(fileContents(built + "Resources/TactalonPrefs.ui"));
        m_valid =
            !interface.isEmpty() &&
            QFile::copy(built + "MacOS/TactalonPrefs.so", contents() + "MacOS/TactalonPrefs.so") &&
            writeFile(contents() + "Resources/TactalonPrefs.ui",
                      (editInterface ? editInterface(interface) : interface).toUtf8()) &&
            writeFile(agentPath(), "#!/bin/sh\n") && setRunnable(agentPath(), true) &&
            useRecordingLauncher();
    }

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.filePath("TactalonPrefs.prefPane"); }
    QString agentPath() const { return contents() + "MacOS/Tactalon"; }
    QString launcherPath() const { return contents() + "Helpers/launchctl"; }

    QStringList launcherRuns() const
    {
        return QString::fromUtf8(fileContents(logPath())).split(u'\n', Qt::SkipEmptyParts);
    }
    void clearLauncherRuns() const { QFile::remove(logPath()); }
    bool setLauncherRunnable(bool runnable) const { return setRunnable(launcherPath(), runnable); }
    bool useRecordingLauncher(const QByteArray& thenRun = {}) const
    {
        const QByteArray launcher =
            "#!/bin/sh\nstate=$(grep -A1 '<key>KeepAlive</key>' \"$2\" | tail -n1 | tr -d ' \\t')\n"
            "echo \"$1 $2 $state\" >> '" +
            QFile::encodeName(logPath()) + "'\n" + thenRun + "\n";
        return writeFile(launcherPath(), launcher) && setRunnable(launcherPath(), true);
    }

private:
    QString contents() const { return path() + "/Contents/"; }
    QString logPath() const { return m_dir.filePath("launcher-runs.log"); }
    static bool setRunnable(const QString& path, bool runnable)
    {
        const auto execute = QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;
        const auto permissions = QFile::permissions(path);
        return QFile::setPermissions(path,
                                     runnable ? permissions | execute : permissions & ~execute);
    }

    QTemporaryDir m_dir;
    bool m_valid = false;
};

// `map` with `key` set to `value`.
inline QVariantMap with(QVariantMap map, const QString& key, const QVariant& value)
{
    map.insert(key, value);
    return map;
}
