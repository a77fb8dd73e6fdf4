#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <cstddef>
#include <vector>

// Prebuilt TUIO 1.1 bundles of fingers moving on a closed path, handed out in a ring. Each
// bundle ends with its fseq argument; next() writes the frame number there in place (four
// bytes), so frames stay in order for as long as one likes without building a bundle each
// time. Every bundle names its source, as trackers do.
class FrameRing
{
public:
    enum class Fingers {
        One, // finger 1 on a circle: after its first frame every frame is one update
        Two, // fingers 1 and 2 side by side, moving up and down fast enough to scroll
    };

    FrameRing(Fingers fingers, std::size_t size);

    // The bundle of frame `fseq` (1, 2, ...). Valid until the next call.
    const QByteArray& next(qint32 fseq);

private:
    std::vector<QByteArray> m_bundles;
};
