#include "TuioDumper.h"

#include "Printable.h"

#include <cstdio>

TuioDumper::TuioDumper(QObject* parent) : QObject(parent), m_out(stdout), m_err(stderr) {}

bool TuioDumper::listen(const QList<QHostAddress>& addresses, quint16 port)
{
    for (const QHostAddress& address : addresses) {
        auto* socket = new QUdpSocket(this);
        if (!socket->bind(address, port, QAbstractSocket::DontShareAddress)) {
            m_err << "tactalon-tuio: cannot listen on UDP " << address.toString() << " port "
                  << port << ": " << socket->errorString() << Qt::endl;
            return false;
        }
        connect(socket, &QUdpSocket::readyRead, this, [this, socket] { readDatagrams(socket); });
        m_err << "tactalon-tuio: listening on UDP " << address.toString() << " port " << port
              << Qt::endl;
    }
    return true;
}

void TuioDumper::readDatagrams(QUdpSocket* socket)
{
    std::vector<char> buffer(TuioPacketDecoder::kMaxDatagramSize + 1);
    QHostAddress sender;
    while (socket->hasPendingDatagrams()) {
        const qint64 size =
            socket->readDatagram(buffer.data(), qint64(buffer.size()), &sender, nullptr);
        if (size >= 0)
            dump(buffer.data(), std::size_t(size), sender.toString());
    }
}

void TuioDumper::dump(const char* data, std::size_t size, const QString& sender)
{
    if (!m_decoder.decode(data, size)) {
        m_err << "tactalon-tuio: malformed datagram from " << sender << ": "
              << QString::fromStdString(m_decoder.error()) << Qt::endl;
        return;
    }
    QString source = sender;
    if (m_frames.size() > kMaxSources)
        m_frames.clear();
    for (const TuioMessage& message : m_decoder.messages()) {
        switch (message.kind) {
        case TuioMessage::Kind::Source:
            source = printable(
                QString::fromUtf8(message.source.data(), qsizetype(message.source.size())));
            break;
        case TuioMessage::Kind::Alive: {
            const auto ids = m_decoder.aliveIds(message);
            Frame& frame = m_frames[source];
            frame.alive.assign(ids.begin(), ids.end());
            frame.hasAlive = true;
            break;
        }
        case TuioMessage::Kind::Set:
            if (Frame& frame = m_frames[source]; frame.sets.size() < kMaxSets)
                frame.sets << QStringLiteral("%1:(%2,%3)")
                                  .arg(message.sessionId)
                                  .arg(message.x)
                                  .arg(message.y);
            break;
        case TuioMessage::Kind::Fseq:
            printFrame(source, QString::number(message.fseq));
            break;
        }
    }
    // A bundle that ends without fseq is a frame of its own.
    if (m_decoder.isBundle() && m_frames.value(source).hasAlive)
        printFrame(source, QStringLiteral("none"));
}

void TuioDumper::printFrame(const QString& source, const QString& fseq)
{
    const Frame frame = m_frames.take(source);
    QStringList alive;
    for (const qint32 id : frame.alive)
        alive << QString::number(id);
    m_out << "source=" << source << " fseq=" << fseq << " alive=["
          << (frame.hasAlive ? alive.join(' ') : QStringLiteral("unchanged")) << "] set=["
          << frame.sets.join(' ') << "]" << Qt::endl;
}
