// The recording poster lets go of held buttons like a device would: gesture tests rely on it
// (and pin its verbatim records themselves).
#include "PosterScript.h"
#include "platform/RecordingEventPoster.h"

#include <QTest>

class RecordingPosterTest : public QObject
{
    Q_OBJECT

private slots:
    void releaseHeldButtons_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("left clicked, right held: released once, at the last location")
            << "down 1 2; up 1 2; rightDown 1 2; drag 7 8; releaseHeld; releaseHeld"
            << "LeftMouseDown(1,2,Left), LeftMouseUp(1,2,Left), RightMouseDown(1,2,Right), "
               "LeftMouseDragged(7,8,Left), RightMouseUp(7,8,Right)";
        QTest::newRow("both held: left first")
            << "rightDown 1 2; down 1 2; drag 7 8; releaseHeld; releaseHeld"
            << "RightMouseDown(1,2,Right), LeftMouseDown(1,2,Left), LeftMouseDragged(7,8,Left), "
               "LeftMouseUp(7,8,Left), RightMouseUp(7,8,Right)";
    }

    void releaseHeldButtons()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        platform::RecordingEventPoster poster;
        runScript(poster, script);
        QCOMPARE(poster.toString(), expected);
        QVERIFY(!poster.isLeftHeld() && !poster.isRightHeld());
    }
};

QTEST_GUILESS_MAIN(RecordingPosterTest)
#include "tst_recording_poster.moc"
