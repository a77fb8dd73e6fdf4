#include "GesturePlan.h"

#include <algorithm>
#include <cmath>

namespace {

struct Scenario
{
    const char* name;
    int required; // numeric arguments that must be given
    int optional; // more that may follow (the rest default to the centre)
};

constexpr Scenario kScenarios[] = {
    {"tap", 2, 0},    {"drag", 4, 0},          {"two-finger-tap", 0, 2},
    {"scroll", 1, 2}, {"three-fingers", 0, 2},
};

bool isOnSurface(double coordinate)
{
    return coordinate >= 0.0 && coordinate <= 1.0;
}

} // namespace

QString GesturePlan::usage()
{
    return QStringLiteral("tap X Y | drag X1 Y1 X2 Y2 | two-finger-tap [X Y] | scroll DY [X Y] | "
                          "three-fingers [X Y]  (normalised: 0,0 is the top-left of the surface)");
}

std::optional<std::vector<GesturePlan::Fingers>> GesturePlan::build(const QString& scenario,
                                                                    const QList<double>& arguments,
                                                                    double rate, QString& error)
{
    const auto found = std::find_if(std::begin(kScenarios), std::end(kScenarios),
                                    [&](const Scenario& each) { return scenario == each.name; });
    if (found == std::end(kScenarios)) {
        error = QStringLiteral("unknown scenario \"%1\"").arg(scenario);
        return std::nullopt;
    }
    const int count = int(arguments.size());
    if (count < found->required || count > found->required + found->optional ||
        (count - found->required) % 2 != 0) {
        error = QStringLiteral("wrong number of arguments for %1").arg(scenario);
        return std::nullopt;
    }
    // Every argument is a coordinate, except scroll's DY, a distance.
    const bool isScroll = scenario == QLatin1String("scroll");
    for (int index = isScroll ? 1 : 0; index < count; ++index) {
        if (!isOnSurface(arguments[index])) {
            error = QStringLiteral("%1 is not a coordinate from 0 to 1").arg(arguments[index]);
            return std::nullopt;
        }
    }
    if (isScroll && !(std::abs(arguments[0]) <= 1.0)) {
        error = QStringLiteral("DY %1 is not a distance from -1 to 1").arg(arguments[0]);
        return std::nullopt;
    }

    const auto at = [&](int index, double fallback) {
        return float(index < count ? arguments[index] : fallback);
    };
    GesturePlan plan(rate);
    plan.m_frames.emplace_back(); // nothing on the surface before the gesture
    if (scenario == QLatin1String("tap"))
        plan.tap(at(0, 0), at(1, 0));
    else if (scenario == QLatin1String("drag"))
        plan.drag(at(0, 0), at(1, 0), at(2, 0), at(3, 0));
    else if (scenario == QLatin1String("two-finger-tap"))
        plan.twoFingerTap(at(0, 0.5), at(1, 0.5));
    else if (isScroll)
        plan.scroll(at(0, 0), at(1, 0.5), at(2, 0.5));
    else
        plan.threeFingers(at(0, 0.5), at(1, 0.5));
    plan.m_frames.emplace_back(); // and after it
    return std::move(plan.m_frames);
}

void GesturePlan::tap(float x, float y)
{
    hold({{1, x, y}}, kTapHold);
}

void GesturePlan::drag(float x1, float y1, float x2, float y2)
{
    const Fingers finger{{1, x1, y1}};
    hold(finger, kTapHold);
    move(finger, x2 - x1, y2 - y1, framesFor(kMoveDuration));
    hold({{1, x2, y2}}, kTapHold);
}

void GesturePlan::twoFingerTap(float x, float y)
{
    // Both land in one frame and lift in one frame, well within the time limit.
    hold(sideBySide(2, x, y), kTapHold);
}

void GesturePlan::scroll(float dy, float x, float y)
{
    // Held past the right-click limit, the pair scrolls; the move then scrolls by DY.
    const Fingers fingers = sideBySide(2, x, y);
    hold(fingers, framesFor(kScrollHold));
    move(fingers, 0, dy, framesFor(kMoveDuration));
    Fingers moved = fingers;
    for (TuioSet& finger : moved)
        finger.y += dy;
    hold(moved, kTapHold);
}

void GesturePlan::threeFingers(float x, float y)
{
    hold(sideBySide(3, x, y), framesFor(kRightClickLimit / 2));
}

int GesturePlan::framesFor(double seconds) const
{
    return std::max(2, int(std::ceil(seconds * m_rate)) + 1);
}

void GesturePlan::hold(const Fingers& fingers, int frames)
{
    for (int frame = 0; frame < frames; ++frame)
        m_frames.push_back(fingers);
}

void GesturePlan::move(Fingers fingers, float dx, float dy, int frames)
{
    const Fingers start = fingers;
    const float stepSeconds = float(1.0 / m_rate);
    for (int frame = 1; frame <= frames; ++frame) {
        const float share = float(frame) / float(frames);
        for (std::size_t index = 0; index < fingers.size(); ++index) {
            fingers[index].x = start[index].x + dx * share;
            fingers[index].y = start[index].y + dy * share;
            fingers[index].xVelocity = dx / float(frames) / stepSeconds;
            fingers[index].yVelocity = dy / float(frames) / stepSeconds;
        }
        m_frames.push_back(fingers);
    }
}

GesturePlan::Fingers GesturePlan::sideBySide(int count, float x, float y)
{
    Fingers fingers;
    const float first = x - kFingerSpacing * float(count - 1) / 2;
    for (int index = 0; index < count; ++index)
        fingers.push_back({index + 1, first + kFingerSpacing * float(index), y});
    return fingers;
}
