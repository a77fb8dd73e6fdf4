// The recording poster keeps calls verbatim and lets go of held buttons like a device would:
// gesture tests rely on both.
#include "platform/RecordingEventPoster.h"

#include <QTest>
#include <cmath>
#include <limits>

using platform::MouseButton;
using platform::MouseEventType;
using platform::RecordedEvent;
using platform::RecordingEventPoster;

class RecordingPosterTest : public QObject
{
    Q_OBJECT

private slots:
    void keepsCallsVerbatimAndInOrder()
    {
        RecordingEventPoster poster;
        const double nan = std::numeric_limits<double>::quiet_NaN();
        poster.postMouseEvent(MouseEventType::LeftMouseDown, {10.25, 20}, MouseButton::Left);
        poster.postScrollWheelEvent(std::numeric_limits<qint32>::min());
        poster.postMouseEvent(MouseEventType::MouseMoved, {nan, -3}, MouseButton::Center);

        QCOMPARE(poster.events().size(), std::size_t(3));
        QCOMPARE(poster.events()[0],
                 RecordedEvent::mouse(MouseEventType::LeftMouseDown, {10.25, 20}));
        QCOMPARE(poster.events()[1], RecordedEvent::scrollWheel(-2147483647 - 1));
        QVERIFY(std::isnan(poster.events()[2].location.x()));
        QCOMPARE(poster.toString(),
                 QStringLiteral("LeftMouseDown(10.25,20,Left), "
                                "Scroll(-2147483648), MouseMoved(nan,-3,Center)"));
    }

    void releaseHeldButtons_data()
    {
        QTest::addColumn<QList<MouseEventType>>("presses");
        QTest::addColumn<QString>("released");
        QTest::newRow("nothing held") << QList<MouseEventType>{} << "";
        QTest::newRow("left held")
            << QList{MouseEventType::LeftMouseDown} << "LeftMouseUp(7,8,Left)";
        QTest::newRow("left clicked, right held")
            << QList{MouseEventType::LeftMouseDown, MouseEventType::LeftMouseUp,
                     MouseEventType::RightMouseDown}
            << "RightMouseUp(7,8,Right)";
        QTest::newRow("both held")
            << QList{MouseEventType::RightMouseDown, MouseEventType::LeftMouseDown}
            << "LeftMouseUp(7,8,Left), RightMouseUp(7,8,Right)";
    }

    void releaseHeldButtons()
    {
        QFETCH(QList<MouseEventType>, presses);
        QFETCH(QString, released);
        RecordingEventPoster poster;
        for (MouseEventType type : presses)
            poster.postMouseEvent(type, {1, 2}, MouseButton::Left);
        poster.postMouseEvent(MouseEventType::LeftMouseDragged, {7, 8}, MouseButton::Left);
        poster.clear();

        poster.releaseHeldButtons();
        poster.releaseHeldButtons();
        QCOMPARE(poster.toString(), released);
        QVERIFY(!poster.isLeftHeld());
        QVERIFY(!poster.isRightHeld());
    }
};

QTEST_GUILESS_MAIN(RecordingPosterTest)
#include "tst_recording_poster.moc"
