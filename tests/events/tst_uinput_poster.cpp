// The uinput poster without a kernel: the device it asks for, read with libevdev's getters, and
// the exact event stream it writes, read through its device seam. Its stream also shows the
// rules every device poster shares (held buttons, non-finite locations, the wheel's remainder,
// one write a flush).
#include "PosterScript.h"
#include "platform/UinputEventPoster.h"

#include <QStringList>
#include <QTest>
#include <libevdev/libevdev.h>

using platform::UinputEventPoster;

namespace {

// Renders each write as its events, "ABS_X 10" or "SYN" for a SYN_REPORT; writes apart by " | ".
// A device made for a new desktop size shows as "device 3840x1080", a device gone as "gone".
struct TextDevice final : UinputEventPoster::Device
{
    explicit TextDevice(QStringList* writes) : writes(writes) {}
    ~TextDevice() override { *writes << QStringLiteral("gone"); }
    void write(std::span<const input_event> events) override
    {
        QStringList text;
        for (const input_event& event : events) {
            text << (event.type == EV_SYN && event.code == SYN_REPORT
                         ? QStringLiteral("SYN")
                         : QStringLiteral("%1 %2")
                               .arg(libevdev_event_code_get_name(event.type, event.code))
                               .arg(event.value));
        }
        *writes << text.join(QLatin1Char(' '));
    }
    QStringList* writes;
};

// "yes" or "no" for an event code or a property, "0..1439 resolution 0" for an axis.
QString feature(const libevdev* device, const QByteArray& name)
{
    if (name == "name")
        return QString::fromUtf8(libevdev_get_name(device));
    if (name == "bus")
        return QString::number(libevdev_get_id_bustype(device));
    const QString yes = QStringLiteral("yes"), no = QStringLiteral("no");
    if (const int property = libevdev_property_from_name(name.constData()); property >= 0)
        return libevdev_has_property(device, unsigned(property)) ? yes : no;
    const int type = libevdev_event_type_from_code_name(name.constData());
    const int code = libevdev_event_code_from_code_name(name.constData());
    if (type < 0 || code < 0)
        return QStringLiteral("no such code");
    if (!libevdev_has_event_code(device, unsigned(type), unsigned(code)))
        return no;
    if (type != EV_ABS)
        return yes;
    return QStringLiteral("%1..%2 resolution %3")
        .arg(libevdev_get_abs_minimum(device, unsigned(code)))
        .arg(libevdev_get_abs_maximum(device, unsigned(code)))
        .arg(libevdev_get_abs_resolution(device, unsigned(code)));
}

} // namespace

class UinputPosterTest : public QObject
{
    Q_OBJECT

private slots:
    // An absolute pointer over a 1440x900 desktop, which udev and libinput take for neither a
    // touchscreen nor a tablet tool.
    void deviceDescription_data()
    {
        QTest::addColumn<QByteArray>("feature");
        QTest::addColumn<QString>("expected");
        QTest::newRow("x spans the screen") << QByteArray("ABS_X") << "0..1439 resolution 0";
        QTest::newRow("y spans the screen") << QByteArray("ABS_Y") << "0..899 resolution 0";
        for (const char* code :
             {"BTN_LEFT", "BTN_RIGHT", "BTN_MIDDLE", "REL_WHEEL", "REL_WHEEL_HI_RES"})
            QTest::newRow(code) << QByteArray(code) << "yes";
        for (const char* absent : {"REL_X", "BTN_TOUCH", "BTN_TOOL_PEN", "INPUT_PROP_DIRECT"})
            QTest::newRow(absent) << QByteArray(absent) << "no";
        QTest::newRow("name") << QByteArray("name") << "Tactalon virtual pointer";
        QTest::newRow("bus") << QByteArray("bus") << QString::number(BUS_VIRTUAL);
    }

    void deviceDescription()
    {
        QFETCH(QByteArray, feature);
        QFETCH(QString, expected);
        const auto description = UinputEventPoster::describeDevice(QSize(1440, 900));
        QCOMPARE(::feature(description.get(), feature), expected);
    }

    // Each row ends with the poster destroyed, so every stream also shows what destruction adds.
    void eventStream_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a frame in one write, a report ending at each button; positions rounded")
            << "down 10.4 20.6; drag 150.5 120.49; up 150.5 120.49; flush"
            << "ABS_X 10 ABS_Y 21 BTN_LEFT 1 SYN ABS_X 151 ABS_Y 120 SYN "
               "ABS_X 151 ABS_Y 120 BTN_LEFT 0 SYN";
        QTest::newRow("a right click in one frame is two reports")
            << "rightDown 700 450; rightUp 700 450; flush"
            << "ABS_X 700 ABS_Y 450 BTN_RIGHT 1 SYN ABS_X 700 ABS_Y 450 BTN_RIGHT 0 SYN";
        QTest::newRow("one write a flush, none with nothing waiting; a repeated code ends a report")
            << "drag 1 1; flush; flush; drag 2 2; scroll 15; scroll 15; flush"
            << "ABS_X 1 ABS_Y 1 SYN | ABS_X 2 ABS_Y 2 REL_WHEEL_HI_RES 120 REL_WHEEL 1 SYN "
               "REL_WHEEL_HI_RES 120 REL_WHEEL 1 SYN";
        QTest::newRow("clamped into the screen")
            << "drag -20 5000; drag 1439.6 899.5; drag 1e300 -1e300; flush"
            << "ABS_X 0 ABS_Y 899 SYN ABS_X 1439 ABS_Y 899 SYN ABS_X 1439 ABS_Y 0 SYN";
        QTest::newRow("non-finite dropped, but a non-finite release still releases")
            << "drag nan 1; move 1 inf; down -inf 0; up -inf 0; down 1 2; up nan nan; flush"
            << "ABS_X 1 ABS_Y 2 BTN_LEFT 1 SYN BTN_LEFT 0 SYN";
        QTest::newRow("only real button changes are written")
            << "up 3 4; down 1 1; down 2 2; up 2 2; up 5 5; flush"
            << "ABS_X 3 ABS_Y 4 SYN ABS_X 1 ABS_Y 1 BTN_LEFT 1 SYN ABS_X 2 ABS_Y 2 SYN "
               "ABS_X 2 ABS_Y 2 BTN_LEFT 0 SYN ABS_X 5 ABS_Y 5 SYN";
        QTest::newRow("releaseHeldButtons lets go of both, once, and writes at once")
            << "down 1 1; rightDown 2 2; releaseHeld; releaseHeld; drag 9 9"
            << "ABS_X 1 ABS_Y 1 BTN_LEFT 1 SYN ABS_X 2 ABS_Y 2 BTN_RIGHT 1 SYN "
               "BTN_LEFT 0 SYN BTN_RIGHT 0 SYN | ABS_X 9 ABS_Y 9 SYN";
        QTest::newRow("destroying the poster releases a held button, unflushed")
            << "down 5 6"
            << "ABS_X 5 ABS_Y 6 BTN_LEFT 1 SYN BTN_LEFT 0 SYN";
        // 15 pixels a notch; 8 high-resolution units a pixel, 120 a notch.
        QTest::newRow("remainder carried across scrolls, zero writes nothing")
            << "scroll 10; scroll 0; scroll 10; flush; scroll 10; flush"
            << "REL_WHEEL_HI_RES 80 SYN REL_WHEEL_HI_RES 80 REL_WHEEL 1 SYN | "
               "REL_WHEEL_HI_RES 80 REL_WHEEL 1 SYN";
        QTest::newRow("a reversal starts the remainder again")
            << "scroll 10; scroll -15; scroll 14; scroll -14; scroll -1; flush"
            << "REL_WHEEL_HI_RES 80 SYN REL_WHEEL_HI_RES -120 REL_WHEEL -1 SYN "
               "REL_WHEEL_HI_RES 112 SYN REL_WHEEL_HI_RES -112 SYN "
               "REL_WHEEL_HI_RES -8 REL_WHEEL -1 SYN";
        QTest::newRow("a runaway scroll is cut to 1000 notches")
            << "scroll 2147483647; scroll -2147483648; flush"
            << "REL_WHEEL_HI_RES 120000 REL_WHEEL 1000 SYN "
               "REL_WHEEL_HI_RES -120000 REL_WHEEL -1000 SYN";
        QTest::newRow("a moved desktop of the same size keeps the device and the button")
            << "down 5 6; desktop -100 -50 1440 900; drag 0 0; flush"
            << "ABS_X 5 ABS_Y 6 BTN_LEFT 1 SYN ABS_X 100 ABS_Y 50 SYN | BTN_LEFT 0 SYN";
        QTest::newRow("a resized desktop: button let go of, then a device of the new size")
            << "down 5 6; desktop 0 0 3840 1080; drag 3000 1000; up 3000 1000; flush; "
               "desktop 0 0 3840 1080"
            << "ABS_X 5 ABS_Y 6 BTN_LEFT 1 SYN BTN_LEFT 0 SYN | gone | device 3840x1080 | "
               "ABS_X 3000 ABS_Y 1000 SYN ABS_X 3000 ABS_Y 1000 SYN";
    }

    void eventStream()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QStringList writes;
        {
            UinputEventPoster poster(
                std::make_unique<TextDevice>(&writes), QRect(0, 0, 1440, 900),
                [&writes](QSize size, QString*) {
                    writes << QStringLiteral("device %1x%2").arg(size.width()).arg(size.height());
                    return std::make_unique<TextDevice>(&writes);
                });
            runScript(poster, script);
        }
        writes.removeLast(); // the device going with the poster
        QCOMPARE(writes.join(QStringLiteral(" | ")), expected);
    }
};

QTEST_GUILESS_MAIN(UinputPosterTest)
#include "tst_uinput_poster.moc"
