#include "tuio/TuioClient.h"

#include "tuio/LocalSenderCheck.h"
#include "tuio/TuioPacketDecoder.h"
#include "tuio/TuioSource.h"
#include "tuio/UdpListenerSocket.h"

#include <QHash>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kMaxSources = 64;
// Datagrams handed in while a callback runs wait for it; beyond this they are dropped.
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
    // `why` follows the port: ": reason" or " at address: reason".
    void failToListen(const QString& why);
    void processDatagram(const char* data, std::size_t size, const QString& sender);
    std::vector<SourceStatistics> sourceStatistics() const;

    TuioClient* const q;
    const qint32 port;
    QSizeF screenSize;
    TuioCursorListener* listener = nullptr;
    Statistics statistics;
    QString listenError; // why it does not listen

    // One bound socket and the notifier that wakes the event loop for it.
    struct Listener
    {
        std::unique_ptr<UdpListenerSocket> socket;
        std::unique_ptr<QSocketNotifier> notifier;
    };
    std::vector<Listener> listeners;

private:
    struct QueuedDatagram
    {
        QByteArray data;
        QString sender;
    };
    // Names of the senders last heard from: a steady stream builds no string.
    struct SenderName
    {
        UdpEndpoint address; // port 0: sources are told apart by address
        QString name;
    };
    // Malformed datagrams of one sender, which name no source.
    struct MalformedFrom
    {
        QString sender;
        quint64 count = 0;
        quint64 lastSeen = 0;
    };

    bool bind(const QHostAddress& address, QString* error, bool* addressInUse);
    void readDatagrams(Listener& from);
    void resumePausedListeners();
    bool acceptsSender(const Listener& from, const UdpEndpoint& sender);
    const QString& senderName(UdpEndpoint sender);
    void processOne(const char* data, std::size_t size, const QString& sender);
    void applyMessages(const QString& sender);
    void commitFrame(TuioSource* source, qint32 fseq);
    void deliver(std::vector<TuioCursorEvent>& events);
    TuioSource* sourceNamed(std::string_view name);
    TuioSource* sourceOfSender(const QString& sender);
    TuioSource* defaultSource(const QString& sender);
    void rememberPlainSource(const QString& sender, std::string_view name);
    // `makeName` runs only for a new source: a known one costs no string building.
    template <typename Matches, typename MakeName>
    TuioSource* findOrAdd(Matches matches, MakeName makeName, std::string_view key);
    void evictLeastRecentSource();
    void noteDropped(quint64& counter, const char* reason, const QString& sender);
    void noteMalformedFrom(const QString& sender, const char* reason);
    void warnDropped();

    // Only on the loopback listener, where every local user can reach us; null elsewhere.
    std::unique_ptr<LocalSenderCheck> m_senderCheck;
    TuioPacketDecoder m_decoder;
    DatagramBatch m_batch;
    std::vector<std::unique_ptr<TuioSource>> m_sources;
    std::vector<MalformedFrom> m_malformedFrom; // at most kMaxSources, the oldest forgotten
    quint64 m_clock = 0;
    TuioSource* m_lastSource = nullptr;
    // The source a plain-message sender last named: its next messages belong to it.
    QHash<QString, std::string> m_plainSourceOfSender;
    std::vector<TuioSource*> m_openFrames; // sources with an alive but no fseq yet
    std::vector<TuioCursorEvent> m_events;
    std::array<SenderName, 8> m_senderNames;
    std::size_t m_nextSenderName = 0;
    bool m_delivering = false;
    bool m_listenersPaused = false;
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
        failToListen(QStringLiteral(": a port is a number from 1 to 65535"));
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
            failToListen(QStringLiteral(": \"%1\" is not an address").arg(listenAddress));
            return;
        }
        addresses = {address};
    }
    for (const QHostAddress& address : addresses) {
        QString error;
        bool addressInUse = false;
        if (bind(address, &error, &addressInUse))
            continue;
        const bool missingIpv6 = address == QHostAddress(QHostAddress::LocalHostIPv6) &&
                                 !listeners.empty() && !addressInUse;
        if (missingIpv6)
            continue; // a machine without IPv6 still listens on 127.0.0.1
        // Half a listener would be harder to notice than none: close everything.
        listeners.clear();
        failToListen(QStringLiteral(" at %1: %2").arg(address.toString(), error));
        return;
    }
    if (listenAddress.isEmpty())
        m_senderCheck = std::make_unique<LocalSenderCheck>();
}

void TuioClient::Private::failToListen(const QString& why)
{
    listenError = QStringLiteral("cannot listen on UDP port %1%2").arg(port).arg(why);
    qWarning("TUIO: %s", qUtf8Printable(listenError));
}

bool TuioClient::Private::bind(const QHostAddress& address, QString* error, bool* addressInUse)
{
    auto socket = std::make_unique<UdpListenerSocket>(address, quint16(port), kReceiveBufferSize);
    if (!socket->isOpen()) {
        *error = socket->errorString();
        *addressInUse = socket->addressInUse();
        return false;
    }
    auto notifier = std::make_unique<QSocketNotifier>(socket->descriptor(), QSocketNotifier::Read);
    const std::size_t index = listeners.size();
    QObject::connect(notifier.get(), &QSocketNotifier::activated, q,
                     [this, index] { readDatagrams(listeners[index]); });
    listeners.push_back({std::move(socket), std::move(notifier)});
    return true;
}

// Everything waiting, a batch per system call, until a batch comes back short.
void TuioClient::Private::readDatagrams(Listener& from)
{
    if (m_delivering) {
        // A callback runs a nested event loop: the outer read goes on once it returns, with
        // the batch buffers that are still in use now.
        from.notifier->setEnabled(false);
        m_listenersPaused = true;
        return;
    }
    do {
        from.socket->receive(m_batch);
        for (std::size_t index = 0; index < m_batch.count(); ++index) {
            const UdpEndpoint sender = m_batch.sender(index);
            if (acceptsSender(from, sender))
                processDatagram(m_batch.data(index), m_batch.size(index), senderName(sender));
        }
    } while (m_batch.count() == DatagramBatch::kCapacity);
    Q_EMIT q->datagramsRead();
}

void TuioClient::Private::resumePausedListeners()
{
    if (!std::exchange(m_listenersPaused, false))
        return;
    for (Listener& each : listeners)
        each.notifier->setEnabled(true);
}

bool TuioClient::Private::acceptsSender(const Listener& from, const UdpEndpoint& sender)
{
    if (!m_senderCheck || m_senderCheck->accepts(sender, from.socket->localEndpoint()))
        return true;
    ++statistics.datagrams;
    ++statistics.refused;
    return false;
}

const QString& TuioClient::Private::senderName(UdpEndpoint sender)
{
    sender.port = 0;
    for (const SenderName& known : m_senderNames) {
        if (known.address == sender && !known.name.isEmpty())
            return known.name;
    }
    SenderName& slot = m_senderNames[m_nextSenderName];
    m_nextSenderName = (m_nextSenderName + 1) % m_senderNames.size();
    slot = {sender, sender.addressText()};
    return slot.name;
}

void TuioClient::Private::processDatagram(const char* data, std::size_t size, const QString& sender)
{
    if (m_delivering) {
        // Called from inside a callback: deliver after it, never nested in it.
        if (size > TuioPacketDecoder::kMaxDatagramSize || m_queue.size() >= kMaxQueuedDatagrams) {
            ++statistics.datagrams;
            noteMalformedFrom(sender, "datagram too large or too many during a callback");
        } else {
            m_queue.push_back({QByteArray(data, qsizetype(size)), sender});
        }
        return;
    }
    processOne(data, size, sender);
    while (!m_queue.empty()) {
        const QueuedDatagram next = std::move(m_queue.front());
        m_queue.pop_front();
        processOne(next.data.constData(), std::size_t(next.data.size()), next.sender);
    }
}

void TuioClient::Private::processOne(const char* data, std::size_t size, const QString& sender)
{
    ++statistics.datagrams;
    if (!m_decoder.decode(data, size)) {
        noteMalformedFrom(sender, m_decoder.error().c_str());
        return;
    }
    applyMessages(sender);
}

void TuioClient::Private::applyMessages(const QString& sender)
{
    TuioSource* source = nullptr; // found when first needed: a named bundle needs no other
    m_openFrames.clear();
    for (const TuioMessage& message : m_decoder.messages()) {
        if (message.kind == TuioMessage::Kind::Source) {
            source = sourceNamed(message.source);
            if (!m_decoder.isBundle())
                rememberPlainSource(sender, message.source);
            continue;
        }
        if (!source)
            source = defaultSource(sender);
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
            commitFrame(source, message.fseq);
            break;
        }
    }
    // A bundle is a whole frame: one that carried an alive but no fseq (e.g. a tracker that
    // only says "no fingers") is committed unsequenced rather than left waiting.
    if (m_decoder.isBundle()) {
        for (TuioSource* each : m_openFrames) // commits neither add nor evict sources
            commitFrame(each, -1);
    }
    m_openFrames.clear();
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

void TuioClient::Private::commitFrame(TuioSource* source, qint32 fseq)
{
    m_events.clear();
    switch (source->commitFrame(fseq, screenSize, m_events)) {
    case TuioSource::Outcome::Committed:
        ++statistics.committedFrames;
        ++source->counters().committedFrames;
        deliver(m_events);
        break;
    case TuioSource::Outcome::Late:
        ++statistics.lateFrames;
        ++source->counters().lateFrames;
        break;
    case TuioSource::Outcome::Hostile:
        ++source->counters().malformed;
        noteDropped(statistics.malformed, "frame with too many set messages", source->name());
        break;
    }
}

// Callbacks never nest: m_delivering turns what they cause (a nested event loop reading the
// socket, a datagram handed in) into work done after them.
void TuioClient::Private::deliver(std::vector<TuioCursorEvent>& events)
{
    m_delivering = true;
    // Read afresh for each callback: a listener that leaves (delegate set to null) hears no more.
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
    }
    if (TuioCursorListener* const target = listener)
        target->tuioCursorFrameFinished();
    m_delivering = false;
    resumePausedListeners();
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
            if (m_sources.size() >= kMaxSources)
                evictLeastRecentSource();
            m_sources.push_back(std::make_unique<TuioSource>(makeName(), std::string(key)));
            found = m_sources.back().get();
        }
    }
    found->setLastSeen(++m_clock);
    m_lastSource = found;
    return found;
}

void TuioClient::Private::evictLeastRecentSource()
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
        return;
    std::vector<TuioCursorEvent> events;
    evicted->removeAll(events);
    deliver(events);
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

void TuioClient::Private::noteMalformedFrom(const QString& sender, const char* reason)
{
    auto known =
        std::find_if(m_malformedFrom.begin(), m_malformedFrom.end(),
                     [&sender](const MalformedFrom& each) { return each.sender == sender; });
    if (known == m_malformedFrom.end()) {
        if (m_malformedFrom.size() >= kMaxSources)
            m_malformedFrom.erase(std::min_element(
                m_malformedFrom.begin(), m_malformedFrom.end(),
                [](const auto& a, const auto& b) { return a.lastSeen < b.lastSeen; }));
        known = m_malformedFrom.insert(m_malformedFrom.end(), {sender});
    }
    ++known->count;
    known->lastSeen = ++m_clock;
    noteDropped(statistics.malformed, reason, sender);
}

std::vector<TuioClient::SourceStatistics> TuioClient::Private::sourceStatistics() const
{
    std::vector<SourceStatistics> result;
    for (const auto& source : m_sources) {
        const TuioSource::Counters& counters = source->counters();
        result.push_back(
            {source->name(), counters.committedFrames, counters.lateFrames, counters.malformed});
    }
    for (const MalformedFrom& each : m_malformedFrom) {
        const auto same = std::find_if(result.begin(), result.end(), [&each](const auto& row) {
            return row.name == each.sender;
        });
        if (same != result.end())
            same->malformed += each.count;
        else
            result.push_back({each.sender, 0, 0, each.count});
    }
    return result;
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

// The sockets close, freeing the port, before the state they feed goes away.
TuioClient::~TuioClient() = default;

void TuioClient::setTuioCursorDelegate(TuioCursorListener* listener)
{
    d->listener = listener;
}

void TuioClient::setScreenSize(QSizeF screenSize)
{
    d->screenSize = screenSize;
}

bool TuioClient::isListening() const
{
    return !d->listeners.empty();
}

qint32 TuioClient::port() const
{
    return d->port;
}

QStringList TuioClient::listenAddresses() const
{
    QStringList addresses;
    for (const Private::Listener& each : d->listeners)
        addresses << each.socket->localEndpoint().addressText();
    return addresses;
}

QString TuioClient::errorString() const
{
    return d->listenError;
}

std::vector<TuioClient::SourceStatistics> TuioClient::sourceStatistics() const
{
    return d->sourceStatistics();
}

TuioClient::Statistics TuioClient::statistics() const
{
    return d->statistics;
}

void TuioClient::processDatagram(const char* data, std::size_t size, const QString& senderAddress)
{
    d->processDatagram(data, size, senderAddress);
}
