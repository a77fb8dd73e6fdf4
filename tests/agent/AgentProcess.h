#pragma once

#include "platform/UserDefaults.h"
#include "settings/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <csignal>

// The real agent program, run in a private home with a private runtime folder
// (runtimeFolder()), its log lines collected as they come.
class AgentProcess
{
public:
    explicit AgentProcess(const QString& home) : m_home(home)
    {
        QDir(home).mkdir(QStringLiteral("runtime"));
        QFile::setPermissions(runtimeFolder(home),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder(home));
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

    bool start()
    {
        m_process.start(program(), {});
        return m_process.waitForStarted(10000);
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

    // Whether some program holds the UDP port on the loopback address.
    static bool isPortTaken(quint16 port)
    {
        QUdpSocket probe;
        return !probe.bind(QHostAddress::LocalHost, port);
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

    static quint16 freePort()
    {
        QUdpSocket socket;
        socket.bind(QHostAddress::LocalHost, 0);
        return socket.localPort();
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

    QString m_home;
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
};
