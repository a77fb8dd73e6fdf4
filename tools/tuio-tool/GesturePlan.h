#pragma once

#include "tuio/encoder/TuioFrame.h"

#include <QList>
#include <QString>
#include <optional>
#include <vector>

// The frames of a scripted gesture, in TUIO's normalised coordinates (0,0 top-left of the
// surface): for each frame, the fingers on the surface. The first and the last frame are empty.
class GesturePlan
{
public:
    using Fingers = std::vector<TuioSet>;

    // Timing that the agent's default settings recognise (0.5 s right-click time limit).
    static constexpr int kTapHold = 3;              // frames a tap stays down
    static constexpr double kRightClickLimit = 0.5; // seconds
    static constexpr double kScrollHold = 0.7;      // seconds: past the limit, so it scrolls
    static constexpr double kMoveDuration = 0.5;    // seconds for a drag or a scroll
    static constexpr float kFingerSpacing = 0.04f;  // normalised: between side-by-side fingers

    // Builds `scenario` (tap, drag, two-finger-tap, scroll, three-fingers) from its numeric
    // arguments for `rate` frames per second. On bad arguments: nullopt and `error` says why.
    static std::optional<std::vector<Fingers>>
    build(const QString& scenario, const QList<double>& arguments, double rate, QString& error);
    static QString usage();

private:
    GesturePlan(double rate) : m_rate(rate) {}

    void tap(float x, float y);
    void drag(float x1, float y1, float x2, float y2);
    void twoFingerTap(float x, float y);
    void scroll(float dy, float x, float y);
    void threeFingers(float x, float y);

    int framesFor(double seconds) const;
    void hold(const Fingers& fingers, int frames);
    void move(Fingers fingers, float dx, float dy, int frames);
    static Fingers sideBySide(int count, float x, float y);

    double m_rate;
    std::vector<Fingers> m_frames;
};
