// Feeds datagrams to a real TuioClient and checks what its listener hears.
//
// An input is a run of datagrams, each written as one byte choosing the sender (its low two
// bits: 127.0.0.1 to 127.0.0.4), a big-endian 16-bit length, then that many bytes (fewer when
// the input ends first). Several datagrams per input let frames span datagrams and senders.
//
// A breach of the listener's contract traps, so that libFuzzer keeps the input:
// - a cursor is added once, then updated or removed only while it is on the surface, and
//   removed at most once;
// - positions are finite and at most one screen size beyond the screen's edges;
// - each frame is its removes, then its adds, then its updates, then one frame end; every
//   committed frame (TuioClient::statistics) ends exactly once; the only other frame ends are
//   those of a forgotten source lifting its fingers (removes only).
#include "tuio/TuioClient.h"
#include "tuio/TuioCursorListener.h"

#include <QCoreApplication>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

namespace {

const QSizeF kScreen(1440, 900); // screen units

void check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

class ContractCheckingListener : public TuioCursorListener
{
public:
    explicit ContractCheckingListener(const TuioClient& client) : m_client(client) {}

    void tuioCursorAdded(const TuioCursorPtr& cursor) override
    {
        enterStage(Stage::Adds);
        checkPosition(*cursor);
        check(m_everAdded.insert(cursor.get()).second);
        m_onSurface.insert(cursor.get());
        m_keepAlive.push_back(cursor); // no later cursor can reuse its address
        m_frameHasOnlyRemoves = false;
    }

    void tuioCursorUpdated(const TuioCursorPtr& cursor) override
    {
        enterStage(Stage::Updates);
        checkPosition(*cursor);
        check(m_onSurface.contains(cursor.get()));
        m_frameHasOnlyRemoves = false;
    }

    void tuioCursorRemoved(const TuioCursorPtr& cursor) override
    {
        enterStage(Stage::Removes);
        checkPosition(*cursor);
        check(m_onSurface.erase(cursor.get()) == 1);
        m_frameHasRemoves = true;
    }

    void tuioCursorFrameFinished() override
    {
        const quint64 committed = m_client.statistics().committedFrames;
        if (committed == m_committedFrameEnds + 1)
            m_committedFrameEnds = committed;
        else // a forgotten source lifting its fingers
            check(committed == m_committedFrameEnds && m_frameHasRemoves && m_frameHasOnlyRemoves);
        m_stage = Stage::Removes;
        m_frameHasRemoves = false;
        m_frameHasOnlyRemoves = true;
    }

    // After each datagram: no frame left without its end.
    void checkAllFramesEnded() const
    {
        check(m_client.statistics().committedFrames == m_committedFrameEnds);
        check(m_stage == Stage::Removes && !m_frameHasRemoves && m_frameHasOnlyRemoves);
    }

private:
    enum class Stage { Removes, Adds, Updates };

    void enterStage(Stage stage)
    {
        check(stage >= m_stage);
        m_stage = stage;
    }

    static void checkPosition(const TuioCursor& cursor)
    {
        const QPointF position = cursor.position();
        check(std::isfinite(position.x()) && std::isfinite(position.y()));
        check(position.x() >= -kScreen.width() && position.x() <= 2 * kScreen.width());
        check(position.y() >= -kScreen.height() && position.y() <= 2 * kScreen.height());
    }

    const TuioClient& m_client;
    std::set<const TuioCursor*> m_everAdded;
    std::set<const TuioCursor*> m_onSurface;
    std::vector<TuioCursorPtr> m_keepAlive;
    Stage m_stage = Stage::Removes;
    bool m_frameHasRemoves = false;
    bool m_frameHasOnlyRemoves = true;
    quint64 m_committedFrameEnds = 0;
};

void discardMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The client's warning timer wants an application; its warnings are noise here.
    static QCoreApplication application(*argc, *argv);
    qInstallMessageHandler(discardMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QString kSenders[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"};
    // Port 0: a client that opens no socket and takes datagrams from processDatagram only.
    TuioClient client(0, kScreen);
    ContractCheckingListener listener(client);
    client.setTuioCursorDelegate(&listener);
    std::size_t offset = 0;
    while (size - offset >= 3) {
        const QString& sender = kSenders[data[offset] & 3];
        const std::size_t length = std::size_t(data[offset + 1]) << 8 | data[offset + 2];
        offset += 3;
        const std::size_t taken = std::min(length, size - offset);
        // An exact-size copy, so that reading past its end is a fault the sanitizer sees.
        const std::vector<char> datagram(data + offset, data + offset + taken);
        client.processDatagram(datagram.data(), datagram.size(), sender);
        listener.checkAllFramesEnded();
        offset += taken;
    }
    return 0;
}
