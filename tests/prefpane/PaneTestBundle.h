#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>
#include <functional>

// A copy of the built TactalonPrefs.prefPane in a temporary folder: the real plug-in and
// interface file, a stand-in agent program, and a launcher tool that only records its runs,
// one line each: "<verb> <property list path> <KeepAlive element in the file at that moment>".
class PaneTestBundle
{
public:
    using InterfaceEdit = std::function<QString(QString)>;

    explicit PaneTestBundle(const InterfaceEdit& editInterface = {})
    {
        const QString contents = m_dir.filePath(QStringLiteral("TactalonPrefs.prefPane/Contents"));
        QDir().mkpath(contents + QStringLiteral("/MacOS"));
        QDir().mkpath(contents + QStringLiteral("/Resources"));
        QDir().mkpath(contents + QStringLiteral("/Helpers"));
        const QString built = builtBundlePath() + QStringLiteral("/Contents");
        m_valid = QFile::copy(built + QStringLiteral("/MacOS/TactalonPrefs.so"),
                              contents + QStringLiteral("/MacOS/TactalonPrefs.so")) &&
                  copyInterface(built + QStringLiteral("/Resources/TactalonPrefs.ui"),
                                contents + QStringLiteral("/Resources/TactalonPrefs.ui"),
                                editInterface) &&
                  writeExecutable(agentPath(), "#!/bin/sh\nexit 0\n") &&
                  writeExecutable(launcherPath(), launcherScript());
    }

    static QString builtBundlePath()
    {
        return qEnvironmentVariable("TACTALON_BUILD_DIR") +
               QStringLiteral("/TactalonPrefs.prefPane");
    }

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.filePath(QStringLiteral("TactalonPrefs.prefPane")); }
    QString agentPath() const { return path() + QStringLiteral("/Contents/MacOS/Tactalon"); }
    QString launcherPath() const { return path() + QStringLiteral("/Contents/Helpers/launchctl"); }

    QStringList launcherRuns() const
    {
        QFile log(logPath());
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    void clearLauncherRuns() const { QFile::remove(logPath()); }

    bool setLauncherRunnable(bool runnable) const
    {
        QFile tool(launcherPath());
        const auto execute = QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;
        return tool.setPermissions(runnable ? tool.permissions() | execute
                                            : tool.permissions() & ~execute);
    }

private:
    QString logPath() const { return m_dir.filePath(QStringLiteral("launcher-runs.log")); }

    QByteArray launcherScript() const
    {
        return "#!/bin/sh\n"
               "state=$(grep -A1 '<key>KeepAlive</key>' \"$2\" | tail -n 1 | tr -d ' \\t')\n"
               "printf '%s %s %s\\n' \"$1\" \"$2\" \"$state\" >> '" +
               QFile::encodeName(logPath()) + "'\n";
    }

    static bool copyInterface(const QString& from, const QString& to, const InterfaceEdit& edit)
    {
        QFile source(from);
        QFile target(to);
        if (!source.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly))
            return false;
        QString text = QString::fromUtf8(source.readAll());
        if (edit)
            text = edit(text);
        return target.write(text.toUtf8()) > 0;
    }

    static bool writeExecutable(const QString& path, const QByteArray& script)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
            return false;
        return file.setPermissions(file.permissions() | QFile::ExeOwner);
    }

    QTemporaryDir m_dir;
    bool m_valid = false;
};

// Takes the "tag" property off the control that carries `tag` in an interface file's text.
inline QString withoutTag(const QString& interfaceText, int tag)
{
    const QRegularExpression tagProperty(
        QStringLiteral("<property name=\"tag\" stdset=\"0\">\\s*<number>%1</number>\\s*</property>")
            .arg(tag));
    QString text = interfaceText;
    return text.remove(tagProperty);
}
