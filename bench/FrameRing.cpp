#include "FrameRing.h"

#include "tuio/encoder/TuioBundleWriter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Finger 1 on a circle of radius 0.3 around the middle, 0.01 rad per frame.
TuioFrame oneFinger(std::size_t step)
{
    const float angle = 0.01f * float(step);
    return {"bench@127.0.0.1",
            {1},
            {{1, 0.5f + 0.3f * std::cos(angle), 0.5f + 0.3f * std::sin(angle)}},
            1};
}

// Two fingers 0.2 apart, swinging up and down by 0.3 at 0.1 rad per frame: the centre jumps
// up to about 27 screen units per frame, beyond the default right-click tolerance of 10, so
// the pair scrolls from its second frame on.
TuioFrame twoFingers(std::size_t step)
{
    const float y = 0.5f + 0.3f * std::sin(0.1f * float(step + 1));
    return {"bench@127.0.0.1", {1, 2}, {{1, 0.4f, y}, {2, 0.6f, y}}, 1};
}

} // namespace

FrameRing::FrameRing(Fingers fingers, std::size_t size)
{
    m_bundles.reserve(size);
    for (std::size_t step = 0; step < size; ++step) {
        const TuioFrame frame = fingers == Fingers::One ? oneFinger(step) : twoFingers(step);
        m_bundles.push_back(TuioBundleWriter::bundle(frame));
        m_bundles.back().squeeze(); // the writer's buffer has room for 64 KiB
        if (m_bundles.back().size() < 4) {
            std::fprintf(stderr, "could not build a TUIO bundle\n");
            std::exit(1);
        }
    }
}

const QByteArray& FrameRing::next(qint32 fseq)
{
    QByteArray& bundle = m_bundles[std::size_t(fseq) % m_bundles.size()];
    // OSC int32 arguments are big-endian; fseq is the last one of the bundle.
    char* end = bundle.data() + bundle.size();
    const auto value = quint32(fseq);
    end[-4] = char(value >> 24);
    end[-3] = char(value >> 16);
    end[-2] = char(value >> 8);
    end[-1] = char(value);
    return bundle;
}
