#include "platform/XTestEventPoster.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace platform {

namespace {

constexpr unsigned leftButton = 1;
constexpr unsigned rightButton = 3;
constexpr unsigned wheelUpButton = 4;
constexpr unsigned wheelDownButton = 5;

// X coordinates travel as 16-bit numbers; clamping first also keeps lround defined.
int rootCoordinate(double value)
{
    return static_cast<int>(std::lround(std::clamp<double>(
        value, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max())));
}

bool hasXTest(Display* display)
{
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    return XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor);
}

} // namespace

std::unique_ptr<XTestEventPoster> XTestEventPoster::create(QString* failure,
                                                           std::unique_ptr<HeldButtonRecord> record)
{
    auto fail = [failure](const QString& reason) {
        if (failure)
            *failure = reason;
        return nullptr;
    };
    XDisplayPointer display = openXDisplay();
    if (!display)
        return fail(QStringLiteral("no X display is reachable"));
    if (!hasXTest(display.get())) {
        return fail(QStringLiteral("the X display %1 has no XTest extension")
                        .arg(QString::fromLocal8Bit(DisplayString(display.get()))));
    }
    return std::unique_ptr<XTestEventPoster>(
        new XTestEventPoster(std::move(display), std::move(record)));
}

XTestEventPoster::XTestEventPoster(XDisplayPointer display,
                                   std::unique_ptr<HeldButtonRecord> record)
    : m_display(std::move(display)), m_record(std::move(record))
{}

XTestEventPoster::~XTestEventPoster()
{
    releaseHeldButtons();
}

// One try: a display that cannot be reached now has most likely ended, and its buttons with it.
bool XTestEventPoster::releaseButtons(const QString& displayName, const QList<unsigned>& buttons)
{
    const XDisplayPointer display(XOpenDisplay(displayName.toLocal8Bit().constData()));
    if (!display || !hasXTest(display.get()))
        return false;
    // The server ignores the release of a button that is not down.
    for (unsigned button : buttons)
        XTestFakeButtonEvent(display.get(), button, False, CurrentTime);
    XSync(display.get(), False);
    return true;
}

QString XTestEventPoster::displayName() const
{
    return QString::fromLocal8Bit(DisplayString(m_display.get()));
}

QString XTestEventPoster::backendName() const
{
    return QStringLiteral("XTest");
}

void XTestEventPoster::moveTo(QPointF location)
{
    XTestFakeMotionEvent(m_display.get(), DefaultScreen(m_display.get()),
                         rootCoordinate(location.x()), rootCoordinate(location.y()), CurrentTime);
}

// The record names at least every button the server holds: it is written before a press is
// queued, and after a release has been flushed to the server.
void XTestEventPoster::setButton(Button button, bool down)
{
    if (down)
        recordHeldButtons();
    XTestFakeButtonEvent(m_display.get(), button == Button::Right ? rightButton : leftButton,
                         down ? True : False, CurrentTime);
    if (!down && m_record) {
        XFlush(m_display.get());
        recordHeldButtons();
    }
}

// Positive amounts scroll up: button 4.
void XTestEventPoster::turnWheel(int, int notches)
{
    const unsigned button = notches > 0 ? wheelUpButton : wheelDownButton;
    for (int i = std::abs(notches); i > 0; --i) {
        XTestFakeButtonEvent(m_display.get(), button, True, CurrentTime);
        XTestFakeButtonEvent(m_display.get(), button, False, CurrentTime);
    }
}

void XTestEventPoster::sendQueued()
{
    XFlush(m_display.get());
}

void XTestEventPoster::recordHeldButtons()
{
    if (!m_record)
        return;
    QList<unsigned> held;
    if (isHeld(Button::Left))
        held << leftButton;
    if (isHeld(Button::Right))
        held << rightButton;
    m_record->update(displayName(), held);
}

} // namespace platform
