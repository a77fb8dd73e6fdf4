// The uinput poster's exact kernel event stream, read through its device seam (no /dev/uinput
// is needed).
#include "PosterScript.h"
#include "platform/UinputEventPoster.h"

#include <QStringList>
#include <QTest>
#include <libevdev/libevdev.h>

using platform::UinputEventPoster;

namespace {

// Renders every event written as "ABS_X 10", a SYN_REPORT as "SYN".
struct TextDevice final : UinputEventPoster::Device
{
    explicit TextDevice(QStringList* sink) : sink(sink) {}
    void writeEvent(unsigned type, unsigned code, int value) override
    {
        *sink << (type == EV_SYN && code == SYN_REPORT
                      ? QStringLiteral("SYN")
                      : QStringLiteral("%1 %2")
                            .arg(libevdev_event_code_get_name(type, code))
                            .arg(value));
    }
    QStringList* sink;
};

} // namespace

class UinputPosterTest : public QObject
{
    Q_OBJECT

private slots:
    // Each row ends with the poster destroyed, so every stream also shows what destruction adds.
    void eventStream_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("press, drag, release; positions rounded, buttons in their motion's report")
            << "down 10.4 20.6; drag 150.5 120.49; up 150.5 120.49"
            << "ABS_X 10 ABS_Y 21 BTN_LEFT 1 SYN ABS_X 151 ABS_Y 120 SYN "
               "ABS_X 151 ABS_Y 120 BTN_LEFT 0 SYN";
        QTest::newRow("right click")
            << "rightDown 700 450; rightUp 700 450"
            << "ABS_X 700 ABS_Y 450 BTN_RIGHT 1 SYN ABS_X 700 ABS_Y 450 BTN_RIGHT 0 SYN";
        QTest::newRow("clamped into the screen")
            << "drag -20 5000; drag 1439.6 899.5; drag 1e300 -1e300"
            << "ABS_X 0 ABS_Y 899 SYN ABS_X 1439 ABS_Y 899 SYN ABS_X 1439 ABS_Y 0 SYN";
        QTest::newRow("non-finite dropped, but a non-finite release still releases")
            << "drag nan 1; move 1 inf; down -inf 0; up -inf 0; down 1 2; up nan nan"
            << "ABS_X 1 ABS_Y 2 BTN_LEFT 1 SYN BTN_LEFT 0 SYN";
        QTest::newRow("only real button changes are written")
            << "up 3 4; down 1 1; down 2 2; up 2 2; up 5 5"
            << "ABS_X 3 ABS_Y 4 SYN ABS_X 1 ABS_Y 1 BTN_LEFT 1 SYN ABS_X 2 ABS_Y 2 SYN "
               "ABS_X 2 ABS_Y 2 BTN_LEFT 0 SYN ABS_X 5 ABS_Y 5 SYN";
        QTest::newRow("releaseHeldButtons lets go of both, once")
            << "down 1 1; rightDown 2 2; releaseHeld; releaseHeld"
            << "ABS_X 1 ABS_Y 1 BTN_LEFT 1 SYN ABS_X 2 ABS_Y 2 BTN_RIGHT 1 SYN "
               "BTN_LEFT 0 SYN BTN_RIGHT 0 SYN";
        QTest::newRow("destroying the poster releases a held button")
            << "down 5 6"
            << "ABS_X 5 ABS_Y 6 BTN_LEFT 1 SYN BTN_LEFT 0 SYN";
        // 8 hi-res units a pixel, 120 a notch.
        QTest::newRow("remainder carried across calls, zero writes nothing")
            << "scroll 10; scroll 0; scroll 10; scroll 10"
            << "REL_WHEEL_HI_RES 80 SYN REL_WHEEL_HI_RES 80 REL_WHEEL 1 SYN "
               "REL_WHEEL_HI_RES 80 REL_WHEEL 1 SYN";
        QTest::newRow("negative; a reversal eats the remainder first")
            << "scroll 10; scroll -20; scroll -10; scroll -30"
            << "REL_WHEEL_HI_RES 80 SYN REL_WHEEL_HI_RES -160 SYN "
               "REL_WHEEL_HI_RES -80 REL_WHEEL -1 SYN REL_WHEEL_HI_RES -240 REL_WHEEL -2 SYN";
        QTest::newRow("saturates at INT32_MAX")
            << "scroll 2147483647; scroll 2147483647"
            << "REL_WHEEL_HI_RES 2147483647 REL_WHEEL 17895697 SYN "
               "REL_WHEEL_HI_RES 2147483647 REL_WHEEL 17895697 SYN";
        QTest::newRow("saturates at INT32_MIN")
            << "scroll -2147483648"
            << "REL_WHEEL_HI_RES -2147483648 REL_WHEEL -17895697 SYN";
    }

    void eventStream()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QStringList written;
        {
            UinputEventPoster poster(std::make_unique<TextDevice>(&written), QSize(1440, 900));
            runScript(poster, script);
        }
        QCOMPARE(written.join(QLatin1Char(' ')), expected);
    }
};

QTEST_GUILESS_MAIN(UinputPosterTest)
#include "tst_uinput_poster.moc"
