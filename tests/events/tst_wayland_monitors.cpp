// The outputs of a real compositor, Weston, as the Wayland monitor source reports them: one
// output of its headless backend, and two of its X11 backend (windows on the X server of
// $DISPLAY), one of them scaled; resizing such a window and ending Weston are changes.
#include "platform/WaylandMonitorSource.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using platform::Monitor;
using platform::WaylandMonitorSource;

namespace {

// A Weston of its own, with its socket in a private runtime folder.
class Weston
{
public:
    Weston(QStringList arguments, const QByteArray& config)
    {
        QFile file(m_runtime.filePath("weston.ini"));
        if (file.open(QIODevice::WriteOnly))
            file.write(config);
        arguments << "--socket=weston-test"
                  << "--shell=kiosk-shell.so"
                  << "--idle-time=0"
                  << "--config=" + file.fileName();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", m_runtime.path());
        environment.remove("WAYLAND_DISPLAY");
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start("weston", arguments);
    }

    ~Weston() { stop(); }

    // True once Weston listens on its socket.
    bool waitForSocket()
    {
        for (int waited = 0; waited < 20000 && m_process.state() != QProcess::NotRunning;
             waited += 50) {
            if (QFile::exists(socketPath()))
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    QString socketPath() const { return m_runtime.filePath("weston-test"); }
    QString output() { return QString::fromLocal8Bit(m_process.readAll()); }

    void stop()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QTemporaryDir m_runtime;
    QProcess m_process;
};

// Two windows of 800x600 and 640x480 logical pixels; the second at scale 2, so that its mode
// (1280x960) differs from its logical size.
const QByteArray twoOutputs = "[output]\nname=X1\nmode=800x600\n"
                              "[output]\nname=X2\nmode=640x480\nscale=2\n";
const QStringList x11Backend{"--backend=x11-backend.so", "--output-count=2", "--use-pixman"};

// "X1 0,0 800x600, X2 800,0 640x480"; a primary monitor would say so.
QString describe(const QList<Monitor>& monitors)
{
    QStringList parts;
    for (const Monitor& m : monitors) {
        const QRect& g = m.geometry;
        parts << QString::asprintf("%s %d,%d %dx%d%s", qPrintable(m.name), g.x(), g.y(), g.width(),
                                   g.height(), m.primary ? " primary" : "");
    }
    return parts.join(", ");
}

std::unique_ptr<WaylandMonitorSource> connectTo(const QString& socketPath)
{
    qputenv("WAYLAND_DISPLAY", socketPath.toLocal8Bit());
    return WaylandMonitorSource::connectToCompositor();
}

} // namespace

class WaylandMonitorsTest : public QObject
{
    Q_OBJECT

private slots:
    void noCompositorIsNoSource_data()
    {
        QTest::addColumn<QByteArray>("waylandDisplay");
        QTest::newRow("unset") << QByteArray();
        QTest::newRow("no socket there") << QByteArray("/nonexistent/wayland-test");
    }

    void noCompositorIsNoSource()
    {
        QFETCH(QByteArray, waylandDisplay);
        qputenv("WAYLAND_DISPLAY", waylandDisplay);
        QVERIFY(!WaylandMonitorSource::connectToCompositor());
    }

    void outputsAreNamedInLogicalPixels_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("expected");
        QTest::newRow("headless") << QStringList{"--backend=headless-backend.so", "--width=1024",
                                                 "--height=768"}
                                  << QByteArray() << "headless 0,0 1024x768";
        QTest::newRow("two X11 windows, one scaled")
            << x11Backend << twoOutputs << "X1 0,0 800x600, X2 800,0 640x480";
    }

    void outputsAreNamedInLogicalPixels()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, config);
        QFETCH(QString, expected);
        if (arguments == x11Backend && qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X server in DISPLAY");
        Weston weston(arguments, config);
        QVERIFY2(weston.waitForSocket(), qPrintable(weston.output()));
        auto source = connectTo(weston.socketPath());
        QVERIFY(source);
        QTRY_COMPARE_WITH_TIMEOUT(describe(source->monitors()), expected, 10000);
    }

    // A resized output moves the one beside it; a compositor that ends leaves no outputs.
    void changesAreAnnounced()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X server in DISPLAY");
        Weston weston(x11Backend, twoOutputs);
        QVERIFY2(weston.waitForSocket(), qPrintable(weston.output()));
        auto source = connectTo(weston.socketPath());
        QVERIFY(source);
        QTRY_COMPARE_WITH_TIMEOUT(describe(source->monitors()), "X1 0,0 800x600, X2 800,0 640x480",
                                  10000);
        QSignalSpy changed(source.get(), &WaylandMonitorSource::monitorsChanged);

        QProcess resize;
        resize.start("sh", {"-c", "xdotool windowsize $(xwininfo -root -tree | awk "
                                  "'/\"Weston Compositor - X1\"/ {print $1}') 900 700"});
        QVERIFY(resize.waitForFinished(10000));
        QCOMPARE(resize.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(describe(source->monitors()), "X1 0,0 900x700, X2 900,0 640x480",
                                  10000);
        QVERIFY(changed.count() >= 1);

        changed.clear();
        weston.stop();
        QTRY_VERIFY_WITH_TIMEOUT(source->monitors().isEmpty(), 10000);
        QCOMPARE(changed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(WaylandMonitorsTest)
#include "tst_wayland_monitors.moc"
