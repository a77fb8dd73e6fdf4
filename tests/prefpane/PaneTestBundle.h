#pragma once

#include <QDir>
#include <QFile>
#include <QRegularExpression>
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
        const QString built = qEnvironmentVariable("TACTALON_BUILD_DIR") +
                              QStringLiteral("/TactalonPrefs.prefPane/Contents/");
        for (const char* folder : {"MacOS", "Resources", "Helpers"})
            QDir().mkpath(contents() + QLatin1String(folder));
        QFile ui(built + QStringLiteral("Resources/TactalonPrefs.ui"));
        QString interface = ui.open(QIODevice::ReadOnly) ? QString::fromUtf8(ui.readAll()) : "";
        m_valid = !interface.isEmpty() &&
                  QFile::copy(built + QStringLiteral("MacOS/TactalonPrefs.so"),
                              contents() + QStringLiteral("MacOS/TactalonPrefs.so")) &&
                  write(contents() + QStringLiteral("Resources/TactalonPrefs.ui"),
                        (editInterface ? editInterface(interface) : interface).toUtf8()) &&
                  write(agentPath(), "#!/bin/sh\n") &&
                  write(launcherPath(),
                        "#!/bin/sh\nstate=$(grep -A1 '<key>KeepAlive</key>' \"$2\" | tail -n1 | "
                        "tr -d ' \\t')\necho \"$1 $2 $state\" >> '" +
                            QFile::encodeName(logPath()) + "'\n");
        setLauncherRunnable(true);
        QFile::setPermissions(agentPath(), QFile::permissions(agentPath()) | QFile::ExeOwner);
    }

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.filePath(QStringLiteral("TactalonPrefs.prefPane")); }
    QString agentPath() const { return contents() + QStringLiteral("MacOS/Tactalon"); }
    QString launcherPath() const { return contents() + QStringLiteral("Helpers/launchctl"); }

    QStringList launcherRuns() const
    {
        QFile log(logPath());
        return log.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts)
                   : QStringList{};
    }
    void clearLauncherRuns() const { QFile::remove(logPath()); }
    bool setLauncherRunnable(bool runnable) const
    {
        const auto execute = QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;
        const auto permissions = QFile::permissions(launcherPath());
        return QFile::setPermissions(launcherPath(),
                                     runnable ? permissions | execute : permissions & ~execute);
    }

    // Takes the "tag" property off the control tagged `tag` in an interface file's text.
    static QString withoutTag(QString interface, int tag)
    {
        return interface.remove(QRegularExpression(
            QStringLiteral("<property name=\"tag\" stdset=\"0\">\\s*<number>%1</number>\\s*"
                           "</property>")
                .arg(tag)));
    }

private:
    QString contents() const { return path() + QStringLiteral("/Contents/"); }
    QString logPath() const { return m_dir.filePath(QStringLiteral("launcher-runs.log")); }
    static bool write(const QString& path, const QByteArray& data)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
    }

    QTemporaryDir m_dir;
    bool m_valid = false;
};
