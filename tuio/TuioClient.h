#pragma once

#include "TuioCursorListener.h"

#include <QObject>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <memory>
#include <vector>

// Listens for TUIO 1.1 cursor messages (/tuio/2Dcur) on a UDP port and reports the fingers
// to one listener. Datagrams are read on the event loop of the thread that made the client,
// every datagram waiting in one wake-up; callbacks come from there, one at a time, never
// nested (a callback that runs an event loop or hands in a datagram has it read after it
// returns). Destroying the client closes its sockets; no callback comes after. A listener
// must not destroy the client inside one of its callbacks: deleteLater() it there instead.
//
// Frames: `alive` and `set` are gathered per source until `fseq`. A frame commits when its
// fseq is at least the source's last one (equal: one frame split over several bundles), when
// it is 0 or -1, or when it is more than 100 behind (the tracker restarted); an older frame is
// dropped as late. A bundle that carries an `alive` but no `fseq` is a frame of its own.
// Sources ("name@address" from `source`, else the sender's address) are kept apart; at most
// 64 are kept, the least recently heard from being forgotten with its fingers lifted.
// Malformed datagrams are dropped whole, counted, and reported through qWarning at most
// every 20 s.
class TuioClient : public QObject
{
    Q_OBJECT
public:
    struct Statistics
    {
        quint64 datagrams = 0;  // every datagram seen
        quint64 malformed = 0;  // dropped as malformed, oversized or hostile
        quint64 lateFrames = 0; // frames dropped as older than the last committed one
        quint64 committedFrames = 0;
        quint64 droppedSets = 0; // set messages with non-finite or absurd coordinates
        quint64 refused = 0;     // from another user's socket, on the loopback listener
    };

    // One source as status displays show it: `name` is "name@address" or a sender's address.
    // Malformed datagrams cannot name their source: they count for their sender's address.
    struct SourceStatistics
    {
        QString name;
        quint64 committedFrames = 0;
        quint64 lateFrames = 0;
        quint64 malformed = 0;
    };

    // Listens on `port` from construction on. `screenSize` gives the units of positions.
    // `listenAddress`: empty = the loopback addresses only (127.0.0.1 and ::1), taking
    // datagrams only from sockets of this user or root (LocalSenderCheck); "any" = every
    // interface; otherwise the address to bind; these two take whoever can reach them. A port
    // or address that cannot be opened gives one log line and a client that stays inert.
    TuioClient(qint32 port, QSizeF screenSize, const QString& listenAddress = {},
               QObject* parent = nullptr);
    ~TuioClient() override;

    void setTuioCursorDelegate(TuioCursorListener* listener);
    // New units for positions (the screen was resized or another chosen): frames committed from
    // now on use them; a cursor keeps the position it has until its next set message.
    void setScreenSize(QSizeF screenSize);
    bool isListening() const;
    qint32 port() const;
    // The addresses the sockets are bound to ("127.0.0.1", "::1"); empty when not listening.
    QStringList listenAddresses() const;
    // Why the client does not listen, in words; empty when it does.
    QString errorString() const;
    Statistics statistics() const;
    // The sources kept now, then the senders of malformed datagrams that are no such source.
    std::vector<SourceStatistics> sourceStatistics() const;

    // Decodes and applies one datagram as if it came from `senderAddress`; the sockets use it,
    // and so can a benchmark or a fuzzer that has no socket.
    void processDatagram(const char* data, std::size_t size, const QString& senderAddress);

signals:
    // After each wake-up that read datagrams from the sockets: the statistics may have changed.
    void datagramsRead();

private:
    class Private;
    std::unique_ptr<Private> d;
};
