// SIGTERM, SIGINT and SIGHUP reach the event loop as terminationRequested, and the handlers
// that were there before come back afterwards.
#include "platform/UnixSignalWatcher.h"

#include <QSignalSpy>
#include <QTest>
#include <csignal>

using platform::UnixSignalWatcher;

namespace {

volatile std::sig_atomic_t lastForeignSignal = 0;

void foreignHandler(int signal)
{
    lastForeignSignal = signal;
}

} // namespace

class SignalWatcherTest : public QObject
{
    Q_OBJECT

private slots:
    void arrivesOnTheEventLoopAndHandsBack_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void arrivesOnTheEventLoopAndHandsBack()
    {
        QFETCH(int, signal);
        const auto original = std::signal(signal, foreignHandler);
        QVERIFY(original != SIG_ERR);
        lastForeignSignal = 0;
        {
            UnixSignalWatcher watcher;
            QVERIFY(watcher.isWatching());
            QSignalSpy spy(&watcher, &UnixSignalWatcher::terminationRequested);
            QCOMPARE(::raise(signal), 0);
            QCOMPARE(spy.count(), 0); // not from inside the handler
            QVERIFY(spy.wait(10000));
            QCOMPARE(spy.count(), 1);
            QCOMPARE(spy.at(0).at(0).toInt(), signal);
            QCOMPARE(int(lastForeignSignal), 0);
        }
        ::raise(signal);
        QCOMPARE(int(lastForeignSignal), signal);
        std::signal(signal, original);
    }

    void quickSignalsAllArriveInOrder()
    {
        UnixSignalWatcher watcher;
        QSignalSpy spy(&watcher, &UnixSignalWatcher::terminationRequested);
        ::raise(SIGHUP);
        ::raise(SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 10000);
        QCOMPARE(spy.at(0).at(0).toInt(), SIGHUP);
        QCOMPARE(spy.at(1).at(0).toInt(), SIGTERM);
    }
};

QTEST_GUILESS_MAIN(SignalWatcherTest)
#include "tst_signal_watcher.moc"
