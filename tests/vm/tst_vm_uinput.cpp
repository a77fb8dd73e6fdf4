// Checks what the agent's uinput device sent inside the VM (tests/vm/init), read from the
// VM's console (TACTALON_VM_CONSOLE): raw evdev reports from tactalon-evdev-reader and the
// same device through libinput's debug-events. Positions are checked in the device's own axis
// ranges, relative to the screen size the agent logged.
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// The VM's files, as framed on the console by the init script.
using Sections = QHash<QString, QStringList>;

Sections parseConsole(const QByteArray& console, bool& done)
{
    static const QRegularExpression frame(QStringLiteral("^@@tactalon-vm (begin|end) (\\S+)$"));
    Sections sections;
    QString current;
    done = false;
    for (const QByteArray& raw : console.split('\n')) {
        const QString line = QString::fromUtf8(raw).remove(QLatin1Char('\r'));
        const QRegularExpressionMatch match = frame.match(line);
        if (match.hasMatch()) {
            current = match.captured(1) == QLatin1String("begin") ? match.captured(2) : QString();
            if (!current.isEmpty())
                sections[current];
        } else if (line == QLatin1String("@@tactalon-vm done")) {
            done = true;
        } else if (!current.isEmpty()) {
            sections[current] << line;
        }
    }
    return sections;
}

struct Axis
{
    int minimum = 0;
    int maximum = 0;
    int value = 0;
};

struct Event
{
    QString type;
    QString code;
    int value = 0;
};

// The events up to a SYN_REPORT, and the pointer's position once they are applied.
struct Report
{
    QList<Event> events;
    int syncValue = 0; // 0 from a writer of the device; 1 from the kernel's own release
    int x = 0;
    int y = 0;

    std::optional<int> key(const QString& code) const
    {
        const auto found = std::ranges::find(events, code, &Event::code);
        return found == events.end() ? std::nullopt : std::optional(found->value);
    }
    int relative(const QString& code) const
    {
        const auto found = std::ranges::find(events, code, &Event::code);
        return found == events.end() ? 0 : found->value; // a report holds each code once
    }
};

// One reader's output: the device's axes, its reports, and how the reading ended.
struct Recording
{
    Axis x;
    Axis y;
    QList<Report> reports;
    QList<Event> unreported; // events after the last SYN_REPORT
    bool gone = false;
    bool ready = false;
    QStringList unexpected; // "dropped" (SYN_DROPPED), errors

    // The indexes of the reports that change `code`, with its values.
    QList<QPair<qsizetype, int>> keyChanges(const QString& code) const
    {
        QList<QPair<qsizetype, int>> changes;
        for (qsizetype index = 0; index < reports.size(); ++index) {
            if (const auto value = reports[index].key(code))
                changes.append({index, *value});
        }
        return changes;
    }
    bool hasKeyEvents() const
    {
        return std::ranges::any_of(reports, [](const Report& report) {
            return std::ranges::any_of(report.events, [](const Event& event) {
                return event.type == QLatin1String("EV_KEY");
            });
        });
    }
};

Recording parseRecording(const QStringList& lines)
{
    static const QRegularExpression axis(
        QStringLiteral("^axis (ABS_[XY]) (-?\\d+) (-?\\d+) (-?\\d+)$"));
    static const QRegularExpression event(QStringLiteral("^event (\\S+) (\\S+) (-?\\d+)$"));
    Recording recording;
    int x = 0, y = 0;
    QList<Event> pending;
    for (const QString& line : lines) {
        if (const auto match = axis.match(line); match.hasMatch()) {
            Axis& target = match.captured(1) == QLatin1String("ABS_X") ? recording.x : recording.y;
            target = {match.captured(2).toInt(), match.captured(3).toInt(),
                      match.captured(4).toInt()};
            (match.captured(1) == QLatin1String("ABS_X") ? x : y) = target.value;
        } else if (const auto match = event.match(line); match.hasMatch()) {
            const Event parsed{match.captured(1), match.captured(2), match.captured(3).toInt()};
            if (parsed.code == QLatin1String("SYN_REPORT")) {
                recording.reports.append({pending, parsed.value, x, y});
                pending.clear();
                continue;
            }
            if (parsed.code == QLatin1String("ABS_X"))
                x = parsed.value;
            else if (parsed.code == QLatin1String("ABS_Y"))
                y = parsed.value;
            pending.append(parsed);
        } else if (line == QLatin1String("gone")) {
            recording.gone = true;
        } else if (line == QLatin1String("ready")) {
            recording.ready = true;
        } else if (!line.startsWith(QLatin1String("device ")) && !line.isEmpty()) {
            recording.unexpected << line;
        }
    }
    recording.unreported = pending;
    return recording;
}

// One libinput debug-events line of the device.
struct LibinputEvent
{
    QString kind; // POINTER_BUTTON, POINTER_MOTION_ABSOLUTE, ...
    QString details;
};

QList<LibinputEvent> parseLibinput(const QStringList& lines)
{
    static const QRegularExpression event(
        QStringLiteral("^[-+ ]?event\\d+\\s+(\\w+)\\s+(?:\\+\\S+s\\s+)?(.*)$"));
    QList<LibinputEvent> events;
    for (const QString& line : lines) {
        if (const auto match = event.match(line); match.hasMatch())
            events.append({match.captured(1), match.captured(2)});
    }
    return events;
}

// Where `normalised` (0..1 across the screen) lands on `axis`: screen units clamped to the
// screen, spread over the device's range.
double expectedAxisValue(double normalised, double screenExtent, const Axis& axis)
{
    const double screen = std::clamp(normalised * screenExtent, 0.0, screenExtent - 1);
    return axis.minimum + screen * (axis.maximum - axis.minimum) / (screenExtent - 1);
}

// libinput's absolute position, in percent of the axis, as debug-events prints it.
double libinputPercent(int value, const Axis& axis)
{
    return (value - axis.minimum) * 100.0 / (axis.maximum - axis.minimum + 1);
}

const QString kLeft = QStringLiteral("BTN_LEFT");
const QString kRight = QStringLiteral("BTN_RIGHT");

} // namespace

class VmUinputTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyCaseRan();
    void screenSizeFromTheDisplayDriver();
    void libinputTakesItForAPointer();
    void reportsAreFramed_data();
    void reportsAreFramed();
    void clicksAtTheirPoints_data();
    void clicksAtTheirPoints();
    void scrollsBothWays_data();
    void scrollsBothWays();
    void noButtonWithoutAClick_data();
    void noButtonWithoutAClick();
    void buttonLetGoWhenTheAgentEnds_data();
    void buttonLetGoWhenTheAgentEnds();

private:
    Recording recording(const QString& name) const;
    QList<LibinputEvent> libinput(const QString& name) const;

    Sections m_sections;
    bool m_done = false;
    double m_screenWidth = 0;  // screen units, as the agent logged them
    double m_screenHeight = 0; // screen units
};

const QStringList kCases = {
    QStringLiteral("tap"),
    QStringLiteral("tap_top_left"),
    QStringLiteral("tap_bottom_right"),
    QStringLiteral("drag"),
    QStringLiteral("right_click"),
    QStringLiteral("scroll_down"),
    QStringLiteral("scroll_up"),
    QStringLiteral("three_fingers"),
    QStringLiteral("stopped_mid_drag"),
    QStringLiteral("killed_mid_drag"),
};

void VmUinputTest::initTestCase()
{
    QFile console(qEnvironmentVariable("TACTALON_VM_CONSOLE"));
    QVERIFY2(console.open(QIODevice::ReadOnly),
             "TACTALON_VM_CONSOLE names no readable console log of the VM");
    m_sections = parseConsole(console.readAll(), m_done);

    static const QRegularExpression resolution(QStringLiteral("Resolution: (\\d+) x (\\d+)"));
    const QString agentLog = m_sections.value(QStringLiteral("agent-1")).join(QLatin1Char('\n'));
    const QRegularExpressionMatch match = resolution.match(agentLog);
    QVERIFY2(match.hasMatch(), "the agent logged no screen size");
    m_screenWidth = match.captured(1).toDouble();
    m_screenHeight = match.captured(2).toDouble();
    QVERIFY(m_screenWidth > 1 && m_screenHeight > 1);
    QVERIFY2(agentLog.contains(QLatin1String("Mouse events go through uinput")),
             "the agent did not choose uinput");
}

Recording VmUinputTest::recording(const QString& name) const
{
    return parseRecording(m_sections.value(name + QStringLiteral(".evdev")));
}

QList<LibinputEvent> VmUinputTest::libinput(const QString& name) const
{
    return parseLibinput(m_sections.value(name + QStringLiteral(".libinput")));
}

void VmUinputTest::everyCaseRan()
{
    QVERIFY2(m_done, "the VM did not get to the end of its run");
    const QStringList notes = m_sections.value(QStringLiteral("notes"));
    QVERIFY2(notes.isEmpty(), qPrintable(notes.join(QLatin1Char('\n'))));
    for (const QString& name : kCases) {
        QVERIFY2(recording(name).ready, qPrintable(name + QStringLiteral(": no device read")));
        QVERIFY2(!libinput(name).isEmpty(), qPrintable(name + QStringLiteral(": no libinput")));
    }
}

// No X display in the VM: the agent measures the screen through the DRM connector's mode.
void VmUinputTest::screenSizeFromTheDisplayDriver()
{
    const QStringList connectors = m_sections.value(QStringLiteral("drm"));
    QVERIFY(!connectors.isEmpty());
    QCOMPARE(connectors.first(),
             QStringLiteral("connected %1x%2").arg(m_screenWidth).arg(m_screenHeight));
}

// udev's input rules and libinput see a plain pointer with absolute axes: no tablet tool, no
// touchscreen, no keyboard.
void VmUinputTest::libinputTakesItForAPointer()
{
    const QList<LibinputEvent> events = libinput(QStringLiteral("tap"));
    QVERIFY(!events.isEmpty());
    QCOMPARE(events.first().kind, QStringLiteral("DEVICE_ADDED"));
    QVERIFY2(events.first().details.contains(QLatin1String(" cap:p ")),
             qPrintable(events.first().details));
}

// Readers take a report as one moment: every event belongs to one, none is lost, a report
// holds each code once and ends after a button change.
void VmUinputTest::reportsAreFramed_data()
{
    QTest::addColumn<QString>("name");
    for (const QString& name : kCases)
        QTest::newRow(qPrintable(name)) << name;
}

void VmUinputTest::reportsAreFramed()
{
    QFETCH(QString, name);
    const Recording read = recording(name);
    QVERIFY2(read.unexpected.isEmpty(), qPrintable(read.unexpected.join(QLatin1Char('\n'))));
    QVERIFY(read.unreported.isEmpty());
    QVERIFY(!read.reports.isEmpty());
    QVERIFY(read.x.maximum > read.x.minimum && read.y.maximum > read.y.minimum);
    for (const Report& report : read.reports) {
        QSet<QString> codes;
        for (qsizetype index = 0; index < report.events.size(); ++index) {
            const Event& event = report.events[index];
            QVERIFY2(!codes.contains(event.code), qPrintable(event.code + " twice in a report"));
            codes.insert(event.code);
            if (event.type == QLatin1String("EV_KEY"))
                QCOMPARE(index, report.events.size() - 1);
        }
    }
}

void VmUinputTest::clicksAtTheirPoints_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QPointF>("press");   // normalised, 0,0 top-left
    QTest::addColumn<QPointF>("release"); // normalised
    QTest::addColumn<int>("tolerance");   // device units
    // The corners: 1 1 is a pixel beyond the screen, clamped to the axes' maxima.
    QTest::newRow("tap") << "tap" << kLeft << QPointF(0.25, 0.75) << QPointF(0.25, 0.75) << 1;
    QTest::newRow("tap top-left") << "tap_top_left" << kLeft << QPointF(0, 0) << QPointF(0, 0) << 0;
    QTest::newRow("tap bottom-right")
        << "tap_bottom_right" << kLeft << QPointF(1, 1) << QPointF(1, 1) << 0;
    QTest::newRow("drag") << "drag" << kLeft << QPointF(0.2, 0.3) << QPointF(0.7, 0.6) << 1;
    QTest::newRow("two-finger tap")
        << "right_click" << kRight << QPointF(0.6, 0.4) << QPointF(0.6, 0.4) << 1;
}

void VmUinputTest::clicksAtTheirPoints()
{
    QFETCH(QString, name);
    QFETCH(QString, button);
    QFETCH(QPointF, press);
    QFETCH(QPointF, release);
    QFETCH(int, tolerance);
    const Recording read = recording(name);
    const QString other = button == kLeft ? kRight : kLeft;
    QVERIFY(read.keyChanges(other).isEmpty());
    const auto changes = read.keyChanges(button);
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes[0].second, 1);
    QCOMPARE(changes[1].second, 0);

    // Where a report left the pointer, when it is not near `expected`.
    const auto misplaced = [&](const Report& report, QPointF expected) -> QString {
        const double x = expectedAxisValue(expected.x(), m_screenWidth, read.x);
        const double y = expectedAxisValue(expected.y(), m_screenHeight, read.y);
        if (std::abs(report.x - x) <= tolerance && std::abs(report.y - y) <= tolerance)
            return {};
        return QStringLiteral("at %1,%2, expected %3,%4").arg(report.x).arg(report.y).arg(x).arg(y);
    };
    const QString pressMisplaced = misplaced(read.reports[changes[0].first], press);
    QVERIFY2(pressMisplaced.isEmpty(), qPrintable(QStringLiteral("press ") + pressMisplaced));
    const QString releaseMisplaced = misplaced(read.reports[changes[1].first], release);
    QVERIFY2(releaseMisplaced.isEmpty(), qPrintable(QStringLiteral("release ") + releaseMisplaced));
    if (name == QLatin1String("drag"))
        QVERIFY2(changes[1].first - changes[0].first > 5, "no motion while the button was held");

    // libinput: the press, after motion to the raw press position, then the release.
    static const QRegularExpression position(QStringLiteral("(-?[\\d.]+)/\\s*(-?[\\d.]+)"));
    const Report& pressed = read.reports[changes[0].first];
    QStringList buttons;
    std::optional<QPointF> lastPosition, pressPosition;
    for (const LibinputEvent& event : libinput(name)) {
        if (event.kind == QLatin1String("POINTER_MOTION_ABSOLUTE")) {
            const auto match = position.match(event.details);
            if (match.hasMatch())
                lastPosition = QPointF(match.captured(1).toDouble(), match.captured(2).toDouble());
        } else if (event.kind == QLatin1String("POINTER_BUTTON")) {
            const bool down = event.details.contains(QLatin1String(" pressed"));
            buttons << event.details.section(QLatin1Char(' '), 0, 0).trimmed() +
                           (down ? QStringLiteral(" down") : QStringLiteral(" up"));
            if (down && !pressPosition)
                pressPosition = lastPosition;
        }
    }
    QCOMPARE(buttons, QStringList({button + " down", button + " up"}));
    QVERIFY2(pressPosition, "libinput saw no position before the press");
    QVERIFY(std::abs(pressPosition->x() - libinputPercent(pressed.x, read.x)) < 0.011);
    QVERIFY(std::abs(pressPosition->y() - libinputPercent(pressed.y, read.y)) < 0.011);
}

void VmUinputTest::scrollsBothWays_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("fingersMove"); // normalised, down positive
    QTest::newRow("fingers down: up") << "scroll_down" << 0.2;
    QTest::newRow("fingers up: down") << "scroll_up" << -0.2;
}

void VmUinputTest::scrollsBothWays()
{
    QFETCH(QString, name);
    QFETCH(double, fingersMove);
    const Recording read = recording(name);
    const int sign = fingersMove > 0 ? 1 : -1; // positive REL_WHEEL scrolls up
    constexpr int unitsPerNotch = 120;         // REL_WHEEL_HI_RES
    constexpr int unitsPerPixel = unitsPerNotch / 15;
    // Anchored scrolling posts the fingers' offset every frame: at the end, the whole move.
    const int fullOffset = int(std::abs(fingersMove) * m_screenHeight); // pixels
    // Each case starts with no pixels left over: the first scroll, then a reversal.
    int notches = 0, units = 0, largest = 0;
    for (const Report& report : read.reports) {
        const int reportUnits = report.relative(QStringLiteral("REL_WHEEL_HI_RES"));
        const int reportNotches = report.relative(QStringLiteral("REL_WHEEL"));
        QVERIFY(reportUnits * sign >= 0 && reportNotches * sign >= 0);
        units += reportUnits;
        notches += reportNotches;
        largest = std::max(largest, std::abs(reportUnits));
        // Whole notches of what was scrolled so far: the rest waits for the next report.
        QCOMPARE(notches, units / unitsPerNotch);
    }
    QVERIFY2(
        std::abs(largest - fullOffset * unitsPerPixel) <= 2 * unitsPerPixel, // centre rounding
        qPrintable(
            QStringLiteral("largest step %1 units for %2 pixels").arg(largest).arg(fullOffset)));
    QVERIFY(std::abs(notches) >= 10);

    // libinput takes the high-resolution wheel; its vertical axis points the other way.
    static const QRegularExpression vertical(QStringLiteral("vert (-?[\\d.]+)/(-?[\\d.]+)"));
    double libinputUnits = 0;
    for (const LibinputEvent& event : libinput(name)) {
        if (event.kind != QLatin1String("POINTER_SCROLL_WHEEL"))
            continue;
        const auto match = vertical.match(event.details);
        QVERIFY(match.hasMatch());
        libinputUnits += match.captured(2).toDouble();
    }
    QVERIFY2(std::abs(libinputUnits + units) < unitsPerNotch,
             qPrintable(QStringLiteral("libinput %1, device %2").arg(libinputUnits).arg(units)));
}

// Scrolling and a third finger move the pointer at most.
void VmUinputTest::noButtonWithoutAClick_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name : {"three_fingers", "scroll_down", "scroll_up"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void VmUinputTest::noButtonWithoutAClick()
{
    QFETCH(QString, name);
    QVERIFY(!recording(name).hasKeyEvents());
    for (const LibinputEvent& event : libinput(name))
        QVERIFY(event.kind != QLatin1String("POINTER_BUTTON"));
}

// The agent lets go of a held button itself when told to end: its release is a report it
// wrote (SYN_REPORT 0) before the device went away. Killed, it cannot: then only the kernel
// lets go, in the report it makes when removing the device (SYN_REPORT 1).
void VmUinputTest::buttonLetGoWhenTheAgentEnds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<int>("releaseSync");
    QTest::newRow("SIGTERM: the agent") << "stopped_mid_drag" << 0 << 0;
    QTest::newRow("SIGKILL: the kernel") << "killed_mid_drag" << 128 + 9 << 1;
}

void VmUinputTest::buttonLetGoWhenTheAgentEnds()
{
    QFETCH(QString, name);
    QFETCH(int, exitStatus);
    QFETCH(int, releaseSync);
    const QStringList status = m_sections.value(name + QStringLiteral(".status"));
    QVERIFY2(status.contains(QLatin1String("finger-down-at-signal")),
             "the gesture ended before the signal");
    QVERIFY(status.contains(QStringLiteral("agent-exit %1").arg(exitStatus)));

    const Recording read = recording(name);
    const auto changes = read.keyChanges(kLeft);
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes[0].second, 1);
    QCOMPARE(changes[1].second, 0);
    QCOMPARE(changes[1].first, read.reports.size() - 1); // the last report before removal
    const Report& released = read.reports.last();
    QCOMPARE(released.events.size(), 1);
    QCOMPARE(released.syncValue, releaseSync);
    QVERIFY(read.gone);

    QStringList seen;
    for (const LibinputEvent& event : libinput(name)) {
        if (event.kind == QLatin1String("POINTER_BUTTON") ||
            event.kind == QLatin1String("DEVICE_REMOVED"))
            seen << event.kind + (event.details.contains(QLatin1String(" released")) ? " up" : "");
    }
    QCOMPARE(seen, QStringList({"POINTER_BUTTON", "POINTER_BUTTON up", "DEVICE_REMOVED"}));
}

QTEST_GUILESS_MAIN(VmUinputTest)
#include "tst_vm_uinput.moc"
