// The uinput poster's exact kernel event stream, read through its device seam (no /dev/uinput
// is needed).
#include "platform/UinputEventPoster.h"

#include <QStringList>
#include <QTest>
#include <cmath>
#include <libevdev/libevdev.h>
#include <limits>
#include <memory>

using platform::MouseButton;
using platform::MouseEventType;
using platform::UinputEventPoster;

namespace {

// Renders every event written as "ABS_X 10", a SYN_REPORT as "SYN".
class TextDevice final : public UinputEventPoster::Device
{
public:
    explicit TextDevice(QStringList* sink) : m_sink(sink) {}

    void writeEvent(unsigned type, unsigned code, int value) override
    {
        if (type == EV_SYN && code == SYN_REPORT)
            *m_sink << QStringLiteral("SYN");
        else
            *m_sink << QStringLiteral("%1 %2")
                           .arg(QLatin1String(libevdev_event_code_get_name(type, code)))
                           .arg(value);
    }

private:
    QStringList* m_sink;
};

// One call on the poster, so that data rows can hold whole sequences.
struct Call
{
    enum Kind { Mouse, Scroll, ReleaseHeld };
    Kind kind = Mouse;
    MouseEventType type = MouseEventType::MouseMoved;
    QPointF at;
    qint32 pixels = 0;
    MouseButton button = MouseButton::Left;
};
using Calls = QList<Call>;

Call mouse(MouseEventType type, double x, double y, MouseButton button = MouseButton::Left)
{
    return {Call::Mouse, type, QPointF(x, y), 0, button};
}
Call down(double x, double y)
{
    return mouse(MouseEventType::LeftMouseDown, x, y);
}
Call up(double x, double y)
{
    return mouse(MouseEventType::LeftMouseUp, x, y);
}
Call drag(double x, double y)
{
    return mouse(MouseEventType::LeftMouseDragged, x, y);
}
Call scroll(qint32 pixels)
{
    return {Call::Scroll, {}, {}, pixels, {}};
}
Call releaseHeld()
{
    return {Call::ReleaseHeld, {}, {}, 0, {}};
}

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr qint32 int32Max = std::numeric_limits<qint32>::max();
constexpr qint32 int32Min = std::numeric_limits<qint32>::min();

} // namespace

Q_DECLARE_METATYPE(Calls)

class UinputPosterTest : public QObject
{
    Q_OBJECT

private:
    QStringList m_written;
    std::unique_ptr<UinputEventPoster> m_poster;

    void run(const Calls& calls)
    {
        for (const Call& call : calls) {
            switch (call.kind) {
            case Call::Mouse:
                m_poster->postMouseEvent(call.type, call.at, call.button);
                break;
            case Call::Scroll:
                m_poster->postScrollWheelEvent(call.pixels);
                break;
            case Call::ReleaseHeld:
                m_poster->releaseHeldButtons();
                break;
            }
        }
    }

    void addRows()
    {
        QTest::addColumn<Calls>("calls");
        QTest::addColumn<QString>("expected");
    }

private slots:
    void init()
    {
        m_poster.reset();
        m_written.clear();
        m_poster = std::make_unique<UinputEventPoster>(std::make_unique<TextDevice>(&m_written),
                                                       QSize(1440, 900));
    }

    void mouseEvents_data()
    {
        addRows();
        QTest::newRow("left click, position rounded, in the button's report")
            << Calls{down(10.4, 20.6), up(10.4, 20.6)}
            << "ABS_X 10 ABS_Y 21 BTN_LEFT 1 SYN ABS_X 10 ABS_Y 21 BTN_LEFT 0 SYN";
        QTest::newRow("drag carries no button")
            << Calls{down(100, 100), drag(150.5, 120.49), up(150.5, 120.49)}
            << "ABS_X 100 ABS_Y 100 BTN_LEFT 1 SYN ABS_X 151 ABS_Y 120 SYN "
               "ABS_X 151 ABS_Y 120 BTN_LEFT 0 SYN";
        QTest::newRow("right click")
            << Calls{mouse(MouseEventType::RightMouseDown, 700, 450, MouseButton::Right),
                     mouse(MouseEventType::RightMouseUp, 700, 450, MouseButton::Right)}
            << "ABS_X 700 ABS_Y 450 BTN_RIGHT 1 SYN ABS_X 700 ABS_Y 450 BTN_RIGHT 0 SYN";
        QTest::newRow("the type names the button, not the button argument")
            << Calls{mouse(MouseEventType::LeftMouseDown, 1, 2, MouseButton::Right),
                     mouse(MouseEventType::MouseMoved, 3, 4, MouseButton::Center)}
            << "ABS_X 1 ABS_Y 2 BTN_LEFT 1 SYN ABS_X 3 ABS_Y 4 SYN";
        QTest::newRow("clamped into the screen")
            << Calls{drag(-20, 5000), drag(1439.6, 899.5), drag(1e300, -1e300)}
            << "ABS_X 0 ABS_Y 899 SYN ABS_X 1439 ABS_Y 899 SYN ABS_X 1439 ABS_Y 0 SYN";
        QTest::newRow("non-finite motion and press dropped")
            << Calls{drag(notANumber, 1), mouse(MouseEventType::MouseMoved, 1, infinity),
                     down(-infinity, 0), up(-infinity, 0)}
            << "";
        QTest::newRow("non-finite release still releases a held button")
            << Calls{down(1, 2), up(notANumber, notANumber)}
            << "ABS_X 1 ABS_Y 2 BTN_LEFT 1 SYN BTN_LEFT 0 SYN";
        QTest::newRow("release of a button not held only moves")
            << Calls{up(3, 4)} << "ABS_X 3 ABS_Y 4 SYN";
        QTest::newRow("second press of a held button only moves")
            << Calls{down(1, 1), down(2, 2)}
            << "ABS_X 1 ABS_Y 1 BTN_LEFT 1 SYN ABS_X 2 ABS_Y 2 SYN";
        QTest::newRow("releaseHeldButtons lets go of both, once")
            << Calls{down(1, 1), mouse(MouseEventType::RightMouseDown, 2, 2, MouseButton::Right),
                     releaseHeld(), releaseHeld()}
            << "ABS_X 1 ABS_Y 1 BTN_LEFT 1 SYN ABS_X 2 ABS_Y 2 BTN_RIGHT 1 SYN "
               "BTN_LEFT 0 SYN BTN_RIGHT 0 SYN";
        QTest::newRow("releaseHeldButtons after a full click writes nothing")
            << Calls{down(1, 1), up(1, 1), releaseHeld()}
            << "ABS_X 1 ABS_Y 1 BTN_LEFT 1 SYN ABS_X 1 ABS_Y 1 BTN_LEFT 0 SYN";
    }

    void mouseEvents()
    {
        QFETCH(Calls, calls);
        QFETCH(QString, expected);
        run(calls);
        QCOMPARE(m_written.join(QLatin1Char(' ')), expected);
    }

    void scrolling_data()
    {
        addRows();
        QTest::newRow("one pixel is 8 hi-res units")
            << Calls{scroll(1)} << "REL_WHEEL_HI_RES 8 SYN";
        QTest::newRow("15 pixels are one notch")
            << Calls{scroll(15)} << "REL_WHEEL_HI_RES 120 REL_WHEEL 1 SYN";
        QTest::newRow("remainder carried across calls")
            << Calls{scroll(10), scroll(10), scroll(10)}
            << "REL_WHEEL_HI_RES 80 SYN REL_WHEEL_HI_RES 80 REL_WHEEL 1 SYN "
               "REL_WHEEL_HI_RES 80 REL_WHEEL 1 SYN";
        QTest::newRow("negative scrolls down")
            << Calls{scroll(-30)} << "REL_WHEEL_HI_RES -240 REL_WHEEL -2 SYN";
        QTest::newRow("reversal eats the remainder first")
            << Calls{scroll(10), scroll(-20), scroll(-10)}
            << "REL_WHEEL_HI_RES 80 SYN REL_WHEEL_HI_RES -160 SYN "
               "REL_WHEEL_HI_RES -80 REL_WHEEL -1 SYN";
        QTest::newRow("zero writes nothing") << Calls{scroll(0)} << "";
        QTest::newRow("saturates at INT32_MAX")
            << Calls{scroll(int32Max), scroll(int32Max)}
            << "REL_WHEEL_HI_RES 2147483647 REL_WHEEL 17895697 SYN "
               "REL_WHEEL_HI_RES 2147483647 REL_WHEEL 17895697 SYN";
        QTest::newRow("saturates at INT32_MIN")
            << Calls{scroll(int32Min)} << "REL_WHEEL_HI_RES -2147483648 REL_WHEEL -17895697 SYN";
    }

    void scrolling()
    {
        QFETCH(Calls, calls);
        QFETCH(QString, expected);
        run(calls);
        QCOMPARE(m_written.join(QLatin1Char(' ')), expected);
    }

    void destroyingThePosterReleasesHeldButtons()
    {
        run({down(5, 6)});
        m_written.clear();
        m_poster.reset();
        QCOMPARE(m_written.join(QLatin1Char(' ')), QStringLiteral("BTN_LEFT 0 SYN"));
    }

    void createReportsWhyWithoutUinput()
    {
        if (::access(UinputEventPoster::devicePath, W_OK) == 0)
            QSKIP("/dev/uinput is writable here");
        QString failure;
        QVERIFY(!UinputEventPoster::create(QRectF(0, 0, 1440, 900), &failure));
        QCOMPARE(failure, QStringLiteral("/dev/uinput is not writable"));
    }
};

QTEST_GUILESS_MAIN(UinputPosterTest)
#include "tst_uinput_poster.moc"
