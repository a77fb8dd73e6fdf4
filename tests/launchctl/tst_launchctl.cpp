#include "TemporaryHome.h"
#include "UnreadableFile.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <optional>

const QByteArray label = "<key>Label</key><string>quillonworks.Tactalon</string>";
const QByteArray agent =
    "<key>ProgramArguments</key><array><string>/opt/T/Tactalon</string></array>";

// Runs the built launcher tool in a private home, with a `systemctl` first on PATH that records
// its arguments (one call a line) and answers as FAKE_SYSTEMCTL asks: "unreachable", "fail", or ok.
class LaunchctlTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<TemporaryHome>();
        const QString systemctl = m_home->filePath("systemctl");
        QVERIFY(writeFile(
            systemctl,
            "#!/bin/sh\necho \"$*\" >> \"$HOME/calls\"\ncase \"$FAKE_SYSTEMCTL\" in\n"
            "unreachable) echo 'Failed to connect to bus: No medium found' >&2; exit 1;;\n"
            "fail) echo 'Failed to enable unit: Access denied' >&2; exit 1;;\nesac\n"));
        QVERIFY(QFile::setPermissions(systemctl, QFile::permissions(systemctl) | QFile::ExeOwner));
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert("PATH", m_home->path() + u':' + m_environment.value("PATH"));
        m_environment.insert("DISPLAY", ":5");
        m_environment.remove("XAUTHORITY");
        m_environment.remove("WAYLAND_DISPLAY");
    }

    void loadAndUnload_data()
    {
        QTest::addColumn<QByteArray>("keepAlive");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("registration");
        const QString kept = "StartLimitIntervalSec=0\n\n[Service]\nExecStart=\"/opt/T/Tactalon\"\n"
                             "Restart=always\nRestartSec=1\n";
        const QString stopped = "\n[Service]\nExecStart=\"/opt/T/Tactalon\"\nRestart=no\n";
        const QByteArray on = "<key>KeepAlive</key><true/>";
        const QString enable = "--user enable --now quillonworks.Tactalon.service";
        const QString disable = "--user disable quillonworks.Tactalon.service";
        QTest::newRow("kept alive") << on << false << kept << enable;
        QTest::newRow("kept alive, binary") << on << true << kept << enable;
        QTest::newRow("stopped") << QByteArray("<key>KeepAlive</key><false/>") << false << stopped
                                 << disable;
        QTest::newRow("no KeepAlive") << QByteArray() << false << stopped << disable;
    }

    void loadAndUnload()
    {
        QFETCH(QByteArray, keepAlive);
        QFETCH(bool, binary);
        QFETCH(QString, service);
        QFETCH(QString, registration);
        const QString job = writeJob(keepAlive + label + agent);
        if (binary) {
            QCOMPARE(QProcess::execute("plistutil", {"-i", job, "-o", job, "-f", "bin"}), 0);
            QVERIFY(!fileContents(job).startsWith("<?xml"));
        }

        QCOMPARE(launchctl({"load", job}).first, 0);
        const QString unit = QString::fromUtf8(fileContents(unitPath()));
        QCOMPARE(unit, "[Unit]\nDescription=quillonworks.Tactalon\n" + service +
                           "\n[Install]\nWantedBy=default.target\n");
        // The agent that the manager starts needs the session's display.
        const QStringList display = registration.contains("enable")
                                        ? QStringList{"--user import-environment DISPLAY"}
                                        : QStringList{};
        QCOMPARE(systemctlCalls(), display + QStringList({"--user daemon-reload", registration}));

        QCOMPARE(launchctl({"unload", job}).first, 0);
        QCOMPARE(systemctlCalls().last(), "--user disable --now quillonworks.Tactalon.service");
        QCOMPARE(QString::fromUtf8(fileContents(unitPath())), unit); // stays registered
    }

    // Every character systemd treats specially in ExecStart, and systemd's own parser finding the
    // program at a path with a space, a '%' and a '$' in it ('$' is expanded in arguments only).
    void execStartIsQuotedForSystemd()
    {
        QString program = m_home->filePath("My 100% $Apps/Tactalon");
        QVERIFY(writeFile(program, "#!/bin/sh\n"));
        QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));
        const QString job =
            writeJob(label + "<key>ProgramArguments</key><array><string>" + program.toUtf8() +
                     "</string>" + "<string>\"hi\" \\ 'y'</string><string>%h $HOME</string>" +
                     "<string>a\nb\tc\x7f</string><string></string></array>");
        QCOMPARE(launchctl({"load", job}).first, 0);
        const QString execStart =
            "\nExecStart=\"" + program.replace("%", "%%") +
            "\" \"\\\"hi\\\" \\\\ 'y'\" \"%%h $$HOME\" \"a\\nb\\tc\\x7f\" \"\"" + '\n';
        QVERIFY2(fileContents(unitPath()).contains(execStart.toUtf8()), fileContents(unitPath()));

        const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
        if (analyze.isEmpty()) {
            QSKIP("systemd-analyze is not installed");
        }
        QProcess verify; // needs a runtime folder, not a running manager
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", m_home->path());
        verify.setProcessEnvironment(environment);
        verify.start(analyze, {"verify", "--user", unitPath()});
        QVERIFY(verify.waitForFinished(60'000));
        QCOMPARE(verify.readAllStandardError(), QByteArray());
        QCOMPARE(verify.exitCode(), 0);
    }

    void badInputIsRefusedAndWritesNothing_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "JOB" stands for the job's property list
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("complaint");
        const QStringList load{"load", "JOB"};
        const QByteArray arguments = "<key>ProgramArguments</key><array>";
        QTest::newRow("label climbs out")
            << load << "<key>Label</key><string>../evil</string>" + agent << 1 << "\"Label\"";
        QTest::newRow("label like an option")
            << load << "<key>Label</key><string>-f</string>" + agent << 1 << "\"Label\"";
        QTest::newRow("unload, no label")
            << QStringList{"unload", "JOB"} << agent << 1 << "\"Label\"";
        QTest::newRow("no arguments")
            << load << label + arguments + "</array>" << 1 << "non-empty array";
        QTest::newRow("argument not a string")
            << load << label + arguments + "<string>/x</string><true/></array>" << 1
            << "only strings";
        QTest::newRow("argument not UTF-8")
            << load << label + arguments + "<string>/x</string><string>\xff</string></array>" << 1
            << "cannot read \"ProgramArguments\"/1";
        QTest::newRow("relative program")
            << load << label + arguments + "<string>Tactalon</string></array>" << 1
            << "absolute path";
        QTest::newRow("KeepAlive not a boolean")
            << load << label + agent + "<key>KeepAlive</key><string>yes</string>" << 1
            << "\"KeepAlive\"";
        QTest::newRow("not a property list")
            << load << QByteArray("<dict") << 1 << "not a readable property list";
        QTest::newRow("no such file")
            << QStringList{"load", "/nonexistent.plist"} << QByteArray() << 1 << "no such file";
        QTest::newRow("unknown command")
            << QStringList{"start", "JOB"} << label + agent << 2 << "usage: ";
        QTest::newRow("no property list") << QStringList{"load"} << label + agent << 2 << "usage: ";
        // Neither a file libplist would abort on nor a FIFO without a writer may take the tool
        // down or hold it; "bplist" and "FIFO" bodies are the whole file.
        for (const char* command : {"load", "unload"}) {
            QTest::addRow("%s, binary key holding U+0000", command)
                << QStringList{command, "JOB"} << binaryKeyHoldingNul() << 1
                << "a key holds U+0000";
            QTest::addRow("%s, FIFO", command) << QStringList{command, "JOB"} << QByteArray("FIFO")
                                               << 1 << "not a regular file but a FIFO";
        }
    }

    void badInputIsRefusedAndWritesNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, body);
        QFETCH(int, exitCode);
        QFETCH(QString, complaint);
        std::optional<FifoAtPath> fifo;
        if (body == "FIFO" || body.startsWith("bplist"))
            QVERIFY(placeFile(jobPath(), body, fifo));
        else
            writeJob(body);
        arguments.replaceInStrings("JOB", jobPath());

        const auto [status, standardError] = launchctl(arguments);
        QVERIFY(!fifo || !fifo->blocked());
        QCOMPARE(status, exitCode);
        QVERIFY2(standardError.contains(complaint), qPrintable(standardError));
        QVERIFY(exitCode == 2 ||
                (standardError.startsWith("launchctl: ") && standardError.count(u'\n') == 1));
        QVERIFY(!QDir(m_home->configPath() + "/systemd").exists());
        QVERIFY(!QFile::exists(m_home->path() + "/evil.service"));
        QCOMPARE(systemctlCalls(), QStringList());
    }

    void managerFailureIsOneClearLine_data()
    {
        QTest::addColumn<QString>("systemctl");
        QTest::addColumn<QString>("complaint");
        const QString unreachable = "cannot reach the user service manager";
        QTest::newRow("manager unreachable") << "unreachable" << unreachable;
        QTest::newRow("no systemctl on PATH") << "missing" << unreachable;
        QTest::newRow("real systemctl, no session") << "real" << unreachable;
        QTest::newRow("real systemctl, bus without a manager") << "real on bus" << unreachable;
        QTest::newRow("systemctl refuses") << "fail"
                                           << "Access denied";
    }

    void managerFailureIsOneClearLine()
    {
        QFETCH(QString, systemctl);
        QFETCH(QString, complaint);
        m_environment.insert("FAKE_SYSTEMCTL", systemctl);
        if (systemctl == "missing") {
            m_environment.insert("PATH", m_home->configPath());
        } else if (systemctl.startsWith("real")) {
            if (QStandardPaths::findExecutable("systemctl").isEmpty()) {
                QSKIP("systemctl is not installed");
            }
            // An empty runtime folder, and no bus or only this test's private one (where D-Bus
            // cannot start a user manager): none can answer.
            m_environment.insert("PATH", qEnvironmentVariable("PATH"));
            m_environment.insert("XDG_RUNTIME_DIR", m_home->configPath());
            if (systemctl == "real") {
                m_environment.remove("DBUS_SESSION_BUS_ADDRESS");
            } else if (!m_environment.contains("DBUS_SESSION_BUS_ADDRESS")) {
                QSKIP("needs the private session bus the test runs in");
            }
        }
        const QString job = writeJob("<key>KeepAlive</key><true/>" + label + agent);

        for (const char* command : {"load", "unload"}) {
            const auto [status, standardError] = launchctl({command, job});
            QCOMPARE_NE(status, 0);
            QVERIFY2(standardError.startsWith("launchctl: ") && standardError.contains(complaint) &&
                         standardError.count(u'\n') == 1,
                     qPrintable(standardError));
        }
    }

private:
    QPair<int, QString> launchctl(const QStringList& arguments)
    {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.start(qEnvironmentVariable("TACTALON_BUILD_DIR") +
                          "/TactalonPrefs.prefPane/Contents/Helpers/launchctl",
                      arguments);
        if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit) {
            return {-1, process.errorString()};
        }
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
    }

    QString jobPath() const { return m_home->filePath("quillonworks.Tactalon.plist"); }
    QString writeJob(const QByteArray& dictionaryBody) const
    {
        writeFile(jobPath(),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
                      dictionaryBody + "</dict></plist>\n");
        return jobPath();
    }

    QStringList systemctlCalls() const
    {
        return QString::fromUtf8(fileContents(m_home->filePath("calls")))
            .split(u'\n', Qt::SkipEmptyParts);
    }
    QString unitPath() const
    {
        return m_home->configPath() + "/systemd/user/quillonworks.Tactalon.service";
    }

    std::unique_ptr<TemporaryHome> m_home;
    QProcessEnvironment m_environment;
};

QTEST_GUILESS_MAIN(LaunchctlTest)
#include "tst_launchctl.moc"
