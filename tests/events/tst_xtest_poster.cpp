// What the XTest poster makes the real X server of $DISPLAY deliver, and when, seen by an X
// client of its own; and the automatic choice of a backend. The rules every device poster shares
// are tested through the uinput poster's stream.
#include "PosterScript.h"
#include "XEventObserver.h"
#include "platform/UinputEventPoster.h"
#include "platform/XTestEventPoster.h"
#include "support/StandardError.h"

#include <QTemporaryDir>
#include <QTest>
#include <X11/X.h>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using platform::XTestEventPoster;

namespace {

// The automatic choice, and what it wrote to standard error.
std::pair<platform::EventBackendChoice, QByteArray> chooseBackend()
{
    platform::EventBackendChoice choice;
    const QByteArray log = standardErrorOf(
        [&] { platform::makeEventPoster(QRect(0, 0, 1440, 900), &choice); });
    return {choice, log};
}

// Sets an environment variable for the life of this object (an empty value unsets it).
class ScopedVariable
{
public:
    ScopedVariable(const char* name, const QByteArray& value)
        : m_name(name), m_old(qgetenv(name)), m_wasSet(qEnvironmentVariableIsSet(name))
    {
        value.isEmpty() ? qunsetenv(name) : qputenv(name, value);
    }
    ~ScopedVariable() { m_wasSet ? qputenv(m_name, m_old) : qunsetenv(m_name); }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_wasSet;
};

} // namespace

class XTestPosterTest : public QObject
{
    Q_OBJECT

private:
    XEventObserver m_observer;
    std::unique_ptr<XTestEventPoster> m_poster;
    QTemporaryDir m_runtimeFolder; // the automatic choice looks there for held-button records

    // Moves the pointer to root (1, 1), then (0, 0), flushes, and waits for that return home: a
    // client's requests are handled in order, so all posted before has arrived. Clear the
    // observer first.
    void settle()
    {
        runScript(*m_poster, QStringLiteral("move 1 1; move 0 0; flush"));
        const XPointerEvent home{XPointerEvent::Motion, 0, 0, 0};
        QVERIFY2(m_observer.waitFor([&](const XPointerEvent& event) { return event == home; }),
                 qPrintable(m_observer.toString()));
    }

private slots:
    // One observer for the whole run: its connection also keeps the X server from resetting,
    // which Xvfb does whenever its last client leaves.
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X server in DISPLAY");
        QVERIFY2(m_observer.start(), qPrintable(m_observer.error()));
        qputenv("XDG_RUNTIME_DIR", m_runtimeFolder.path().toLocal8Bit());
    }

    void init()
    {
        QString failure;
        m_poster = XTestEventPoster::create(&failure);
        QVERIFY2(m_poster, qPrintable(failure));
        m_observer.clear();
        settle();
        m_observer.clear();
    }

    void cleanup() { m_poster.reset(); }

    void deliveredEvents_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        // Locations are root-window pixels as they come: the poster adds no offset of its own.
        QTest::newRow("press, drag, release at the rounded root positions")
            << "down 10.4 20.6; drag 150.5 120.49; up 150.5 120.49"
            << "Motion(10,21), Press1(10,21), Motion(151,120), Motion(151,120), "
               "Release1(151,120)";
        QTest::newRow("right click is button 3")
            << "rightDown 700 450; rightUp 700 450"
            << "Motion(700,450), Press3(700,450), Motion(700,450), Release3(700,450)";
        // 15 pixels a click; the 5 left over going up do not count going down.
        QTest::newRow("the wheel is button 4 up, 5 down")
            << "scroll 10; scroll 10; scroll -30"
            << "Press4(0,0), Release4(0,0), Press5(0,0), Release5(0,0), Press5(0,0), "
               "Release5(0,0)";
    }

    void deliveredEvents()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        runScript(*m_poster, script);
        settle();
        QCOMPARE(m_observer.toString(), expected + QStringLiteral(", Motion(1,1), Motion(0,0)"));
        QCOMPARE(m_observer.buttonMask(), 0u);
    }

    // A frame costs one write to the server: nothing of it arrives before its flush.
    void aFrameGoesOutAtItsFlush()
    {
        runScript(*m_poster, QStringLiteral("drag 20 20; drag 30 30"));
        QVERIFY2(!m_observer.waitFor([](const XPointerEvent&) { return true; }, 300),
                 qPrintable(m_observer.toString()));
        runScript(*m_poster, QStringLiteral("flush"));
        QVERIFY2(m_observer.waitForCount(2), qPrintable(m_observer.toString()));
        QCOMPARE(m_observer.toString(), QStringLiteral("Motion(20,20), Motion(30,30)"));
    }

    void destroyingThePosterLeavesNoButtonDown()
    {
        runScript(*m_poster, QStringLiteral("down 10 10; rightDown 20 20"));
        settle();
        QCOMPARE(m_observer.buttonMask(), unsigned(Button1Mask | Button3Mask));
        m_observer.clear();
        m_poster.reset();
        QVERIFY2(m_observer.waitForCount(2), qPrintable(m_observer.toString()));
        QCOMPARE(m_observer.toString(), QStringLiteral("Release1(0,0), Release3(0,0)"));
        QCOMPARE(m_observer.buttonMask(), 0u);
    }

    // One line names the choice; in a Wayland session XTest reaches X11 windows only, and the
    // line says so, why, and what to do.
    void automaticChoiceLogsOneLine_data()
    {
        QTest::addColumn<QByteArray>("waylandDisplay");
        QTest::addColumn<QByteArray>("sessionType");
        QTest::addColumn<bool>("xDisplay");
        QTest::addColumn<QString>("expectedChoice");
        QTest::addColumn<QString>("expectedLine");
        const QString xtest = "Mouse events go through XTest on X display %display because "
                              "%uinput: see README";
        const QString wayland = "Clicks will reach X11 (XWayland) windows only: this is a "
                                "Wayland session and %uinput, so mouse events go through XTest "
                                "on X display %display. To reach every window, give the agent "
                                "access to /dev/uinput with the udev rule "
                                "data/70-tactalon-uinput.rules (see README)";
        QTest::newRow("X11 session")
            << QByteArray() << QByteArray("x11") << true << "XTest: %uinput" << xtest;
        QTest::newRow("WAYLAND_DISPLAY set")
            << QByteArray("wayland-0") << QByteArray() << true << "XTest: %uinput" << wayland;
        QTest::newRow("XDG_SESSION_TYPE wayland")
            << QByteArray() << QByteArray("wayland") << true << "XTest: %uinput" << wayland;
        QTest::newRow("no X display")
            << QByteArray("wayland-0") << QByteArray() << false
            << "none: %uinput and no X display is reachable"
            << "No way to post mouse events: %uinput and no X display is reachable. Touches "
               "will be ignored.";
    }

    void automaticChoiceLogsOneLine()
    {
        QFETCH(QByteArray, waylandDisplay);
        QFETCH(QByteArray, sessionType);
        QFETCH(bool, xDisplay);
        QFETCH(QString, expectedChoice);
        QFETCH(QString, expectedLine);
        if (::access(platform::UinputEventPoster::devicePath, W_OK) == 0)
            QSKIP("/dev/uinput is writable here: uinput would be chosen");
        const int accessError = errno; // missing, or permission denied
        const QString uinput = QStringLiteral("/dev/uinput is not writable (%1)")
                                   .arg(QString::fromLocal8Bit(std::strerror(accessError)));
        const QString display = qEnvironmentVariable("DISPLAY");
        auto expand = [&](QString text) {
            return text.replace("%uinput", uinput).replace("%display", display);
        };

        const ScopedVariable wayland("WAYLAND_DISPLAY", waylandDisplay);
        const ScopedVariable session("XDG_SESSION_TYPE", sessionType);
        const ScopedVariable x("DISPLAY", xDisplay ? display.toLocal8Bit() : QByteArray());
        const auto [choice, log] = chooseBackend();
        QCOMPARE(choice.text(), expand(expectedChoice));
        QCOMPARE(log.count('\n'), 1);
        QVERIFY2(log.endsWith(" " + expand(expectedLine).toUtf8() + "\n"), log.constData());
    }
};

QTEST_GUILESS_MAIN(XTestPosterTest)
#include "tst_xtest_poster.moc"
