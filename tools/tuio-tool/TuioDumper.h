#pragma once

#include "tuio/TuioPacketDecoder.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTextStream>
#include <QUdpSocket>
#include <vector>

// Prints the TUIO 1.1 cursor frames that arrive on a UDP port, a line per frame:
//   source=tracker@10.0.0.2 fseq=7 alive=[1 2] set=[1:(0.25,0.5) 2:(0.75,0.5)]
// Malformed datagrams are reported on standard error and skipped.
class TuioDumper : public QObject
{
    Q_OBJECT
public:
    explicit TuioDumper(QObject* parent = nullptr);

    // Listens on `addresses`; false (with a message on standard error) when one cannot be bound.
    bool listen(const QList<QHostAddress>& addresses, quint16 port);

private:
    struct Frame
    {
        std::vector<qint32> alive;
        bool hasAlive = false;
        QStringList sets;
    };
    // Bounds what a sender that never ends its frames can make us keep.
    static constexpr int kMaxSources = 64;
    static constexpr qsizetype kMaxSets = 1024;

    void readDatagrams(QUdpSocket* socket);
    void dump(const char* data, std::size_t size, const QString& sender);
    void printFrame(const QString& source, const QString& fseq);

    TuioPacketDecoder m_decoder;
    QHash<QString, Frame> m_frames; // by source
    QTextStream m_out;
    QTextStream m_err;
};
