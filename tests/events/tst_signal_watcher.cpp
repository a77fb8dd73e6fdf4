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

    // Both of two quick signals arrive, in order; a newer watcher takes over and hands back.
    void everySignalReachesTheNewestWatcher()
    {
        UnixSignalWatcher outer;
        QSignalSpy outerSpy(&outer, &UnixSignalWatcher::terminationRequested);
        {
            UnixSignalWatcher inner;
            QSignalSpy innerSpy(&inner, &UnixSignalWatcher::terminationRequested);
            ::raise(SIGHUP);
            ::raise(SIGTERM);
            QTRY_COMPARE_WITH_TIMEOUT(innerSpy.count(), 2, 10000);
            QCOMPARE(innerSpy.at(0).at(0).toInt(), SIGHUP);
            QCOMPARE(innerSpy.at(1).at(0).toInt(), SIGTERM);
        }
        ::raise(SIGHUP);
        QVERIFY(outerSpy.wait(10000));
        QCOMPARE(outerSpy.count(), 1);
    }
};

QTEST_GUILESS_MAIN(SignalWatcherTest)
#include "tst_signal_watcher.moc"
