#pragma once

#include "platform/UserDefaults.h"
#include "settings/SettingsKeys.h"
#include "support/UdpPorts.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

// The real agent program, run in a private home (its own unless given one) with a private
// runtime folder (runtimeFolder()), its log lines collected as they come.
class AgentProcess
{
public:
    explicit AgentProcess(const QString& givenHome = {})
        : m_home(givenHome.isEmpty() ? m_ownHome.path() : givenHome)
    {
        QDir(m_home).mkdir(QStringLiteral("runtime"));
        QFile::setPermissions(runtimeFolder(m_home),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_home);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home + QStringLiteral("/.config"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder(m_home));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] { collect(); });
    }

    ~AgentProcess() { stop(); }

    static QString program()
    {
        return qEnvironmentVariable("TACTALON_BUILD_DIR") +
               QStringLiteral("/TactalonPrefs.prefPane/Contents/MacOS/Tactalon");
    }

    static QString runtimeFolder(const QString& home) { return home + QStringLiteral("/runtime"); }

    // Before start(): a variable of the agent's environment.
    void setEnvironment(const QString& name, const QString& value)
    {
        QProcessEnvironment environment = m_process.processEnvironment();
        environment.insert(name, value);
        m_process.setProcessEnvironment(environment);
    }

    QString home() const { return m_home; }

    bool start()
    {
        m_process.start(program(), {});
        return m_process.waitForStarted(10000);
    }

    // Starts it with its listener on `port` and debug logging on; true once it listens there.
    bool startListening(quint16 port)
    {
        return storeSettings(m_home, {{kPortStr, QVariant::fromValue<qint32>(port)},
                                      {kDebugLogging, true}}) &&
               start() && waitForMessage(listeningLine(port));
    }
    static QString listeningLine(quint16 port)
    {
        return QStringLiteral("started TuioClient on Port: %1").arg(port);
    }

    // Ends it as the service launcher does, and waits for it.
    bool terminate()
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        const bool ended = m_process.waitForFinished(20000);
        collect();
        return ended;
    }

    void stop()
    {
        if (!terminate()) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess& process() { return m_process; }

    // Every log line so far, without the "date time Tactalon[pid] " prefix.
    QStringList messages() const
    {
        QStringList result;
        for (const QString& line : m_lines) {
            const qsizetype end = line.indexOf(QStringLiteral("] "));
            result << (end < 0 ? line : line.mid(end + 2));
        }
        return result;
    }

    bool waitForMessage(const QString& message, int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!messages().contains(message)) {
            if (timer.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(50);
            collect();
        }
        return true;
    }

    // Stores settings into the agent's domain as another program of the user would.
    static bool storeSettings(const QString& home, const QVariantMap& settings)
    {
        platform::UserDefaults defaults(home + QStringLiteral("/.config"));
        QVariantMap domain = defaults.persistentDomainForName(kDomainName).value_or(QVariantMap{});
        domain.insert(settings);
        defaults.setPersistentDomain(domain, kDomainName);
        return defaults.synchronize();
    }

private:
    void collect()
    {
        m_buffer += m_process.readAllStandardError();
        qsizetype newline;
        while ((newline = m_buffer.indexOf('\n')) >= 0) {
            m_lines << QString::fromUtf8(m_buffer.left(newline));
            m_buffer.remove(0, newline + 1);
        }
    }

    QTemporaryDir m_ownHome;
    QString m_home;
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
};
