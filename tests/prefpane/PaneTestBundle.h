#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>

// A copy of the built TactalonPrefs.prefPane: the real plug-in and interface file (optionally
// edited), a stand-in agent, and a launcher tool that records each run as one line
// "<verb> <file> <its KeepAlive element at that moment>".
class PaneTestBundle
{
public:
    explicit PaneTestBundle(const std::function<QString(QString)>& editInterface = {})
    {
        const QString built =
            qEnvironmentVariable("TACTALON_BUILD_DIR") + "/TactalonPrefs.prefPane/Contents/";
        for (const char* folder : {"MacOS", "Resources", "Helpers"})
            QDir().mkpath(contents() + folder);
        QFile ui(built + "Resources/TactalonPrefs.ui");
        const QString interface =
            ui.open(QIODevice::ReadOnly) ? QString::fromUtf8(ui.readAll()) : "";
        const QByteArray launcher =
            "#!/bin/sh\nstate=$(grep -A1 '<key>KeepAlive</key>' \"$2\" | tail -n1 | tr -d ' \\t')\n"
            "echo \"$1 $2 $state\" >> '" +
            QFile::encodeName(logPath()) + "'\n";
        m_valid =
            !interface.isEmpty() &&
            QFile::copy(built + "MacOS/TactalonPrefs.so", contents() + "MacOS/TactalonPrefs.so") &&
            write(contents() + "Resources/TactalonPrefs.ui",
                  (editInterface ? editInterface(interface) : interface).toUtf8()) &&
            write(agentPath(), "#!/bin/sh\n") && write(launcherPath(), launcher) &&
            setRunnable(agentPath(), true) && setRunnable(launcherPath(), true);
    }

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.filePath("TactalonPrefs.prefPane"); }
    QString agentPath() const { return contents() + "MacOS/Tactalon"; }
    QString launcherPath() const { return contents() + "Helpers/launchctl"; }

    QStringList launcherRuns() const
    {
        QFile log(logPath());
        return log.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts)
                   : QStringList{};
    }
    void clearLauncherRuns() const { QFile::remove(logPath()); }
    bool setLauncherRunnable(bool runnable) const { return setRunnable(launcherPath(), runnable); }

    static bool write(const QString& path, const QByteArray& data)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
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
