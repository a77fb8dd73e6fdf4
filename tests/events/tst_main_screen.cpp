// The main screen's frame from the X server, also one that answers late, and the DRM fallback on
// odd sysfs contents.
#include "platform/DrmMonitorSource.h"
#include "platform/MonitorChoice.h"
#include "support/Files.h"
#include "support/StandardError.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// connector name -> {status contents, modes contents}; a null QByteArray leaves the file out.
using Connectors = QList<std::tuple<QString, QByteArray, QByteArray>>;
Q_DECLARE_METATYPE(Connectors)

namespace {

QString socketPath(const QString& display)
{
    return QStringLiteral("/tmp/.X11-unix/X") + display.mid(1).section(QLatin1Char('.'), 0, 0);
}

// A display name from `first` on that no X server has: no lock file, no socket. (A display
// given up on stays so for the process: each test takes its own range.)
QString unusedDisplay(int first)
{
    for (int number = first;; ++number) {
        const QString display = QStringLiteral(":%1").arg(number);
        if (!QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) &&
            !QFile::exists(socketPath(display)))
            return display;
    }
}

// The agent's main screen: the chosen monitor of the source that answers, with no name set.
QRectF mainScreenFrame()
{
    return platform::chooseMonitor(platform::makeMonitorSource()->monitors(), {}).monitor.geometry;
}

QRectF drmConnectorFrame(const QString& drmClassDirectory)
{
    return platform::DrmMonitorSource(drmClassDirectory).monitors().value(0).geometry;
}

// mainScreenFrame() on `display`, and what it wrote to standard error.
std::pair<QRectF, QByteArray> frameOn(const QString& display)
{
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", display.toLocal8Bit());
    QRectF frame;
    const QByteArray log = standardErrorOf([&] { frame = mainScreenFrame(); });
    qputenv("DISPLAY", saved);
    return {frame, log};
}

} // namespace

class MainScreenTest : public QObject
{
    Q_OBJECT

private slots:
    // The test X server (1440x900), its socket showing up under a new display name only after
    // the first try.
    void displayAnsweringLateIsWaitedFor()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the test X server (1440x900) in DISPLAY");
        const QString display = unusedDisplay(150);
        QProcess late;
        late.start(QStringLiteral("sh"),
                   {QStringLiteral("-c"), QStringLiteral("sleep 0.2; ln -s \"$0\" \"$1\""),
                    socketPath(qEnvironmentVariable("DISPLAY")), socketPath(display)});
        QVERIFY(late.waitForStarted());
        const auto [frame, log] = frameOn(display);
        QVERIFY(late.waitForFinished());
        QFile::remove(socketPath(display));
        QCOMPARE(frame, QRectF(0, 0, 1440, 900));
        QCOMPARE(log, QByteArray());
    }

    void displayNeverAnsweringIsGivenUpOnce()
    {
        const QString display = unusedDisplay(200);
        const auto [frame, log] = frameOn(display);
        QCOMPARE(frame, drmConnectorFrame(QStringLiteral("/sys/class/drm")));
        QCOMPARE(log.count('\n'), 1);
        QVERIFY2(log.endsWith("Cannot connect to the X display " + display.toLocal8Bit() +
                              " (5 tries over 1.5 s); going on without it\n"),
                 log.constData());
        QCOMPARE(frameOn(display).second, QByteArray());
    }

    void withoutDisplayTheDrmConnectorsTell()
    {
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        const QRectF frame = mainScreenFrame();
        qputenv("DISPLAY", display);
        QCOMPARE(frame, drmConnectorFrame(QStringLiteral("/sys/class/drm")));
        QCOMPARE(drmConnectorFrame(QStringLiteral("/nonexistent/drm")), QRectF());
    }

    void drmConnectors_data()
    {
        QTest::addColumn<Connectors>("connectors");
        QTest::addColumn<QRectF>("expected");
        QTest::addColumn<QString>("monitorName"); // the monitor's, as "outputName" takes it
        QTest::newRow("first connected one, its first mode")
            << Connectors{{"card0-DP-1", "disconnected\n", "800x600\n"},
                          {"card0-HDMI-A-1", "connected\n", "1920x1080\n1280x720\n"},
                          {"card0-HDMI-A-2", "connected\n", "1024x768\n"}}
            << QRectF(0, 0, 1920, 1080) << "HDMI-A-1";
        // Any odd connector taken for a screen would come first, by name.
        QTest::newRow("odd ones passed over")
            << Connectors{{"card0-A", {}, "800x600\n"},
                          {"card0-B", "connected\n", {}},
                          {"card0-C", "connected\n", ""},
                          {"card0-D", "connected\n", "abcxdef\n"},
                          {"card0-E", "connected\n", "0x1080\n"},
                          {"card0-F", "connected\n", "99999999999x5\n"},
                          {"card0-G", QByteArray("\0\xff\xfe", 3), QByteArray("\xff\0x", 3)},
                          {"card0-H", "connected", "1920x1080i\n"}}
            << QRectF(0, 0, 1920, 1080) << "H";
    }

    void drmConnectors()
    {
        QFETCH(Connectors, connectors);
        QFETCH(QRectF, expected);
        QFETCH(QString, monitorName);
        QTemporaryDir drm;
        for (const auto& [name, status, modes] : connectors) {
            QVERIFY(QDir(drm.path()).mkdir(name));
            QVERIFY(status.isNull() || writeFile(drm.filePath(name + "/status"), status));
            QVERIFY(modes.isNull() || writeFile(drm.filePath(name + "/modes"), modes));
        }
        QCOMPARE(drmConnectorFrame(drm.path()), expected);
        QCOMPARE(platform::DrmMonitorSource(drm.path()).monitors().value(0).name, monitorName);
    }
};

QTEST_GUILESS_MAIN(MainScreenTest)
#include "tst_main_screen.moc"
