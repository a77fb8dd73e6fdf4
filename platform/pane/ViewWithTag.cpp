#include "platform/pane/ViewWithTag.h"

#include <QQueue>
#include <QVariant>
#include <QWidget>

namespace {

bool hasTag(const QWidget* view, int tag)
{
    bool isNumber = false;
    const int viewTag = view->property("tag").toInt(&isNumber);
    return isNumber && viewTag == tag;
}

} // namespace

QWidget* viewWithTag(QWidget* view, int tag)
{
    // Breadth first, so that the nearest of several tagged descendants wins.
    QQueue<QWidget*> pending;
    if (view)
        pending.enqueue(view);
    while (!pending.isEmpty()) {
        QWidget* candidate = pending.dequeue();
        if (hasTag(candidate, tag))
            return candidate;
        for (QWidget* child : candidate->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            pending.enqueue(child);
    }
    return nullptr;
}
