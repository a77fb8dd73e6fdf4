#pragma once

#include <QPointF>
#include <QString>
#include <memory>

// One finger on the surface, from the frame that adds it to the frame that removes it.
// The client keeps the object current; listeners tell fingers apart by its identity.
class TuioCursor
{
public:
    TuioCursor(QString source, qint32 sessionId, QPointF position);

    // The finger's place in main-screen units, mirrored on both axes:
    // ((1 - x) * width, (1 - y) * height) of TUIO's normalised x and y.
    QPointF position() const { return m_position; }
    qint32 sessionId() const { return m_sessionId; }
    // The tracker it came from, "name@address" (or the sender's address).
    const QString& source() const { return m_source; }

    void setPosition(QPointF position) { m_position = position; }

private:
    QString m_source;
    qint32 m_sessionId;
    QPointF m_position;
};

using TuioCursorPtr = std::shared_ptr<TuioCursor>;
