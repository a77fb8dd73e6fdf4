#include "prefpane/MakeRoom.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

void makeRoomForWrappedText(QWidget* widget)
{
    QTimer::singleShot(0, widget, [widget = QPointer<QWidget>(widget)] {
        if (!widget)
            return;
        QWidget* window = widget->window();
        const int needed = window->heightForWidth(window->width());
        if (window->isVisible() && needed > window->height())
            window->resize(window->width(), needed);
    });
}
