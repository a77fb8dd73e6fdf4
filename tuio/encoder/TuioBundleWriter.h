#pragma once

#include "tuio/encoder/TuioFrame.h"

#include <QByteArray>
#include <cstddef>
#include <vector>

// Builds real TUIO 1.1 datagrams (OSC, through oscpack) from a TuioFrame, for tools, tests and
// benchmarks.
//
//   TuioFrame frame{"tracker@127.0.0.1", {7, 8}, {{7, 0.25f, 0.5f}, {8, 0.75f, 0.5f}}, 42};
//   QByteArray datagram = TuioBundleWriter::bundle(frame);
//
// A bundle holds, in order: `source` (when the frame names one), `alive`, one `set` per
// TuioSet, `fseq`.
class TuioBundleWriter
{
public:
    // Room for a frame of several hundred fingers.
    static constexpr std::size_t kMaxDatagramSize = 65536; // bytes

    // The frame as one bundle; empty when it does not fit in kMaxDatagramSize.
    static QByteArray bundle(const TuioFrame& frame);
    // The same messages, each as a datagram of its own (plain OSC messages, no bundle), as
    // simple senders send them.
    static std::vector<QByteArray> messages(const TuioFrame& frame);
    // Writes the bundle into `buffer` without allocating; returns its size, or 0 when it does
    // not fit in `capacity` bytes.
    static std::size_t write(const TuioFrame& frame, char* buffer, std::size_t capacity);
};
