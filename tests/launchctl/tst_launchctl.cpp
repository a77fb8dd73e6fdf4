#include "TemporaryHome.h"
#include "UnreadableFile.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <optional>

const QByteArray label = "<key>Label</key><string>quillonworks.Tactalon</string>";
// "@HOME@" in a job stands for the private home, where the agent is an executable file.
const QByteArray agent =
    "<key>ProgramArguments</key><array><string>@HOME@/MacOS/Tactalon</string></array>";

// Runs the built launcher tool in a private home, with a `systemctl` first on PATH that records
// its arguments (one call a line) and answers as FAKE_SYSTEMCTL asks: "unreachable", "fail", or
// ok; asked for a unit's state it answers GRAPHICAL_SESSION ("inactive" when unset).
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
            "fail) echo 'Failed to enable unit: Access denied' >&2; exit 1;;\nesac\n"
            "[ \"$2\" = show ] && echo \"${GRAPHICAL_SESSION:-inactive}\"\nexit 0\n"));
        QVERIFY(makeExecutable(systemctl));
        QVERIFY(writeFile(m_home->filePath("MacOS/Tactalon"), "#!/bin/sh\n"));
        QVERIFY(makeExecutable(m_home->filePath("MacOS/Tactalon")));
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
        QTest::addColumn<QString>("graphicalSession");
        QTest::addColumn<QString>("unit"); // "@HOME@" stands for the private home
        QTest::addColumn<QStringList>("calls");
        const QString head = "# The launch agent quillonworks.Tactalon, written by \"launchctl "
                             "load\": edits here are replaced at the next load.\n[Unit]\n"
                             "Description=Tactalon touch input agent\n"
                             "Documentation=man:Tactalon(1)\n";
        const QString graphical = "PartOf=graphical-session.target\n"
                                  "After=graphical-session.target\n";
        const QString condition = "ConditionFileIsExecutable=@HOME@/MacOS/Tactalon\n";
        const QString kept = "StartLimitIntervalSec=300\nStartLimitBurst=25\n\n[Service]\n"
                             "ExecStart=\"@HOME@/MacOS/Tactalon\"\nRestart=always\nRestartSec=5\n";
        const QString stopped = "\n[Service]\nExecStart=\"@HOME@/MacOS/Tactalon\"\nRestart=no\n";
        const QString wantedBy = "\n[Install]\nWantedBy=%1.target\n";

        const QByteArray on = "<key>KeepAlive</key><true/>";
        const QString show = "--user show --property=ActiveState --value graphical-session.target";
        const QString service = " quillonworks.Tactalon.service";
        // The agent that the manager starts needs the session's display.
        const QStringList start{show,
                                "--user import-environment DISPLAY",
                                "--user daemon-reload",
                                "--user reenable" + service,
                                "--user reset-failed" + service,
                                "--user start" + service};
        const QStringList stop{show, "--user daemon-reload", "--user disable --now" + service};
        QTest::newRow("kept alive, graphical session")
            << on << false << "active"
            << head + graphical + condition + kept + wantedBy.arg("graphical-session") << start;
        QTest::newRow("kept alive, binary, no graphical session")
            << on << true << "inactive" << head + condition + kept + wantedBy.arg("default")
            << start;
        QTest::newRow("stopped") << QByteArray("<key>KeepAlive</key><false/>") << false
                                 << "inactive"
                                 << head + condition + stopped + wantedBy.arg("default") << stop;
        QTest::newRow("no KeepAlive")
            << QByteArray() << false << "active"
            << head + graphical + condition + stopped + wantedBy.arg("graphical-session") << stop;
    }

    void loadAndUnload()
    {
        QFETCH(QByteArray, keepAlive);
        QFETCH(bool, binary);
        QFETCH(QString, graphicalSession);
        QFETCH(QString, unit);
        QFETCH(QStringList, calls);
        const QString job = writeJob(keepAlive + label + agent);
        if (binary) {
            QCOMPARE(QProcess::execute("plistutil", {"-i", job, "-o", job, "-f", "bin"}), 0);
            QVERIFY(!fileContents(job).startsWith("<?xml"));
        }
        m_environment.insert("GRAPHICAL_SESSION", graphicalSession);

        QCOMPARE(launchctl({"load", job}).first, 0);
        QCOMPARE(QString::fromUtf8(fileContents(unitPath())),
                 unit.replace("@HOME@", m_home->path()));
        QCOMPARE(systemctlCalls(), calls);

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
        QVERIFY(makeExecutable(program));
        const QString job =
            writeJob(label + "<key>ProgramArguments</key><array><string>" + program.toUtf8() +
                     "</string>" + "<string>\"hi\" \\ 'y'</string><string>%h $HOME</string>" +
                     "<string>a\nb\tc\x7f</string><string></string></array>");
        QCOMPARE(launchctl({"load", job}).first, 0);
        program.replace("%", "%%");
        const QString execStart =
            "\nExecStart=\"" + program +
            "\" \"\\\"hi\\\" \\\\ 'y'\" \"%%h $$HOME\" \"a\\nb\\tc\\x7f\" \"\"" + '\n';
        QVERIFY2(fileContents(unitPath()).contains(execStart.toUtf8()), fileContents(unitPath()));
        const QString condition = "\nConditionFileIsExecutable=" + program + '\n';
        QVERIFY2(fileContents(unitPath()).contains(condition.toUtf8()), fileContents(unitPath()));

        const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
        if (analyze.isEmpty()) {
            QSKIP("systemd-analyze is not installed");
        }
        QProcess verify; // needs a runtime folder, not a running manager, nor the man page
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", m_home->path());
        verify.setProcessEnvironment(environment);
        verify.start(analyze, {"verify", "--user", "--man=no", unitPath()});
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
        QTest::newRow("missing program")
            << load << label + arguments + "<string>/nonexistent/Tactalon</string></array>" << 1
            << "/nonexistent/Tactalon does not exist";
        QTest::newRow("program not executable")
            << load << label + arguments + "<string>JOB</string></array>" << 1
            << "is not an executable file";
        QTest::newRow("program a unit line cannot name")
            << load << label + arguments + "<string>@HOME@/MacOS/Tactalon </string></array>" << 1
            << "a systemd unit cannot hold";
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
            writeJob(body.replace("JOB", jobPath().toUtf8()));
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
    QString writeJob(QByteArray dictionaryBody) const
    {
        dictionaryBody.replace("@HOME@", m_home->path().toUtf8());
        writeFile(jobPath(),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
                      dictionaryBody + "</dict></plist>\n");
        return jobPath();
    }
    static bool makeExecutable(const QString& path)
    {
        return QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
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
