#pragma once

#include <QString>
#include <QVariant>

// A property-list value as a person reads it in a log line, in the old plain-text property
// list form: dictionaries "{ key = value; }" with sorted keys, arrays "( a, b )", strings
// quoted unless they are plain words, booleans 1 / 0, and "(null)" for no value.
QString describePropertyList(const QVariant& value);
