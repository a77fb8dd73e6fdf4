#pragma once

#include "support/UdpPorts.h"
#include "tuio/TuioClient.h"
#include "tuio/TuioCursorListener.h"
#include "tuio/encoder/TuioBundleWriter.h"
#include "tuio/encoder/TuioSender.h"

#include <QStringList>
#include <QTest>
#include <QUdpSocket>
#include <functional>
#include <string>
#include <vector>

inline const std::string kSource = "tracker@10.0.0.2";
inline const QSizeF kScreen(1000, 500); // screen units

// Writes each callback down as a line: "add 7 750,400" (session id, position at that moment),
// "update ...", "remove ...", "frame"; and keeps the cursor objects it was given.
class RecordingTuioListener : public TuioCursorListener
{
public:
    void tuioCursorAdded(const TuioCursorPtr& cursor) override { record("add", cursor); }
    void tuioCursorUpdated(const TuioCursorPtr& cursor) override { record("update", cursor); }
    void tuioCursorRemoved(const TuioCursorPtr& cursor) override { record("remove", cursor); }
    void tuioCursorFrameFinished() override { record("frame", nullptr); }

    QStringList lines;
    std::vector<TuioCursorPtr> cursors; // in the order of the callbacks
    std::function<void()> onCallback;   // runs inside every callback, after it is recorded

private:
    void record(const char* kind, const TuioCursorPtr& cursor)
    {
        QString line = QLatin1String(kind);
        if (cursor) {
            line += QStringLiteral(" %1 %2,%3")
                        .arg(cursor->sessionId())
                        .arg(cursor->position().x())
                        .arg(cursor->position().y());
            cursors.push_back(cursor);
        }
        lines << line;
        if (onCallback)
            onCallback();
    }
};

// A client on a free loopback port, a listener, and a tracker that sends to it.
struct Loopback
{
    Loopback()
        : port(freeUdpPort()), client(port, kScreen), sender(QHostAddress::LocalHost, port, kSource)
    {
        client.setTuioCursorDelegate(&listener);
    }

    // Sends one datagram and waits until the client has read it.
    bool send(const QByteArray& datagram)
    {
        const quint64 target = client.statistics().datagrams + 1;
        return sender.sendDatagram(datagram) &&
               QTest::qWaitFor([&] { return client.statistics().datagrams >= target; }, 10000);
    }
    bool frame(std::vector<qint32> alive, std::vector<TuioSet> sets, qint32 fseq,
               std::string source = kSource)
    {
        return send(TuioBundleWriter::bundle({source, std::move(alive), std::move(sets), fseq}));
    }

    quint16 port;
    RecordingTuioListener listener; // outlives the client
    TuioClient client;
    TuioSender sender;
};
