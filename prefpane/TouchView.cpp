#include "TouchView.h"

#include "platform/agentbus/AgentStatusClient.h"

#include <QPainter>
#include <QPainterPath>

using platform::AgentStatusClient;
using platform::TouchFinger;
using platform::TouchGesture;

namespace {

constexpr double kMargin = 8;            // px around the monitor's picture
constexpr double kFingerRadius = 9;      // px
constexpr double kMarkRadius = 5;        // px
constexpr QSizeF kUnknownMonitor{16, 9}; // aspect ratio drawn before the agent names a size

} // namespace

TouchView::TouchView(AgentStatusClient* client, QWidget* parent) : QWidget(parent), m_client(client)
{
    m_clock.start();
    m_fadeTimer.setInterval(kFadeInterval);
    connect(&m_fadeTimer, &QTimer::timeout, this, &TouchView::fade);
    connect(m_client, &AgentStatusClient::touchFrame, this, &TouchView::takeFrame);
    connect(m_client, &AgentStatusClient::changed, this, &TouchView::agentChanged);
}

QSize TouchView::sizeHint() const
{
    return {480, 300};
}

QSize TouchView::minimumSizeHint() const
{
    return {160, 100};
}

QSizeF TouchView::monitorSize() const
{
    const QSize size = m_client->status().monitorGeometry.size();
    return size.isEmpty() ? kUnknownMonitor : QSizeF(size);
}

QRectF TouchView::monitorArea() const
{
    const QRectF available = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
    const QSizeF size = monitorSize().scaled(available.size(), Qt::KeepAspectRatio);
    QRectF area(QPointF(), size);
    area.moveCenter(available.center());
    return area;
}

QPointF TouchView::viewPoint(const QPointF& monitorPoint) const
{
    const QRectF area = monitorArea();
    const QSizeF size = monitorSize();
    return {area.left() + monitorPoint.x() * area.width() / size.width(),
            area.top() + monitorPoint.y() * area.height() / size.height()};
}

QPolygonF TouchView::toView(const QPolygonF& monitorPoints) const
{
    QPolygonF points;
    points.reserve(monitorPoints.size());
    for (const QPointF& point : monitorPoints)
        points << viewPoint(point);
    return points;
}

void TouchView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_client->setWatchingTouches(true);
}

void TouchView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_client->setWatchingTouches(false);
    forgetTouches(); // what comes back after showing again starts afresh
}

void TouchView::takeFrame(const QList<TouchFinger>& fingers, const QList<TouchGesture>& gestures)
{
    m_fingers = fingers;
    for (const TouchGesture& gesture : gestures)
        takeGesture(gesture);
    update();
}

void TouchView::takeGesture(const TouchGesture& gesture)
{
    const QString& kind = gesture.kind;
    if (kind == QLatin1String("press")) {
        m_trail = {gesture.position};
    } else if (kind == QLatin1String("drag")) {
        if (m_trail.size() < kMaxTrailPoints)
            m_trail << gesture.position;
    } else if (kind == QLatin1String("release")) {
        m_trail << gesture.position;
        const bool moved = m_trail.boundingRect().width() + m_trail.boundingRect().height() > 0;
        addMark(moved ? tr("drag") : tr("click"), moved ? m_trail : QPolygonF{gesture.position});
        m_trail.clear();
    } else if (kind == QLatin1String("right-click")) {
        addMark(tr("right click"), {gesture.position});
    } else if (kind == QLatin1String("scroll-up")) {
        addMark(tr("scroll up"), {gesture.position});
    } else if (kind == QLatin1String("scroll-down")) {
        addMark(tr("scroll down"), {gesture.position});
    } else {
        addMark(kind, {gesture.position}); // a newer agent's gesture, named as it names it
    }
}

void TouchView::addMark(const QString& label, const QPolygonF& points)
{
    // Scrolling sends a gesture each frame: one mark follows it instead of a pile of them.
    if (!m_marks.isEmpty() && m_marks.last().label == label && points.size() == 1)
        m_marks.removeLast();
    if (m_marks.size() >= kMaxMarks)
        m_marks.removeFirst();
    m_marks.append({label, points, m_clock.elapsed()});
    m_fadeTimer.start();
}

void TouchView::fade()
{
    const qint64 now = m_clock.elapsed();
    m_marks.removeIf([now](const Mark& mark) { return now - mark.shownAt > kMarkLifetime; });
    if (m_marks.isEmpty())
        m_fadeTimer.stop();
    update();
}

void TouchView::agentChanged()
{
    if (!m_client->running())
        forgetTouches();
    update();
}

void TouchView::forgetTouches()
{
    m_fingers.clear();
    m_trail.clear();
    m_marks.clear();
    m_fadeTimer.stop();
    update();
}

void TouchView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintMonitor(painter);
    paintMarks(painter);
    paintFingers(painter);
}

void TouchView::paintMonitor(QPainter& painter) const
{
    const QRectF area = monitorArea();
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(QColor(0x26, 0x26, 0x26));
    painter.drawRect(area);

    painter.setPen(QColor(0xbd, 0xbd, 0xbd));
    const platform::AgentStatus& status = m_client->status();
    if (!m_client->running()) {
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap,
                         tr("The agent is not running: no touches to show"));
        return;
    }
    const QString name = status.monitorName.isEmpty() ? tr("Monitor") : status.monitorName;
    painter.drawText(
        area.adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop,
        tr("%1, %2 × %3").arg(name).arg(monitorSize().width()).arg(monitorSize().height()));
}

void TouchView::paintMarks(QPainter& painter) const
{
    const qint64 now = m_clock.elapsed();
    QColor color = markColor();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(color, 2));
    painter.drawPolyline(toView(m_trail));
    for (const Mark& mark : m_marks) {
        color.setAlphaF(1.0 - 0.8 * double(now - mark.shownAt) / double(kMarkLifetime));
        const QPolygonF points = toView(mark.points);
        painter.setPen(QPen(color, 2));
        painter.drawPolyline(points);
        painter.drawText(points.last() + QPointF(kMarkRadius + 3, kMarkRadius + 12), mark.label);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(points.last(), kMarkRadius, kMarkRadius);
        painter.setBrush(Qt::NoBrush);
    }
}

void TouchView::paintFingers(QPainter& painter) const
{
    for (const TouchFinger& finger : m_fingers) {
        const QPointF centre = viewPoint(finger.position);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fingerColor());
        painter.drawEllipse(centre, kFingerRadius, kFingerRadius);
        // The id beside the dot, so that the dot's own colour shows where the finger is.
        painter.setPen(Qt::white);
        painter.drawText(centre + QPointF(kFingerRadius + 2, -kFingerRadius),
                         QString::number(finger.id));
    }
}
