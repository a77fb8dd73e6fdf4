// The uinput poster's exact kernel event stream, read through its device seam (no /dev/uinput
// is needed).
#include "PosterCalls.h"
#include "platform/UinputEventPoster.h"

#include <QStringList>
#include <QTest>
#include <libevdev/libevdev.h>
#include <limits>
#include <memory>
#include <unistd.h>

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

constexpr qint32 int32Max = std::numeric_limits<qint32>::max();
constexpr qint32 int32Min = std::numeric_limits<qint32>::min();

} // namespace

class UinputPosterTest : public QObject
{
    Q_OBJECT

private:
    QStringList m_written;
    std::unique_ptr<UinputEventPoster> m_poster;

    void addRows()
    {
        QTest::addColumn<PosterCalls>("calls");
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
            << PosterCalls{down(10.4, 20.6), up(10.4, 20.6)}
            << "ABS_X 10 ABS_Y 21 BTN_LEFT 1 SYN ABS_X 10 ABS_Y 21 BTN_LEFT 0 SYN";
        QTest::newRow("drag carries no button")
            << PosterCalls{down(100, 100), drag(150.5, 120.49), up(150.5, 120.49)}
            << "ABS_X 100 ABS_Y 100 BTN_LEFT 1 SYN ABS_X 151 ABS_Y 120 SYN "
               "ABS_X 151 ABS_Y 120 BTN_LEFT 0 SYN";
        QTest::newRow("right click")
            << PosterCalls{rightDown(700, 450), rightUp(700, 450)}
            << "ABS_X 700 ABS_Y 450 BTN_RIGHT 1 SYN ABS_X 700 ABS_Y 450 BTN_RIGHT 0 SYN";
        QTest::newRow("the type names the button, not the button argument")
            << PosterCalls{mouse(MouseEventType::LeftMouseDown, 1, 2, MouseButton::Right),
                           mouse(MouseEventType::MouseMoved, 3, 4, MouseButton::Center)}
            << "ABS_X 1 ABS_Y 2 BTN_LEFT 1 SYN ABS_X 3 ABS_Y 4 SYN";
        QTest::newRow("clamped into the screen")
            << PosterCalls{drag(-20, 5000), drag(1439.6, 899.5), drag(1e300, -1e300)}
            << "ABS_X 0 ABS_Y 899 SYN ABS_X 1439 ABS_Y 899 SYN ABS_X 1439 ABS_Y 0 SYN";
        QTest::newRow("non-finite motion and press dropped")
            << PosterCalls{drag(notANumber, 1), mouse(MouseEventType::MouseMoved, 1, infinity),
                           down(-infinity, 0), up(-infinity, 0)}
            << "";
        QTest::newRow("non-finite release still releases a held button")
            << PosterCalls{down(1, 2), up(notANumber, notANumber)}
            << "ABS_X 1 ABS_Y 2 BTN_LEFT 1 SYN BTN_LEFT 0 SYN";
        QTest::newRow("release of a button not held only moves")
            << PosterCalls{up(3, 4)} << "ABS_X 3 ABS_Y 4 SYN";
        QTest::newRow("second press of a held button only moves")
            << PosterCalls{down(1, 1), down(2, 2)}
            << "ABS_X 1 ABS_Y 1 BTN_LEFT 1 SYN ABS_X 2 ABS_Y 2 SYN";
        QTest::newRow("releaseHeldButtons lets go of both, once")
            << PosterCalls{down(1, 1), rightDown(2, 2), releaseHeld(), releaseHeld()}
            << "ABS_X 1 ABS_Y 1 BTN_LEFT 1 SYN ABS_X 2 ABS_Y 2 BTN_RIGHT 1 SYN "
               "BTN_LEFT 0 SYN BTN_RIGHT 0 SYN";
        QTest::newRow("releaseHeldButtons after a full click writes nothing")
            << PosterCalls{down(1, 1), up(1, 1), releaseHeld()}
            << "ABS_X 1 ABS_Y 1 BTN_LEFT 1 SYN ABS_X 1 ABS_Y 1 BTN_LEFT 0 SYN";
    }

    void mouseEvents()
    {
        QFETCH(PosterCalls, calls);
        QFETCH(QString, expected);
        runCalls(*m_poster, calls);
        QCOMPARE(m_written.join(QLatin1Char(' ')), expected);
    }

    void scrolling_data()
    {
        addRows();
        QTest::newRow("one pixel is 8 hi-res units")
            << PosterCalls{scroll(1)} << "REL_WHEEL_HI_RES 8 SYN";
        QTest::newRow("15 pixels are one notch")
            << PosterCalls{scroll(15)} << "REL_WHEEL_HI_RES 120 REL_WHEEL 1 SYN";
        QTest::newRow("remainder carried across calls")
            << PosterCalls{scroll(10), scroll(10), scroll(10)}
            << "REL_WHEEL_HI_RES 80 SYN REL_WHEEL_HI_RES 80 REL_WHEEL 1 SYN "
               "REL_WHEEL_HI_RES 80 REL_WHEEL 1 SYN";
        QTest::newRow("negative scrolls down")
            << PosterCalls{scroll(-30)} << "REL_WHEEL_HI_RES -240 REL_WHEEL -2 SYN";
        QTest::newRow("reversal eats the remainder first")
            << PosterCalls{scroll(10), scroll(-20), scroll(-10)}
            << "REL_WHEEL_HI_RES 80 SYN REL_WHEEL_HI_RES -160 SYN "
               "REL_WHEEL_HI_RES -80 REL_WHEEL -1 SYN";
        QTest::newRow("zero writes nothing") << PosterCalls{scroll(0)} << "";
        QTest::newRow("saturates at INT32_MAX")
            << PosterCalls{scroll(int32Max), scroll(int32Max)}
            << "REL_WHEEL_HI_RES 2147483647 REL_WHEEL 17895697 SYN "
               "REL_WHEEL_HI_RES 2147483647 REL_WHEEL 17895697 SYN";
        QTest::newRow("saturates at INT32_MIN")
            << PosterCalls{scroll(int32Min)}
            << "REL_WHEEL_HI_RES -2147483648 REL_WHEEL -17895697 SYN";
    }

    void scrolling()
    {
        QFETCH(PosterCalls, calls);
        QFETCH(QString, expected);
        runCalls(*m_poster, calls);
        QCOMPARE(m_written.join(QLatin1Char(' ')), expected);
    }

    void destroyingThePosterReleasesHeldButtons()
    {
        runCalls(*m_poster, {down(5, 6)});
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
