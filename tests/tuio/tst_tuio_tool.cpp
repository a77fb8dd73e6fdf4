#include "GesturePlan.h"
#include "RecordingTuioListener.h"
#include "tuio/TuioClient.h"
#include "tuio/encoder/TuioSender.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>
#include <algorithm>

namespace {

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

QString toolPath()
{
    return qEnvironmentVariable("TACTALON_BUILD_DIR") + QStringLiteral("/bin/tactalon-tuio");
}

QStringList withoutFrameEnds(QStringList lines)
{
    lines.removeAll(QStringLiteral("frame"));
    return lines;
}

// The vertical centre of the fingers of one frame.
float centreY(const GesturePlan::Fingers& fingers)
{
    float sum = 0;
    for (const TuioSet& finger : fingers)
        sum += finger.y;
    return sum / float(fingers.size());
}

} // namespace

class TuioToolTest : public QObject
{
    Q_OBJECT

private slots:
    void playTapReachesAClient();
    void gesturesKeepTheirTiming_data();
    void gesturesKeepTheirTiming();
    void dumpPrintsALinePerFrame();
    void usageErrorsExitWithTwo_data();
    void usageErrorsExitWithTwo();
};

void TuioToolTest::playTapReachesAClient()
{
    const quint16 port = freeUdpPort();
    RecordingTuioListener listener;
    TuioClient client(port, QSizeF(1000, 500));
    client.setTuioCursorDelegate(&listener);

    QProcess tool;
    tool.start(toolPath(), {"play", "tap", "0.25", "0.25", "--port", QString::number(port)});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 0);
    // Empty frame, three frames down, empty frame.
    QTRY_COMPARE_WITH_TIMEOUT(listener.lines.count("frame"), 5, 10000);
    QCOMPARE(withoutFrameEnds(listener.lines), QStringList({"add 1 750,375", "remove 1 750,375"}));
    QVERIFY(listener.cursors[0]->source().startsWith("tactalon-tuio:"));
}

void TuioToolTest::gesturesKeepTheirTiming_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QList<double>>("arguments");
    QTest::addColumn<double>("rate");
    for (const double rate : {60.0, 25.0}) {
        const QByteArray hz = " at " + QByteArray::number(rate) + " Hz";
        QTest::newRow("tap" + hz) << "tap" << QList<double>{0.2, 0.3} << rate;
        QTest::newRow("drag" + hz) << "drag" << QList<double>{0.1, 0.1, 0.9, 0.5} << rate;
        QTest::newRow("two-finger-tap" + hz) << "two-finger-tap" << QList<double>{} << rate;
        QTest::newRow("scroll down" + hz) << "scroll" << QList<double>{0.3} << rate;
        QTest::newRow("scroll up" + hz) << "scroll" << QList<double>{-0.2, 0.5, 0.6} << rate;
        QTest::newRow("three-fingers" + hz) << "three-fingers" << QList<double>{0.5, 0.5} << rate;
    }
}

void TuioToolTest::gesturesKeepTheirTiming()
{
    QFETCH(QString, scenario);
    QFETCH(QList<double>, arguments);
    QFETCH(double, rate);
    QString error;
    const auto frames = GesturePlan::build(scenario, arguments, rate, error);
    QVERIFY2(frames, qPrintable(error));
    QVERIFY(frames->front().empty() && frames->back().empty());
    const auto touching = std::count_if(frames->begin(), frames->end(),
                                        [](const auto& fingers) { return !fingers.empty(); });
    // Every finger lands in the first touching frame and lifts after the last one.
    const std::size_t fingers = frames->at(1).size();
    QVERIFY(std::all_of(frames->begin() + 1, frames->begin() + 1 + touching,
                        [&](const auto& each) { return each.size() == fingers; }));
    const double seconds = double(touching) / rate;

    if (scenario == "tap" || scenario == "drag") {
        QCOMPARE(fingers, std::size_t(1));
        QCOMPARE(frames->at(1)[0].x, float(arguments[0]));
        QCOMPARE(frames->at(touching)[0].y, float(arguments[scenario == "tap" ? 1 : 3]));
    } else if (scenario == "two-finger-tap") {
        QCOMPARE(fingers, std::size_t(2));
        QVERIFY(seconds < GesturePlan::kRightClickLimit / 2); // a right click, with margin
    } else if (scenario == "scroll") {
        QCOMPARE(fingers, std::size_t(2));
        // Held still past the right-click limit, then moved by DY.
        const auto firstMove = std::find_if(frames->begin() + 1, frames->end(), [&](auto& each) {
            return centreY(each) != centreY(frames->at(1));
        });
        QVERIFY(double(firstMove - frames->begin() - 2) / rate > GesturePlan::kRightClickLimit);
        QCOMPARE(centreY(frames->at(touching)) - centreY(frames->at(1)), float(arguments[0]));
    } else {
        QCOMPARE(fingers, std::size_t(3));
    }
}

void TuioToolTest::dumpPrintsALinePerFrame()
{
    const quint16 port = freeUdpPort();
    QProcess dump;
    dump.start(toolPath(), {"dump", "--port", QString::number(port)});
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += dump.readAllStandardError()).contains("127.0.0.1 port"),
                             10000);

    TuioSender sender(QHostAddress::LocalHost, port, "tracker@10.0.0.2");
    QVERIFY(sender.sendDatagram("junk")); // reported, and the dump goes on
    QVERIFY(sender.send({"tracker@10.0.0.2", {1, 2}, {{1, 0.25f, 0.5f}, {2, 0.75f, 0.5f}}, 7}));
    QTRY_VERIFY_WITH_TIMEOUT(dump.canReadLine(), 10000);
    QCOMPARE(dump.readLine().trimmed(),
             QByteArray("source=tracker@10.0.0.2 fseq=7 alive=[1 2] set=[1:(0.25,0.5) "
                        "2:(0.75,0.5)]"));
    QTRY_VERIFY_WITH_TIMEOUT((errors += dump.readAllStandardError()).contains("malformed datagram"),
                             10000);
    dump.kill();
    dump.waitForFinished();
}

void TuioToolTest::usageErrorsExitWithTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("unknown command") << QStringList{"fly"};
    QTest::newRow("no scenario") << QStringList{"play"};
    QTest::newRow("unknown scenario") << QStringList{"play", "swipe", "0.5", "0.5"};
    QTest::newRow("tap without y") << QStringList{"play", "tap", "0.5"};
    QTest::newRow("tap off the surface") << QStringList{"play", "tap", "1.5", "0.5"};
    QTest::newRow("not a number") << QStringList{"play", "tap", "x", "0.5"};
    QTest::newRow("scroll too far") << QStringList{"play", "scroll", "3"};
    QTest::newRow("port 70000") << QStringList{"play", "tap", "0.5", "0.5", "--port", "70000"};
    QTest::newRow("rate 0") << QStringList{"play", "tap", "0.5", "0.5", "--rate", "0"};
    QTest::newRow("option without value") << QStringList{"dump", "--port"};
    QTest::newRow("unknown option") << QStringList{"dump", "--verbose", "1"};
    QTest::newRow("dump with arguments") << QStringList{"dump", "now"};
}

void TuioToolTest::usageErrorsExitWithTwo()
{
    QFETCH(QStringList, arguments);
    QProcess tool;
    tool.start(toolPath(), arguments);
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 2);
    QVERIFY(tool.readAllStandardError().contains("usage: tactalon-tuio"));
}

QTEST_GUILESS_MAIN(TuioToolTest)
#include "tst_tuio_tool.moc"
