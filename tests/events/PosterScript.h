#pragma once

#include "platform/EventPoster.h"

#include <QHash>
#include <QStringList>
#include <QTest>

// Runs calls on an event poster from one line, so that a data row holds a whole gesture:
// "down 10 20; drag 15 20; up 15 20; rightDown 1 2; rightUp 1 2; move 0 0; scroll -30;
// releaseHeld; flush; desktop 0 0 3840 1080". Coordinates are screen units and may be "nan" or
// "inf"; desktop gives the desktop's bounds (x y width height).
inline void runScript(platform::EventPoster& poster, const QString& script)
{
    using Type = platform::MouseEventType;
    static const QHash<QString, Type> types{
        {"move", Type::MouseMoved},          {"drag", Type::LeftMouseDragged},
        {"down", Type::LeftMouseDown},       {"up", Type::LeftMouseUp},
        {"rightDown", Type::RightMouseDown}, {"rightUp", Type::RightMouseUp}};
    for (const QString& call : script.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
        const QStringList words = call.split(QLatin1Char(' '));
        if (words[0] == QLatin1String("scroll") && words.size() == 2) {
            poster.postScrollWheelEvent(words[1].toInt());
        } else if (words[0] == QLatin1String("releaseHeld")) {
            poster.releaseHeldButtons();
        } else if (words[0] == QLatin1String("flush")) {
            poster.flush();
        } else if (words[0] == QLatin1String("desktop") && words.size() == 5) {
            poster.setDesktop(
                QRect(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt()));
        } else {
            QVERIFY2(types.contains(words[0]) && words.size() == 3, qPrintable(call));
            const Type type = types[words[0]];
            const bool right = type == Type::RightMouseDown || type == Type::RightMouseUp;
            poster.postMouseEvent(type, {words[1].toDouble(), words[2].toDouble()},
                                  right ? platform::MouseButton::Right
                                        : platform::MouseButton::Left);
        }
    }
}
