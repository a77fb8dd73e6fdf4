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
    void signalArrivesOnTheEventLoop_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void signalArrivesOnTheEventLoop()
    {
        QFETCH(int, signal);
        UnixSignalWatcher watcher;
        QVERIFY(watcher.isWatching());
        QSignalSpy spy(&watcher, &UnixSignalWatcher::terminationRequested);

        QCOMPARE(::raise(signal), 0);
        QCOMPARE(spy.count(), 0); // not from inside the handler
        QVERIFY(spy.wait(10000));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), signal);
    }

    void everySignalIsDelivered()
    {
        UnixSignalWatcher watcher;
        QSignalSpy spy(&watcher, &UnixSignalWatcher::terminationRequested);
        ::raise(SIGHUP);
        ::raise(SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 10000);
        QCOMPARE(spy.at(0).at(0).toInt(), SIGHUP);
        QCOMPARE(spy.at(1).at(0).toInt(), SIGTERM);
    }

    void previousHandlersComeBack_data() { signalArrivesOnTheEventLoop_data(); }

    void previousHandlersComeBack()
    {
        QFETCH(int, signal);
        struct sigaction foreign = {};
        foreign.sa_handler = foreignHandler;
        sigemptyset(&foreign.sa_mask);
        struct sigaction original = {};
        QCOMPARE(sigaction(signal, &foreign, &original), 0);

        {
            UnixSignalWatcher watcher;
            QSignalSpy spy(&watcher, &UnixSignalWatcher::terminationRequested);
            lastForeignSignal = 0;
            ::raise(signal);
            QVERIFY(spy.wait(10000));
            QCOMPARE(int(lastForeignSignal), 0);
        }
        lastForeignSignal = 0;
        ::raise(signal);
        QCOMPARE(int(lastForeignSignal), signal);

        sigaction(signal, &original, nullptr);
    }

    void newerWatcherTakesOverAndHandsBack()
    {
        UnixSignalWatcher outer;
        QSignalSpy outerSpy(&outer, &UnixSignalWatcher::terminationRequested);
        {
            UnixSignalWatcher inner;
            QSignalSpy innerSpy(&inner, &UnixSignalWatcher::terminationRequested);
            ::raise(SIGHUP);
            QVERIFY(innerSpy.wait(10000));
        }
        ::raise(SIGHUP);
        QVERIFY(outerSpy.wait(10000));
        QCOMPARE(outerSpy.count(), 1);
    }
};

QTEST_GUILESS_MAIN(SignalWatcherTest)
#include "tst_signal_watcher.moc"
