#include "platform/XTestEventPoster.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <cmath>
#include <limits>

namespace platform {

namespace {

constexpr unsigned leftButton = 1;
constexpr unsigned rightButton = 3;
constexpr unsigned wheelUpButton = 4;
constexpr unsigned wheelDownButton = 5;

bool isFinite(QPointF location)
{
    return std::isfinite(location.x()) && std::isfinite(location.y());
}

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

std::unique_ptr<XTestEventPoster> XTestEventPoster::create(const QRectF& mainScreenFrame,
                                                           QString* failure,
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
        new XTestEventPoster(std::move(display), mainScreenFrame.topLeft(), std::move(record)));
}

XTestEventPoster::XTestEventPoster(XDisplayPointer display, QPointF origin,
                                   std::unique_ptr<HeldButtonRecord> record)
    : m_display(std::move(display)), m_origin(origin), m_record(std::move(record))
{}

// Every press we post has a release, also when the poster goes away first.
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

void XTestEventPoster::postMouseEvent(MouseEventType type, QPointF location, MouseButton)
{
    switch (type) {
    case MouseEventType::MouseMoved:
    case MouseEventType::LeftMouseDragged:
        postMotion(location);
        break;
    case MouseEventType::LeftMouseDown:
        postPress(leftButton, location);
        break;
    case MouseEventType::RightMouseDown:
        postPress(rightButton, location);
        break;
    case MouseEventType::LeftMouseUp:
        postRelease(leftButton, location);
        break;
    case MouseEventType::RightMouseUp:
        postRelease(rightButton, location);
        break;
    }
    XFlush(m_display.get());
}

void XTestEventPoster::postScrollWheelEvent(qint32 pixels)
{
    m_scrollRemainder += pixels;
    const qint64 clicks = m_scrollRemainder / pixelsPerClick; // toward zero
    m_scrollRemainder -= clicks * pixelsPerClick;
    // Positive amounts scroll up: button 4.
    click(clicks > 0 ? wheelUpButton : wheelDownButton,
          std::min<qint64>(std::abs(clicks), maximumClicksPerScroll));
    XFlush(m_display.get());
}

void XTestEventPoster::releaseHeldButtons()
{
    for (unsigned button : {leftButton, rightButton})
        setButton(button, false);
    XFlush(m_display.get());
}

void XTestEventPoster::postMotion(QPointF location)
{
    moveTo(location);
}

void XTestEventPoster::postPress(unsigned button, QPointF location)
{
    if (moveTo(location))
        setButton(button, true);
}

// A release is never dropped, so that every press has one: without a usable location the
// button goes up where the pointer is.
void XTestEventPoster::postRelease(unsigned button, QPointF location)
{
    moveTo(location);
    setButton(button, false);
}

bool XTestEventPoster::moveTo(QPointF location)
{
    if (!isFinite(location))
        return false;
    const QPointF root = m_origin + location;
    XTestFakeMotionEvent(m_display.get(), DefaultScreen(m_display.get()), rootCoordinate(root.x()),
                         rootCoordinate(root.y()), CurrentTime);
    return true;
}

// Sends only real changes, so that a release of a button that is not held only moves the pointer.
// The record names at least every button the server holds: it is written before a press is
// sent, and after a release has gone out.
void XTestEventPoster::setButton(unsigned button, bool down)
{
    bool& held = heldFlag(button);
    if (held == down)
        return;
    held = down;
    if (down)
        recordHeldButtons();
    XTestFakeButtonEvent(m_display.get(), button, down ? True : False, CurrentTime);
    if (!down) {
        XFlush(m_display.get());
        recordHeldButtons();
    }
}

void XTestEventPoster::click(unsigned button, qint64 times)
{
    for (qint64 i = 0; i < times; ++i) {
        XTestFakeButtonEvent(m_display.get(), button, True, CurrentTime);
        XTestFakeButtonEvent(m_display.get(), button, False, CurrentTime);
    }
}

bool& XTestEventPoster::heldFlag(unsigned button)
{
    return button == rightButton ? m_rightHeld : m_leftHeld;
}

void XTestEventPoster::recordHeldButtons()
{
    if (!m_record)
        return;
    QList<unsigned> held;
    if (m_leftHeld)
        held << leftButton;
    if (m_rightHeld)
        held << rightButton;
    m_record->update(displayName(), held);
}

} // namespace platform
