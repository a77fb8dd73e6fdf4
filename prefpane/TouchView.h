#pragma once

#include "platform/agentbus/AgentStatus.h"

#include <QColor>
#include <QElapsedTimer>
#include <QList>
#include <QPolygonF>
#include <QTimer>
#include <QWidget>

namespace platform {
class AgentStatusClient;
}

// A scaled picture of the monitor the agent maps touches to, with the fingers where the agent
// sees them (a dot and the finger's id) and, for a moment, what they did: a click, a drag's
// trail, a right click, scrolling. It shows whether a tracker is connected and whether its
// orientation and the inversion settings are right. It asks the agent for touches only while
// it is visible. Drop it into any layout: new TouchView(client, parent).
class TouchView : public QWidget
{
    Q_OBJECT
public:
    explicit TouchView(platform::AgentStatusClient* client, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The monitor's picture, in this widget's coordinates: the widget less a margin, at the
    // monitor's aspect ratio.
    QRectF monitorArea() const;
    // Where a point in monitor pixels is drawn.
    QPointF viewPoint(const QPointF& monitorPoint) const;

    static QColor fingerColor() { return QColor(0x1e, 0x88, 0xe5); }
    static QColor markColor() { return QColor(0xfb, 0x8c, 0x00); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // What fingers did, shown for kMarkLifetime: a label at a point, or a drag's trail.
    struct Mark
    {
        QString label;
        QPolygonF points;   // monitor pixels; the last one carries the label
        qint64 shownAt = 0; // ms on m_clock
    };
    static constexpr qint64 kMarkLifetime = 1500; // ms
    static constexpr int kFadeInterval = 40;      // ms between repaints while marks fade
    static constexpr qsizetype kMaxMarks = 32;
    static constexpr qsizetype kMaxTrailPoints = 4096;

    void takeFrame(const QList<platform::TouchFinger>& fingers,
                   const QList<platform::TouchGesture>& gestures);
    void takeGesture(const platform::TouchGesture& gesture);
    void addMark(const QString& label, const QPolygonF& points);
    void agentChanged();
    void forgetTouches();
    void fade();
    QSizeF monitorSize() const;

    void paintMonitor(QPainter& painter) const;
    void paintMarks(QPainter& painter) const;
    void paintFingers(QPainter& painter) const;
    QPolygonF toView(const QPolygonF& monitorPoints) const;

    platform::AgentStatusClient* m_client;
    QList<platform::TouchFinger> m_fingers;
    QPolygonF m_trail; // the press or drag in progress, monitor pixels
    QList<Mark> m_marks;
    QElapsedTimer m_clock;
    QTimer m_fadeTimer; // runs only while marks are shown
};
