#pragma once

#include <QString>
#include <QVariant>

// Property lists as Qt values. The kinds map one to one and stay apart on disk:
//   bool <-> <true/>/<false/>, int/qlonglong/uint <-> <integer>, double/float <-> <real>,
//   QString <-> <string>, QByteArray <-> <data>, QDateTime <-> <date>,
//   QVariantList <-> <array>, QVariantMap <-> <dict>.
// Anything a hand-edited file holds comes back as one of these, so it survives a rewrite.
// Read back, every integer is a qlonglong and every real a double. Files over 4 MiB, nested
// over 512 levels, or binary ones that expand beyond a million values are unreadable.
namespace platform {

enum class PropertyListStatus {
    Ok,         // parsed; root holds the value
    Missing,    // no file at the path
    Unreadable, // the file is there but could not be read or parsed; error says why
};

struct PropertyListFile
{
    PropertyListStatus status = PropertyListStatus::Missing;
    QVariant root;
    QString error;
};

// Reads an XML or binary property list.
PropertyListFile readPropertyListFile(const QString& path);
// Parses property-list data (XML or binary); a null QVariant and `error` set when it cannot.
QVariant parsePropertyList(const QByteArray& data, QString* error = nullptr);
// Encodes a value as an XML property list; empty when some value has no property-list form.
QByteArray xmlPropertyListData(const QVariant& root);
// Writes a value as an XML property list atomically (temporary file in the same folder,
// then rename), so readers see the old file or the new one, never a torn one.
bool writeXmlPropertyListFile(const QString& path, const QVariant& root, QString* error = nullptr);

// The conversions of a stored number, as the original platform's number object makes them.
// Non-numbers that are not strings read as false / 0. Strings read by their start, as the
// original string object does: "YES", "true" -> true; "12", " -12.75px" -> 12, -12.
bool plistBoolValue(const QVariant& value);      // true for any non-zero number
qint64 plistIntegerValue(const QVariant& value); // truncated toward zero, saturated, NaN -> 0
qint32 plistIntValue(const QVariant& value);     // the same, in 32 bits
float plistFloatValue(const QVariant& value);    // an integer converts exactly where a float can
// Same kind and same value, arrays and dicts compared member by member: integer 15 and real
// 15.0 differ, as they would on disk; int 15 and qlonglong 15 do not.
bool plistValuesEqual(const QVariant& a, const QVariant& b);

} // namespace platform
