// What the XTest poster makes the real X server of $DISPLAY deliver, seen by an X client of
// its own; and the automatic choice of a backend.
#include "PosterCalls.h"
#include "XEventObserver.h"
#include "platform/EventPoster.h"
#include "platform/UinputEventPoster.h"
#include "platform/XTestEventPoster.h"

#include <QTemporaryFile>
#include <QTest>
#include <X11/X.h>
#include <memory>
#include <unistd.h>

using platform::EventPoster;
using platform::makeEventPoster;
using platform::MouseButton;
using platform::MouseEventType;
using platform::UinputEventPoster;
using platform::XTestEventPoster;

namespace {

// Locations are offset by the main screen's origin: (100, 50) here, so that a missing
// offset shows.
const QRectF frame(100, 50, 800, 600);

// Runs `produce` with standard error going to a file, and returns what was written there.
template <typename Function> QByteArray standardErrorOf(Function produce)
{
    QTemporaryFile capture;
    if (!capture.open())
        return "cannot capture standard error";
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    produce();
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

} // namespace

class XTestPosterTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<XEventObserver> m_observer;
    std::unique_ptr<XTestEventPoster> m_poster;

    // Moves the pointer to root (1, 1) and then (0, 0) and waits for the second motion: as one
    // client's requests are handled in order, everything posted before has arrived by then.
    void settle()
    {
        m_poster->postMouseEvent(MouseEventType::MouseMoved, QPointF(-99, -49), MouseButton::Left);
        m_poster->postMouseEvent(MouseEventType::MouseMoved, QPointF(-100, -50), MouseButton::Left);
        const XPointerEvent home{XPointerEvent::Motion, 0, 0, 0};
        QVERIFY2(m_observer->waitFor([&](const XPointerEvent& event) { return event == home; }),
                 qPrintable(m_observer->toString()));
    }

private slots:
    // One observer for the whole run: its connection also keeps the X server from resetting,
    // which Xvfb does whenever its last client leaves.
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X server in DISPLAY");
        m_observer = std::make_unique<XEventObserver>();
        QVERIFY2(m_observer->start(), qPrintable(m_observer->error()));
    }

    void init()
    {
        QString failure;
        m_poster = XTestEventPoster::create(frame, &failure);
        QVERIFY2(m_poster, qPrintable(failure));
        m_observer->clear();
        settle();
        m_observer->clear();
    }

    void cleanup() { m_poster.reset(); }

    void cleanupTestCase() { m_observer.reset(); }

    void deliveredEvents_data()
    {
        QTest::addColumn<PosterCalls>("calls");
        QTest::addColumn<QString>("expected");
        QTest::newRow("left click at the rounded root position")
            << PosterCalls{down(10.4, 20.6), up(10.4, 20.6)}
            << "Motion(110,71), Press1(110,71), Motion(110,71), Release1(110,71)";
        QTest::newRow("drag")
            << PosterCalls{down(100, 100), drag(150.5, 120.49), up(150.5, 120.49)}
            << "Motion(200,150), Press1(200,150), Motion(251,170), Motion(251,170), "
               "Release1(251,170)";
        QTest::newRow("right click is button 3")
            << PosterCalls{rightDown(700, 450), rightUp(700, 450)}
            << "Motion(800,500), Press3(800,500), Motion(800,500), Release3(800,500)";
        QTest::newRow("release of a button not held only moves")
            << PosterCalls{up(3, 4)} << "Motion(103,54)";
        QTest::newRow("non-finite press dropped, non-finite release lets go where it is")
            << PosterCalls{down(notANumber, 1), down(5, 5), up(notANumber, notANumber)}
            << "Motion(105,55), Press1(105,55), Release1(105,55)";
        QTest::newRow("releaseHeldButtons")
            << PosterCalls{down(1, 1), rightDown(2, 2), releaseHeld(), releaseHeld()}
            << "Motion(101,51), Press1(101,51), Motion(102,52), Press3(102,52), "
               "Release1(102,52), Release3(102,52)";
        QTest::newRow("15 pixels up are one click of button 4")
            << PosterCalls{scroll(15)} << "Press4(0,0), Release4(0,0)";
        QTest::newRow("negative scrolls down with button 5")
            << PosterCalls{scroll(-30)} << "Press5(0,0), Release5(0,0), Press5(0,0), Release5(0,0)";
        QTest::newRow("remainder carried across calls")
            << PosterCalls{scroll(10), scroll(10), scroll(10)}
            << "Press4(0,0), Release4(0,0), Press4(0,0), Release4(0,0)";
        QTest::newRow("reversal eats the remainder first")
            << PosterCalls{scroll(10), scroll(-20), scroll(-10)} << "Press5(0,0), Release5(0,0)";
    }

    void deliveredEvents()
    {
        QFETCH(PosterCalls, calls);
        QFETCH(QString, expected);
        runCalls(*m_poster, calls);
        settle();
        QCOMPARE(m_observer->toString(), expected + QStringLiteral(", Motion(1,1), Motion(0,0)"));
    }

    void noButtonStaysDown()
    {
        runCalls(*m_poster, {down(10, 10), rightDown(20, 20)});
        settle();
        QCOMPARE(m_observer->buttonMask(), unsigned(Button1Mask | Button3Mask));
        m_poster->releaseHeldButtons();
        m_observer->clear(); // settle() must wait for a new return home, not the last one
        settle();
        QCOMPARE(m_observer->buttonMask(), 0u);
    }

    void destroyingThePosterReleasesHeldButtons()
    {
        runCalls(*m_poster, {down(10, 10)});
        settle();
        m_poster.reset();
        QVERIFY2(m_observer->waitFor([](const XPointerEvent& event) {
            return event.type == XPointerEvent::Release && event.button == 1;
        }),
                 qPrintable(m_observer->toString()));
        QCOMPARE(m_observer->buttonMask(), 0u);
    }

    void automaticChoiceWithoutUinputIsXTest()
    {
        if (::access(UinputEventPoster::devicePath, W_OK) == 0)
            QSKIP("/dev/uinput is writable here: uinput would be chosen");
        std::unique_ptr<EventPoster> poster;
        const QByteArray log = standardErrorOf([&] { poster = makeEventPoster(frame); });
        QCOMPARE(poster->backendName(), QStringLiteral("XTest"));
        QCOMPARE(log.count('\n'), 1);
        QVERIFY2(log.endsWith("Mouse events go through XTest on X display " + qgetenv("DISPLAY") +
                              " (/dev/uinput is not writable: see README)\n"),
                 log.constData());
    }

    void automaticChoiceWithNeitherDropsEverything()
    {
        if (::access(UinputEventPoster::devicePath, W_OK) == 0)
            QSKIP("/dev/uinput is writable here: uinput would be chosen");
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        std::unique_ptr<EventPoster> poster;
        const QByteArray log = standardErrorOf([&] { poster = makeEventPoster(frame); });
        qputenv("DISPLAY", display);
        QCOMPARE(poster->backendName(), QStringLiteral("none"));
        QCOMPARE(log.count('\n'), 1);
        QVERIFY2(log.endsWith("No way to post mouse events: /dev/uinput is not writable and no X "
                              "display is reachable. Touches will be ignored.\n"),
                 log.constData());
    }
};

QTEST_GUILESS_MAIN(XTestPosterTest)
#include "tst_xtest_poster.moc"
