#include "Loopback.h"

#include <QProcess>

class TuioToolTest : public QObject
{
    Q_OBJECT

private slots:
    void playTapReachesAClient()
    {
        Loopback loopback;
        QProcess tool;
        tool.start(m_tool,
                   {"play", "tap", "0.25", "0.25", "--port", QString::number(loopback.port)});
        // Empty frame, three frames down, empty frame, read while the tool runs: the loopback
        // client hears only senders whose socket is still open.
        QStringList& lines = loopback.listener.lines;
        QTRY_COMPARE_WITH_TIMEOUT(lines.count("frame"), 5, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(tool.state(), QProcess::NotRunning, 30000);
        QCOMPARE(tool.exitCode(), 0);
        lines.removeAll("frame");
        QCOMPARE(lines, QStringList({"add 1 750,375", "remove 1 750,375"}));
        QVERIFY(loopback.listener.cursors[0]->source().startsWith("tactalon-tuio:"));
    }

    void dumpPrintsALinePerFrame()
    {
        const quint16 port = freeUdpPort();
        QProcess dump;
        dump.start(m_tool, {"dump", "--port", QString::number(port)});
        QByteArray errors;
        QTRY_VERIFY_WITH_TIMEOUT((errors += dump.readAllStandardError()).contains("127.0.0.1 port"),
                                 10000);

        TuioSender sender(QHostAddress::LocalHost, port, kSource);
        QVERIFY(sender.sendDatagram("junk")); // reported, and the dump goes on
        QVERIFY(sender.send({kSource, {1, 2}, {{1, 0.25f, 0.5f}, {2, 0.75f, 0.5f}}, 7}));
        QTRY_VERIFY_WITH_TIMEOUT(dump.canReadLine(), 10000);
        QCOMPARE(dump.readLine().trimmed(),
                 QByteArray("source=tracker@10.0.0.2 fseq=7 alive=[1 2] set=[1:(0.25,0.5) "
                            "2:(0.75,0.5)]"));
        QTRY_VERIFY_WITH_TIMEOUT(
            (errors += dump.readAllStandardError()).contains("malformed datagram"), 10000);
        dump.kill();
        dump.waitForFinished();
    }

    void usageErrorsExitWithTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("unknown command") << QStringList{"fly"};
        QTest::newRow("tap off the surface") << QStringList{"play", "tap", "1.5", "0.5"};
        QTest::newRow("port 70000") << QStringList{"play", "tap", "0.5", "0.5", "--port", "70000"};
        QTest::newRow("option without value") << QStringList{"dump", "--port"};
    }
    void usageErrorsExitWithTwo()
    {
        QFETCH(QStringList, arguments);
        QProcess tool;
        tool.start(m_tool, arguments);
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 2);
        QVERIFY(tool.readAllStandardError().contains("usage: tactalon-tuio"));
    }

private:
    const QString m_tool = qEnvironmentVariable("TACTALON_BUILD_DIR") + "/bin/tactalon-tuio";
};

QTEST_GUILESS_MAIN(TuioToolTest)
#include "tst_tuio_tool.moc"
