#pragma once

#include <QString>

// Text that others chose (a tracker's source name, what the agent reports) kept on one line
// and free of terminal escapes.
inline QString printable(QString text)
{
    for (QChar& character : text) {
        if (!character.isPrint())
            character = QLatin1Char('?');
    }
    return text;
}
