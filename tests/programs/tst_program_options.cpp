#include <QProcess>
#include <QTest>

// Runs each built program with nothing to start on: no display, no session bus. --help and
// --version must answer at once all the same; the agent takes no other argument.
class ProgramOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expected"); // on standard output when 0, else standard error

        const QString version = QStringLiteral(TACTALON_VERSION);
        const QString bundle = QStringLiteral("TactalonPrefs.prefPane/Contents/");
        const QList<std::pair<QString, QString>> programs = {
            {bundle + "MacOS/Tactalon", "Tactalon " + version},
            {"bin/tactalon-settings", "tactalon-settings " + version},
            {"bin/tactalon-tuio", "tactalon-tuio " + version},
            {bundle + "Helpers/launchctl", "launchctl (Tactalon) " + version},
        };
        for (const auto& [program, versionLine] : programs) {
            const QByteArray name = program.section(u'/', -1).toUtf8();
            QTest::newRow(name + " --version")
                << program << QStringList{"--version"} << 0 << versionLine + "\n";
            QTest::newRow(name + " --help") << program << QStringList{"--help"} << 0 << "--version";
        }
        const QString agent = programs.first().first;
        QTest::newRow("agent: unknown option") << agent << QStringList{"--port"} << 2
                                               << "unknown argument \"--port\"\nusage: Tactalon";
        QTest::newRow("agent: an argument") << agent << QStringList{"3333"} << 2 << "usage:";
        QTest::newRow("agent: --help and more")
            << agent << QStringList{"--help", "-x"} << 2 << "too many arguments";
    }
    void answers()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, expected);

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
            environment.remove(QString::fromLatin1(name));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(qEnvironmentVariable("TACTALON_BUILD_DIR") + u'/' + program, arguments);
        QVERIFY2(process.waitForFinished(10000), qPrintable(program));
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        if (exitCode == 0) {
            QVERIFY2(output.contains(expected), qPrintable(output));
            QVERIFY2(errors.isEmpty(), qPrintable(errors));
        } else {
            QVERIFY2(errors.contains(expected), qPrintable(errors));
            QVERIFY2(output.isEmpty(), qPrintable(output));
        }
    }
};

QTEST_GUILESS_MAIN(ProgramOptionsTest)
#include "tst_program_options.moc"
