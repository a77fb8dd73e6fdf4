#include "tools/launchctl/ServiceUnit.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace launchctl {

QString serviceName(const QString& label)
{
    return label + QLatin1String(".service");
}

QString serviceName(const LaunchJob& job)
{
    return serviceName(job.label);
}

QString serviceUnitPath(const QString& label)
{
    const QString configHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(configHome).filePath(QLatin1String("systemd/user/") + serviceName(label));
}

QString quoteExecWord(const QString& word, bool isProgram)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : word) {
        switch (c.unicode()) {
        case u'\\':
            quoted += QLatin1String("\\\\");
            break;
        case u'"':
            quoted += QLatin1String("\\\"");
            break;
        case u'\n':
            quoted += QLatin1String("\\n");
            break;
        case u'\t':
            quoted += QLatin1String("\\t");
            break;
        case u'\r':
            quoted += QLatin1String("\\r");
            break;
        case u'%':
            quoted += QLatin1String("%%");
            break;
        case u'$':
            quoted += isProgram ? QLatin1String("$") : QLatin1String("$$");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
                quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            } else {
                quoted += c;
            }
        }
    }
    return quoted + u'"';
}

QString renderServiceUnit(const LaunchJob& job)
{
    QStringList execWords;
    for (qsizetype i = 0; i < job.programArguments.size(); ++i) {
        execWords.append(quoteExecWord(job.programArguments.at(i), i == 0));
    }
    // The label is checked to hold no specifier or space, so it goes in as it is.
    QString unit = QStringLiteral("[Unit]\nDescription=%1\n").arg(job.label);
    if (job.keepAlive) {
        // Kept alive means restarted however often it exits: no start-rate limit gives up on it.
        unit += QLatin1String("StartLimitIntervalSec=0\n");
    }
    unit += QStringLiteral("\n[Service]\nExecStart=%1\n").arg(execWords.join(u' '));
    unit += job.keepAlive ? QLatin1String("Restart=always\nRestartSec=1\n")
                          : QLatin1String("Restart=no\n");
    unit += QLatin1String("\n[Install]\nWantedBy=default.target\n");
    return unit;
}

bool writeServiceUnit(const QString& path, const QString& text, QString* error)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the folder %1").arg(folder);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace launchctl
