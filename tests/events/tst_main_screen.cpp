// The main screen's frame from the X server, and the DRM fallback on odd sysfs contents.
#include "platform/MainScreen.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// connector name -> {status contents, modes contents}; a null QByteArray leaves the file out.
using Connectors = QList<std::tuple<QString, QByteArray, QByteArray>>;

void writeFile(const QString& path, const QByteArray& contents)
{
    if (contents.isNull())
        return;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

} // namespace

Q_DECLARE_METATYPE(Connectors)

class MainScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void xServerScreen()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the test X server (1440x900) in DISPLAY");
        QCOMPARE(platform::mainScreenFrame(), QRectF(0, 0, 1440, 900));
    }

    void noDisplayAndNoDrmGivesAnEmptyFrame()
    {
        if (QDir(QStringLiteral("/sys/class/drm")).exists())
            QSKIP("this machine has DRM connectors");
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        const QRectF frame = platform::mainScreenFrame();
        qputenv("DISPLAY", display);
        QCOMPARE(frame, QRectF());
    }

    void drmConnectors_data()
    {
        QTest::addColumn<Connectors>("connectors");
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("first connected one, its first mode")
            << Connectors{{"card0-DP-1", "disconnected\n", "800x600\n"},
                          {"card0-HDMI-A-1", "connected\n", "1920x1080\n1280x720\n"},
                          {"card0-HDMI-A-2", "connected\n", "1024x768\n"}}
            << QRectF(0, 0, 1920, 1080);
        QTest::newRow("connected without modes is passed over")
            << Connectors{{"card0-DP-1", "connected\n", ""},
                          {"card0-DP-2", "connected\n", "2560x1440\n"}}
            << QRectF(0, 0, 2560, 1440);
        QTest::newRow("interlaced suffix")
            << Connectors{{"card0-VGA-1", "connected", "1920x1080i\n"}} << QRectF(0, 0, 1920, 1080);
        QTest::newRow("no status file") << Connectors{{"card0-DP-1", {}, "800x600\n"}} << QRectF();
        QTest::newRow("no modes file") << Connectors{{"card0-DP-1", "connected\n", {}}} << QRectF();
        QTest::newRow("garbage mode")
            << Connectors{{"card0-DP-1", "connected\n", "abcxdef\n"}} << QRectF();
        QTest::newRow("zero size")
            << Connectors{{"card0-DP-1", "connected\n", "0x1080\n"}} << QRectF();
        QTest::newRow("absurd size")
            << Connectors{{"card0-DP-1", "connected\n", "99999999999x5\n"}} << QRectF();
        QTest::newRow("binary junk")
            << Connectors{{"card0-DP-1", QByteArray("\0\xff\xfe", 3), QByteArray("\xff\0x", 3)}}
            << QRectF();
        QTest::newRow("nothing at all") << Connectors{} << QRectF();
    }

    void drmConnectors()
    {
        QFETCH(Connectors, connectors);
        QFETCH(QRectF, expected);
        QTemporaryDir drm;
        for (const auto& [name, status, modes] : connectors) {
            QVERIFY(QDir(drm.path()).mkdir(name));
            writeFile(drm.filePath(name + "/status"), status);
            writeFile(drm.filePath(name + "/modes"), modes);
        }
        QCOMPARE(platform::drmConnectorFrame(drm.path()), expected);
    }

    void missingDrmFolder()
    {
        QCOMPARE(platform::drmConnectorFrame(QStringLiteral("/nonexistent/drm")), QRectF());
    }
};

QTEST_GUILESS_MAIN(MainScreenTest)
#include "tst_main_screen.moc"
