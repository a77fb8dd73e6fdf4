#include "tuio/TuioCursor.h"

#include <utility>

TuioCursor::TuioCursor(QString source, qint32 sessionId, QPointF position)
    : m_source(std::move(source)), m_sessionId(sessionId), m_position(position)
{}
