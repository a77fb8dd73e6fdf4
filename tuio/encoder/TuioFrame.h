#pragma once

#include <QtGlobal>
#include <string>
#include <vector>

// One finger's state in a frame: TUIO 1.1 `/tuio/2Dcur set s x y X Y m`.
struct TuioSet
{
    qint32 sessionId = 0;
    float x = 0; // normalised surface coordinates: 0,0 top-left, 1,1 bottom-right
    float y = 0;
    float xVelocity = 0; // surface widths per second
    float yVelocity = 0; // surface heights per second
    float acceleration = 0;
};

// One TUIO 1.1 cursor frame as a tracker sends it.
struct TuioFrame
{
    std::string source;        // "name@address"; empty: no source message
    std::vector<qint32> alive; // every finger on the surface in this frame
    std::vector<TuioSet> sets; // the fingers that moved or arrived
    qint32 fseq = -1;          // frame number; -1 for an unsequenced frame
};
