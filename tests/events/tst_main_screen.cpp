// The main screen's frame from the X server, and the DRM fallback on odd sysfs contents.
#include "platform/MainScreen.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// connector name -> {status contents, modes contents}; a null QByteArray leaves the file out.
using Connectors = QList<std::tuple<QString, QByteArray, QByteArray>>;
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

    void withoutDisplayTheDrmConnectorsTell()
    {
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        const QRectF frame = platform::mainScreenFrame();
        qputenv("DISPLAY", display);
        QCOMPARE(frame, platform::drmConnectorFrame(QStringLiteral("/sys/class/drm")));
        QCOMPARE(platform::drmConnectorFrame(QStringLiteral("/nonexistent/drm")), QRectF());
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
            << QRectF(0, 0, 1920, 1080);
    }

    void drmConnectors()
    {
        QFETCH(Connectors, connectors);
        QFETCH(QRectF, expected);
        QTemporaryDir drm;
        for (const auto& [name, status, modes] : connectors) {
            QVERIFY(QDir(drm.path()).mkdir(name));
            for (const auto& [file, contents] : {std::pair{"/status", status}, {"/modes", modes}}) {
                QFile out(drm.filePath(name + file));
                QVERIFY(contents.isNull() ||
                        (out.open(QIODevice::WriteOnly) && out.write(contents) == contents.size()));
            }
        }
        QCOMPARE(platform::drmConnectorFrame(drm.path()), expected);
    }
};

QTEST_GUILESS_MAIN(MainScreenTest)
#include "tst_main_screen.moc"
