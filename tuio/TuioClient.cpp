#include "tuio/TuioClient.h"

#include "tuio/LocalSenderCheck.h"
#include "tuio/TuioPacketDecoder.h"
#include "tuio/TuioSource.h"

#include <QHash>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QPointer>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <chrono>
#include <deque>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kMaxSources = 64;
// Datagrams that arrive while a callback runs wait for it; beyond this they are dropped.
constexpr std::size_t kMaxQueuedDatagrams = 256;
// Bytes of socket receive buffer: some tens of thousands of two-finger frames.
constexpr int kReceiveBufferSize = 4 * 1024 * 1024;
// At most one warning about malformed input per this interval.
constexpr auto kWarningInterval = std::chrono::seconds(20);

} // namespace

class TuioClient::Private
{
public:
    Private(TuioClient* client, qint32 port, QSizeF screenSize);

    void listen(const QString& listenAddress);
    void readDatagrams(QUdpSocket* socket);
    void processDatagram(const char* data, std::size_t size, const QString& sender);

    TuioClient* const q;
    const qint32 port;
    const QSizeF screenSize;
    TuioCursorListener* listener = nullptr;
    std::vector<QUdpSocket*> sockets;        // children of q
    std::vector<QUdpSocket*> readingSockets; // those whose readyRead is running
    Statistics statistics;

private:
    struct QueuedDatagram
    {
        QByteArray data;
        QString sender;
    };

    bool bind(QUdpSocket* socket, const QHostAddress& address);
    bool acceptsSender(const QUdpSocket& socket, const QHostAddress& address, quint16 port);
    const QString& senderName(const QHostAddress& address);
    // Each of these returns false once the client has been destroyed by a callback; the
    // caller must then return at once without touching any member.
    bool processOne(const char* data, std::size_t size, const QString& sender);
    bool applyMessages(const QString& sender);
    bool commitFrame(TuioSource* source, qint32 fseq);
    bool deliver(std::vector<TuioCursorEvent>& events);
    // These return nullptr when a callback of an evicted source destroyed the client.
    TuioSource* sourceNamed(std::string_view name);
    TuioSource* sourceOfSender(const QString& sender);
    TuioSource* defaultSource(const QString& sender);
    void rememberPlainSource(const QString& sender, std::string_view name);
    // `makeName` runs only for a new source: a known one costs no string building.
    template <typename Matches, typename MakeName>
    TuioSource* findOrAdd(Matches matches, MakeName makeName, std::string_view key);
    bool evictLeastRecentSource();
    void noteDropped(quint64& counter, const char* reason, const QString& sender);
    void warnDropped();

    // Only on the loopback listener, where every local user can reach us; null elsewhere.
    std::unique_ptr<LocalSenderCheck> m_senderCheck;
    TuioPacketDecoder m_decoder;
    std::vector<std::unique_ptr<TuioSource>> m_sources;
    quint64 m_clock = 0;
    TuioSource* m_lastSource = nullptr;
    // The source a plain-message sender last named: its next messages belong to it.
    QHash<QString, std::string> m_plainSourceOfSender;
    std::vector<TuioSource*> m_openFrames; // sources with an alive but no fseq yet
    std::vector<TuioCursorEvent> m_events;
    std::vector<char> m_readBuffer;
    QHostAddress m_lastSenderAddress;
    QString m_lastSenderName;
    bool m_delivering = false;
    std::deque<QueuedDatagram> m_queue;
    QTimer m_warningTimer;
    quint64 m_unreportedDrops = 0;
    std::string m_lastDropReason;
    QString m_lastDropSender;
};

TuioClient::Private::Private(TuioClient* client, qint32 port, QSizeF screenSize)
    : q(client), port(port), screenSize(screenSize)
{
    m_warningTimer.setSingleShot(true);
    m_warningTimer.setInterval(kWarningInterval);
    QObject::connect(&m_warningTimer, &QTimer::timeout, q, [this] {
        if (m_unreportedDrops > 0)
            warnDropped();
    });
}

void TuioClient::Private::listen(const QString& listenAddress)
{
    if (port < 1 || port > 65535) {
        qWarning("TUIO: cannot listen on UDP port %d: a port is a number from 1 to 65535", port);
        return;
    }
    QList<QHostAddress> addresses;
    if (listenAddress.isEmpty()) {
        addresses = {QHostAddress(QHostAddress::LocalHost),
                     QHostAddress(QHostAddress::LocalHostIPv6)};
    } else if (listenAddress == QLatin1String("any")) {
        addresses = {QHostAddress(QHostAddress::Any)};
    } else {
        const QHostAddress address(listenAddress);
        if (address.isNull()) {
            qWarning("TUIO: cannot listen on UDP port %d: \"%s\" is not an address", port,
                     qUtf8Printable(listenAddress));
            return;
        }
        addresses = {address};
    }
    for (const QHostAddress& address : addresses) {
        auto* socket = new QUdpSocket(q);
        if (bind(socket, address)) {
            sockets.push_back(socket);
            continue;
        }
        const bool missingIpv6 = address == QHostAddress(QHostAddress::LocalHostIPv6) &&
                                 !sockets.empty() &&
                                 socket->error() != QAbstractSocket::AddressInUseError;
        if (!missingIpv6) {
            qWarning("TUIO: cannot listen on UDP port %d at %s: %s", port,
                     qUtf8Printable(address.toString()), qUtf8Printable(socket->errorString()));
            // Half a listener would be harder to notice than none: close everything.
            qDeleteAll(sockets);
            sockets.clear();
            delete socket;
            return;
        }
        delete socket; // a machine without IPv6 still listens on 127.0.0.1
    }
    if (listenAddress.isEmpty())
        m_senderCheck = std::make_unique<LocalSenderCheck>();
}

bool TuioClient::Private::bind(QUdpSocket* socket, const QHostAddress& address)
{
    // A local listener has no use for the system's proxy settings (nor their lookup thread).
    socket->setProxy(QNetworkProxy::NoProxy);
    // DontShareAddress: a port already taken must fail here rather than split the datagrams.
    if (!socket->bind(address, quint16(port), QAbstractSocket::DontShareAddress))
        return false;
    // Room for a burst of frames while the event loop is busy elsewhere; the kernel caps it.
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferSize);
    QObject::connect(socket, &QUdpSocket::readyRead, q, [this, socket] { readDatagrams(socket); });
    return true;
}

void TuioClient::Private::readDatagrams(QUdpSocket* socket)
{
    QPointer<TuioClient> guard(q);
    // A callback that runs a nested event loop can bring us here while the outer datagram is
    // still being applied from m_readBuffer: such a read gets a buffer of its own.
    std::vector<char> nestedBuffer;
    std::vector<char>& buffer = m_delivering ? nestedBuffer : m_readBuffer;
    buffer.resize(TuioPacketDecoder::kMaxDatagramSize + 1);
    readingSockets.push_back(socket);
    QHostAddress address;
    quint16 senderPort = 0;
    while (socket->hasPendingDatagrams()) {
        const qint64 size =
            socket->readDatagram(buffer.data(), qint64(buffer.size()), &address, &senderPort);
        if (size < 0)
            break;
        if (!acceptsSender(*socket, address, senderPort))
            continue;
        const QString sender = senderName(address);
        processDatagram(buffer.data(), std::size_t(size), sender);
        if (!guard)
            return;
    }
    readingSockets.pop_back();
}

bool TuioClient::Private::acceptsSender(const QUdpSocket& socket, const QHostAddress& address,
                                        quint16 port)
{
    if (!m_senderCheck ||
        m_senderCheck->accepts(address, port, socket.localAddress(), socket.localPort()))
        return true;
    ++statistics.datagrams;
    ++statistics.refused;
    return false;
}

const QString& TuioClient::Private::senderName(const QHostAddress& address)
{
    if (address != m_lastSenderAddress || m_lastSenderName.isEmpty()) {
        bool isIpv4 = false;
        const quint32 ipv4 = address.toIPv4Address(&isIpv4); // also for ::ffff:a.b.c.d
        m_lastSenderAddress = address;
        m_lastSenderName = isIpv4 ? QHostAddress(ipv4).toString() : address.toString();
    }
    return m_lastSenderName;
}

void TuioClient::Private::processDatagram(const char* data, std::size_t size, const QString& sender)
{
    if (m_delivering) {
        // Called from inside a callback: deliver after it, never nested in it.
        if (size > TuioPacketDecoder::kMaxDatagramSize || m_queue.size() >= kMaxQueuedDatagrams) {
            ++statistics.datagrams;
            noteDropped(statistics.malformed, "datagram too large or too many during a callback",
                        sender);
        } else {
            m_queue.push_back({QByteArray(data, qsizetype(size)), sender});
        }
        return;
    }
    if (!processOne(data, size, sender))
        return;
    while (!m_queue.empty()) {
        const QueuedDatagram next = std::move(m_queue.front());
        m_queue.pop_front();
        if (!processOne(next.data.constData(), std::size_t(next.data.size()), next.sender))
            return;
    }
}

bool TuioClient::Private::processOne(const char* data, std::size_t size, const QString& sender)
{
    ++statistics.datagrams;
    if (!m_decoder.decode(data, size)) {
        noteDropped(statistics.malformed, m_decoder.error().c_str(), sender);
        return true;
    }
    return applyMessages(sender);
}

bool TuioClient::Private::applyMessages(const QString& sender)
{
    TuioSource* source = nullptr; // found when first needed: a named bundle needs no other
    m_openFrames.clear();
    for (const TuioMessage& message : m_decoder.messages()) {
        if (message.kind == TuioMessage::Kind::Source) {
            source = sourceNamed(message.source);
            if (!source)
                return false;
            if (!m_decoder.isBundle())
                rememberPlainSource(sender, message.source);
            continue;
        }
        if (!source && !(source = defaultSource(sender)))
            return false;
        switch (message.kind) {
        case TuioMessage::Kind::Source:
            break;
        case TuioMessage::Kind::Alive:
            source->setAlive(m_decoder.aliveIds(message));
            if (std::find(m_openFrames.begin(), m_openFrames.end(), source) == m_openFrames.end())
                m_openFrames.push_back(source);
            break;
        case TuioMessage::Kind::Set:
            if (!source->addSet(message.sessionId, message.x, message.y))
                noteDropped(statistics.droppedSets,
                            "set with non-finite or out-of-range coordinates", sender);
            break;
        case TuioMessage::Kind::Fseq:
            std::erase(m_openFrames, source);
            if (!commitFrame(source, message.fseq))
                return false;
            break;
        }
    }
    // A bundle is a whole frame: one that carried an alive but no fseq (e.g. a tracker that
    // only says "no fingers") is committed unsequenced rather than left waiting.
    if (m_decoder.isBundle()) {
        for (TuioSource* each : m_openFrames) { // commits neither add nor evict sources
            if (!commitFrame(each, -1))
                return false;
        }
    }
    m_openFrames.clear();
    return true;
}

TuioSource* TuioClient::Private::defaultSource(const QString& sender)
{
    // Plain messages belong to the source their sender last named; bundles name their own.
    if (!m_decoder.isBundle()) {
        const auto named = m_plainSourceOfSender.constFind(sender);
        if (named != m_plainSourceOfSender.constEnd())
            return sourceNamed(*named);
    }
    return sourceOfSender(sender);
}

void TuioClient::Private::rememberPlainSource(const QString& sender, std::string_view name)
{
    if (m_plainSourceOfSender.size() >= qsizetype(kMaxSources))
        m_plainSourceOfSender.clear();
    m_plainSourceOfSender.insert(sender, std::string(name));
}

bool TuioClient::Private::commitFrame(TuioSource* source, qint32 fseq)
{
    std::vector<TuioCursorEvent> events = std::move(m_events);
    events.clear();
    switch (source->commitFrame(fseq, screenSize, events)) {
    case TuioSource::Outcome::Committed:
        ++statistics.committedFrames;
        break;
    case TuioSource::Outcome::Late:
        ++statistics.lateFrames;
        m_events = std::move(events);
        return true;
    case TuioSource::Outcome::Hostile:
        noteDropped(statistics.malformed, "frame with too many set messages", source->name());
        m_events = std::move(events);
        return true;
    }
    if (!deliver(events))
        return false;
    events.clear();
    m_events = std::move(events); // keeps its capacity for the next frame
    return true;
}

bool TuioClient::Private::deliver(std::vector<TuioCursorEvent>& events)
{
    // A callback may destroy the client: `events` is the caller's, and after each callback
    // the guard tells whether any member may still be touched.
    QPointer<TuioClient> guard(q);
    m_delivering = true;
    for (const TuioCursorEvent& event : events) {
        TuioCursorListener* const target = listener;
        if (!target)
            break;
        switch (event.kind) {
        case TuioCursorEvent::Kind::Removed:
            target->tuioCursorRemoved(event.cursor);
            break;
        case TuioCursorEvent::Kind::Added:
            target->tuioCursorAdded(event.cursor);
            break;
        case TuioCursorEvent::Kind::Updated:
            target->tuioCursorUpdated(event.cursor);
            break;
        }
        if (!guard)
            return false;
    }
    if (TuioCursorListener* const target = listener)
        target->tuioCursorFrameFinished();
    if (!guard)
        return false;
    m_delivering = false;
    return true;
}

TuioSource* TuioClient::Private::sourceNamed(std::string_view name)
{
    return findOrAdd(
        [name](const TuioSource& each) { return each.isNamed() && each.key() == name; },
        [name] { return QString::fromUtf8(name.data(), qsizetype(name.size())); }, name);
}

TuioSource* TuioClient::Private::sourceOfSender(const QString& sender)
{
    return findOrAdd(
        [&sender](const TuioSource& each) { return !each.isNamed() && each.name() == sender; },
        [&sender] { return sender; }, {});
}

template <typename Matches, typename MakeName>
TuioSource* TuioClient::Private::findOrAdd(Matches matches, MakeName makeName, std::string_view key)
{
    TuioSource* found = nullptr;
    if (m_lastSource && matches(*m_lastSource)) {
        found = m_lastSource; // the common case: one tracker
    } else {
        const auto each = std::find_if(m_sources.begin(), m_sources.end(),
                                       [&](const auto& source) { return matches(*source); });
        if (each != m_sources.end()) {
            found = each->get();
        } else {
            if (m_sources.size() >= kMaxSources && !evictLeastRecentSource())
                return nullptr;
            m_sources.push_back(std::make_unique<TuioSource>(makeName(), std::string(key)));
            found = m_sources.back().get();
        }
    }
    found->setLastSeen(++m_clock);
    m_lastSource = found;
    return found;
}

bool TuioClient::Private::evictLeastRecentSource()
{
    const auto oldest =
        std::min_element(m_sources.begin(), m_sources.end(), [](const auto& a, const auto& b) {
            return a->lastSeen() < b->lastSeen();
        });
    std::unique_ptr<TuioSource> evicted = std::move(*oldest);
    m_sources.erase(oldest);
    std::erase(m_openFrames, evicted.get());
    if (m_lastSource == evicted.get())
        m_lastSource = nullptr;
    if (evicted->fingerCount() == 0)
        return true;
    std::vector<TuioCursorEvent> events;
    evicted->removeAll(events);
    return deliver(events);
}

void TuioClient::Private::noteDropped(quint64& counter, const char* reason, const QString& sender)
{
    ++counter;
    ++m_unreportedDrops;
    m_lastDropReason = reason;
    m_lastDropSender = sender;
    if (!m_warningTimer.isActive())
        warnDropped();
}

void TuioClient::Private::warnDropped()
{
    qWarning("TUIO: ignored %llu malformed input(s) on UDP port %d, the last from %s: %s",
             static_cast<unsigned long long>(m_unreportedDrops), port,
             qUtf8Printable(m_lastDropSender), m_lastDropReason.c_str());
    m_unreportedDrops = 0;
    m_warningTimer.start(); // the next line waits for the interval to pass
}

TuioClient::TuioClient(qint32 port, QSizeF screenSize, const QString& listenAddress,
                       QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, port, screenSize))
{
    d->listen(listenAddress);
}

TuioClient::~TuioClient()
{
    // The sockets close (freeing the port) before the state they feed goes away. A socket
    // whose readyRead is running (a callback destroyed the client) must outlive that signal.
    for (QUdpSocket* socket : d->sockets) {
        if (std::find(d->readingSockets.begin(), d->readingSockets.end(), socket) !=
            d->readingSockets.end()) {
            socket->disconnect(this);
            socket->close();
            socket->setParent(nullptr);
            socket->deleteLater();
        } else {
            delete socket;
        }
    }
}

void TuioClient::setTuioCursorDelegate(TuioCursorListener* listener)
{
    d->listener = listener;
}

bool TuioClient::isListening() const
{
    return !d->sockets.empty();
}

qint32 TuioClient::port() const
{
    return d->port;
}

TuioClient::Statistics TuioClient::statistics() const
{
    return d->statistics;
}

void TuioClient::processDatagram(const char* data, std::size_t size, const QString& senderAddress)
{
    d->processDatagram(data, size, senderAddress);
}
