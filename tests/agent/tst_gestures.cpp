// The gesture engine driven callback by callback with plain settings, posting into a recording
// poster. A scenario is a line of steps; the expected events are the recorder's own text.
//
//   add N X Y    finger N touches at (X, Y) (the cursor's position, screen units)
//   move N X Y   finger N moves
//   lift N       finger N is removed
//   frame        the frame ends
//   wait S       S seconds pass
//   set KEY V    changes a setting (true/false or a number)
//   screen X Y W H   the screen's frame in global coordinates (at first 0 0 1440 900)
//   liftAll      every finger is lifted, as when the screen changes under them
// Every frame end and every liftAll flushes the poster once, after its last event.
#include "RecordingEventPoster.h"
#include "agent/GestureEngine.h"
#include "settings/SettingsKeys.h"

#include <QTest>
#include <map>

class GestureTest : public QObject
{
    Q_OBJECT

private:
    RecordingEventPoster m_poster;
    GestureEngine::Clock::time_point m_now{};
    std::unique_ptr<GestureEngine> m_engine;
    std::map<int, TuioCursorPtr> m_fingers;

    // The defaults a merge stores, but a plain mapping (no mirroring) keeps points readable.
    static AgentSettings plainSettings()
    {
        AgentSettings settings;
        settings.port = 3333;
        settings.rightClickEnabled = true;
        settings.rightClickTimeInterval = 0.5;
        settings.rightClickTolerance = 10;
        settings.scrollingType = AnchoredScrolling;
        return settings;
    }

    void set(const QString& key, const QString& value)
    {
        AgentSettings settings = m_engine->settings();
        const bool on = value == QLatin1String("true");
        if (key == kHInvertStr)
            settings.hInvert = on;
        else if (key == kVInvertStr)
            settings.vInvert = on;
        else if (key == kRightClickEnabledStr)
            settings.rightClickEnabled = on;
        else if (key == kScrollingEnabledStr)
            settings.scrollingEnabled = on;
        else if (key == kRightClickTimeIntervalStr)
            settings.rightClickTimeInterval = value.toDouble();
        else if (key == kRightClickToleranceStr)
            settings.rightClickTolerance = value.toFloat();
        else if (key == kScrollingTypeStr)
            settings.scrollingType = value.toLongLong();
        else
            QFAIL(qPrintable(QStringLiteral("unknown setting: ") + key));
        m_engine->setSettings(settings);
    }

    void run(const QString& scenario)
    {
        for (const QString& step : scenario.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QStringList words = step.simplified().split(QLatin1Char(' '));
            const QString& verb = words[0];
            if (verb == QLatin1String("add")) {
                auto cursor =
                    std::make_shared<TuioCursor>(QStringLiteral("test"), words[1].toInt(),
                                                 QPointF(words[2].toDouble(), words[3].toDouble()));
                m_fingers[words[1].toInt()] = cursor;
                m_engine->tuioCursorAdded(cursor);
            } else if (verb == QLatin1String("move")) {
                const TuioCursorPtr& cursor = m_fingers.at(words[1].toInt());
                cursor->setPosition(QPointF(words[2].toDouble(), words[3].toDouble()));
                m_engine->tuioCursorUpdated(cursor);
            } else if (verb == QLatin1String("lift")) {
                m_engine->tuioCursorRemoved(m_fingers.at(words[1].toInt()));
            } else if (verb == QLatin1String("frame")) {
                m_engine->tuioCursorFrameFinished();
                QCOMPARE(m_poster.unflushed(), 0);
            } else if (verb == QLatin1String("wait")) {
                m_now += std::chrono::duration_cast<GestureEngine::Clock::duration>(
                    std::chrono::duration<double>(words[1].toDouble()));
            } else if (verb == QLatin1String("set")) {
                set(words[1], words[2]);
            } else if (verb == QLatin1String("screen")) {
                m_engine->setScreenFrame(QRectF(words[1].toDouble(), words[2].toDouble(),
                                                words[3].toDouble(), words[4].toDouble()));
            } else if (verb == QLatin1String("liftAll")) {
                m_engine->liftAllFingers();
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown step: ") + step));
            }
        }
    }

private slots:
    void init()
    {
        m_poster = RecordingEventPoster();
        m_fingers.clear();
        m_engine = std::make_unique<GestureEngine>(m_poster, [this] { return m_now; });
        m_engine->setSettings(plainSettings());
        m_engine->setScreenFrame(QRectF(0, 0, 1440, 900));
    }

    void gestures_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("events");

        QTest::newRow("one-finger tap") << "add 1 100 200; frame; lift 1; frame"
                                        << "LeftMouseDown(100,200,Left), LeftMouseUp(100,200,Left)";
        QTest::newRow("one-finger drag")
            << "add 1 100 200; frame; move 1 110 205; frame; move 1 130 210; frame; lift 1; frame"
            << "LeftMouseDown(100,200,Left), LeftMouseDragged(110,205,Left), "
               "LeftMouseDragged(130,210,Left), LeftMouseUp(130,210,Left)";
        QTest::newRow("finger lifted before its frame ends: no press")
            << "add 1 100 200; lift 1; frame"
            << "LeftMouseUp(100,200,Left)";
        QTest::newRow("two-finger tap in one frame")
            << "add 1 100 500; add 2 200 500; frame; wait 0.2; move 1 104 503; frame; "
               "lift 1; lift 2; frame"
            << "MouseMoved(152,501.5,Left), LeftMouseUp(104,503,Left), LeftMouseUp(200,500,Left), "
               "RightMouseDown(152,501.5,Right), RightMouseUp(152,501.5,Right)";
        QTest::newRow("two-finger tap, one lifted: the other drags without a press")
            << "add 1 100 500; add 2 200 500; frame; wait 0.1; lift 2; frame; "
               "move 1 120 500; frame; lift 1; frame"
            << "LeftMouseUp(200,500,Left), RightMouseDown(150,500,Right), "
               "RightMouseUp(150,500,Right), LeftMouseDragged(120,500,Left), "
               "LeftMouseUp(120,500,Left)";
        QTest::newRow("second finger a frame later: pressed, then the pointer follows")
            << "add 1 100 500; frame; add 2 200 500; frame; move 2 204 500; frame; lift 1"
            << "LeftMouseDown(100,500,Left), MouseMoved(152,500,Left), LeftMouseUp(100,500,Left)";
        QTest::newRow("held past the time limit: scrolling starts at that frame end")
            << "add 1 100 500; add 2 200 500; frame; wait 0.6; frame; lift 1; lift 2; frame"
            << "Scroll(0), LeftMouseUp(100,500,Left), LeftMouseUp(200,500,Left)";
        QTest::newRow("elapsed time equal to the limit neither ends nor fires")
            << "add 1 100 500; add 2 200 500; frame; wait 0.5; lift 1; frame"
            << "LeftMouseUp(100,500,Left)";
        QTest::newRow("two fingers resting exactly at the limit: still a candidate, no scroll")
            << "add 1 100 500; add 2 200 500; frame; wait 0.5; frame; wait 0.01; frame"
            << "Scroll(0)";
        QTest::newRow("tolerance: a jump of exactly 10 keeps the candidate (6 in x, 8 in y)")
            << "add 1 100 500; add 2 200 500; frame; move 1 112 516; frame; lift 1; lift 2; frame"
            << "MouseMoved(156,508,Left), LeftMouseUp(112,516,Left), LeftMouseUp(200,500,Left), "
               "RightMouseDown(156,508,Right), RightMouseUp(156,508,Right)";
        QTest::newRow("tolerance: a jump of 10.5 ends it; scrolling anchored at the last centre")
            << "add 1 100 500; add 2 200 500; frame; move 1 100 521; frame; frame"
            << "Scroll(10), Scroll(10)";
        QTest::newRow("anchored scrolling keeps scrolling by the offset")
            << "set scrollingType 1; add 1 100 500; add 2 200 500; frame; wait 0.6; frame; "
               "move 1 100 560; frame; frame; move 1 100 501.2; frame"
            << "Scroll(0), Scroll(30), Scroll(30), Scroll(0)";
        QTest::newRow("incremental scrolling moves the reference, fractions dropped")
            << "set scrollingType 2; add 1 100 500; add 2 200 500; frame; wait 0.6; frame; "
               "move 1 100 521.4; frame; move 1 100 524.4; frame; move 1 100 518.6; frame"
            << "Scroll(0), Scroll(10), Scroll(1), Scroll(-2)";
        QTest::newRow("right click disabled: the candidate lingers until timed out")
            << "set rightClickEnabled false; add 1 100 500; add 2 200 500; frame; lift 2; frame; "
               "wait 0.6; frame; lift 1; frame"
            << "LeftMouseUp(200,500,Left), LeftMouseUp(100,500,Left)";
        QTest::newRow("three fingers: the third cancels, the two oldest scroll")
            << "add 1 100 500; add 2 200 500; frame; add 3 900 100; frame; move 3 950 150; frame; "
               "move 2 200 540; frame"
            << "Scroll(0), Scroll(0), Scroll(20)";
        QTest::newRow("removing one of the two oldest makes the third second")
            << "add 1 100 500; add 2 200 500; add 3 300 600; frame; lift 2; frame"
            << "Scroll(0), LeftMouseUp(200,500,Left), Scroll(50)";
        QTest::newRow("a third finger cancels a pending press")
            << "add 1 100 500; add 2 200 500; add 3 300 600; lift 3; lift 2; frame"
            << "LeftMouseUp(300,600,Left), LeftMouseUp(200,500,Left)";
        QTest::newRow("removal of an unknown cursor still releases at its point")
            << "add 1 100 200; frame; lift 1; lift 1; frame"
            << "LeftMouseDown(100,200,Left), LeftMouseUp(100,200,Left), LeftMouseUp(100,200,Left)";
        QTest::newRow("an update with no finger down posts nothing")
            << "add 1 10 10; lift 1; frame; move 1 20 20; frame"
            << "LeftMouseUp(10,10,Left)";
        QTest::newRow("a time limit of 0 ends every candidate at its first frame end")
            << "set rightClickTimeInterval 0.0; add 1 100 500; add 2 200 500; wait 0.01; lift 1; "
               "lift 2; frame"
            << "LeftMouseUp(100,500,Left), LeftMouseUp(200,500,Left)";
        QTest::newRow("the scrolling switch off: no wheel events")
            << "set srollingEnabled false; add 1 100 500; add 2 200 500; wait 0.6; frame; "
               "move 1 100 540; frame"
            << "";
        QTest::newRow("a screen at an origin: what is posted is offset by it, mirroring is not")
            << "screen 1920 56 1280 1024; set vInvert true; add 1 100 200; frame; lift 1; frame"
            << "LeftMouseDown(2020,880,Left), LeftMouseUp(2020,880,Left)";
        // A source that goes away (the port moved) can never lift its fingers: they are lifted,
        // and sent, at once; the engine starts again from no finger.
        QTest::newRow("fingers lifted at once: their later moves and removal post nothing")
            << "add 1 100 500; frame; add 2 200 500; move 2 202 500; frame; liftAll; "
               "add 3 300 300; frame; move 1 120 220; lift 1; frame; lift 3; frame"
            << "LeftMouseDown(100,500,Left), MouseMoved(151,500,Left), LeftMouseUp(100,500,Left), "
               "LeftMouseUp(202,500,Left), LeftMouseDown(300,300,Left), LeftMouseUp(300,300,Left)";
        QTest::newRow("mirrored both ways: the origin is the far corner")
            << "set hInvert true; set vInvert true; add 1 0 0; lift 1; frame"
            << "LeftMouseUp(1440,900,Left)";
        QTest::newRow("x mirrored only, a point beyond the screen not clamped")
            << "set hInvert true; add 1 1500 60; lift 1; frame"
            << "LeftMouseUp(-60,60,Left)";
        QTest::newRow("y mirrored only") << "set vInvert true; add 1 40 60; lift 1; frame"
                                         << "LeftMouseUp(40,840,Left)";
        QTest::newRow("a setting changed while a finger is down maps its next move")
            << "add 1 100 200; frame; move 1 100 210; set vInvert true; move 1 100 220; frame"
            << "LeftMouseDown(100,200,Left), LeftMouseDragged(100,210,Left), "
               "LeftMouseDragged(100,680,Left)";
        QTest::newRow("a far-off centre saturates the scroll amount")
            << "add 1 100 500; add 2 200 500; wait 0.6; frame; move 1 100 1e10; frame"
            << "Scroll(0), Scroll(2147483647)";
    }

    void gestures()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, events);
        run(scenario);
        QCOMPARE(m_poster.toString(), events);
        QCOMPARE(m_poster.flushes(), int(scenario.count(QStringLiteral("frame")) +
                                         scenario.count(QStringLiteral("liftAll"))));
    }
};

QTEST_GUILESS_MAIN(GestureTest)
#include "tst_gestures.moc"
