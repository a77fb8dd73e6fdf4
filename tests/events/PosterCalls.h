#pragma once

#include "platform/EventPoster.h"

#include <QList>
#include <QMetaType>
#include <limits>

// A sequence of calls on an event poster, so that one data row can hold a whole gesture.
struct PosterCall
{
    enum Kind { Mouse, Scroll, ReleaseHeld };
    Kind kind = Mouse;
    platform::MouseEventType type = platform::MouseEventType::MouseMoved;
    QPointF at;
    qint32 pixels = 0;
    platform::MouseButton button = platform::MouseButton::Left;
};
using PosterCalls = QList<PosterCall>;
Q_DECLARE_METATYPE(PosterCalls)

inline PosterCall mouse(platform::MouseEventType type, double x, double y,
                        platform::MouseButton button = platform::MouseButton::Left)
{
    return {PosterCall::Mouse, type, QPointF(x, y), 0, button};
}
inline PosterCall down(double x, double y)
{
    return mouse(platform::MouseEventType::LeftMouseDown, x, y);
}
inline PosterCall up(double x, double y)
{
    return mouse(platform::MouseEventType::LeftMouseUp, x, y);
}
inline PosterCall drag(double x, double y)
{
    return mouse(platform::MouseEventType::LeftMouseDragged, x, y);
}
inline PosterCall rightDown(double x, double y)
{
    return mouse(platform::MouseEventType::RightMouseDown, x, y, platform::MouseButton::Right);
}
inline PosterCall rightUp(double x, double y)
{
    return mouse(platform::MouseEventType::RightMouseUp, x, y, platform::MouseButton::Right);
}
inline PosterCall scroll(qint32 pixels)
{
    return {PosterCall::Scroll, {}, {}, pixels, {}};
}
inline PosterCall releaseHeld()
{
    return {PosterCall::ReleaseHeld, {}, {}, 0, {}};
}

inline void runCalls(platform::EventPoster& poster, const PosterCalls& calls)
{
    for (const PosterCall& call : calls) {
        switch (call.kind) {
        case PosterCall::Mouse:
            poster.postMouseEvent(call.type, call.at, call.button);
            break;
        case PosterCall::Scroll:
            poster.postScrollWheelEvent(call.pixels);
            break;
        case PosterCall::ReleaseHeld:
            poster.releaseHeldButtons();
            break;
        }
    }
}

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();
