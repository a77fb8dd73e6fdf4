#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// Property lists as Qt values. The kinds map one to one and stay apart on disk:
//   bool <-> <true/>/<false/>, int/qlonglong/uint <-> <integer>, double/float <-> <real>,
//   QString <-> <string>, QByteArray <-> <data>, QDateTime <-> <date>,
//   QVariantList <-> <array>, QVariantMap <-> <dict>.
// Anything a hand-edited file holds comes back as one of these, so it survives a rewrite.
// Read back, every integer is a qlonglong and every real a double. Files over 256 KiB, nested
// over 512 levels, or binary ones that expand beyond 8 MiB are unreadable, and so is anything
// libplist 2.2 would abort on or misread (a dictionary key holding U+0000).
//
// What libplist 2.2 cannot write back exactly is left out, and each such value is named in
// `leftOut` ("where (why)"): dates outside 1932-12-13 20:45:52 .. 2069-01-19 03:14:07 UTC or
// with fractions of a second, strings holding U+0000 or not valid Unicode, integers beyond 64
// signed bits, binary sets. Whatever a read hands out is written back exactly.
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
    QByteArray data;     // the bytes read, for a copy of the file as it was
    QStringList leftOut; // values of the file that root leaves out, see above
};

// Reads an XML or binary property list. Only a regular file is read: a FIFO, device or
// folder at the path is unreadable, and opening it never blocks.
PropertyListFile readPropertyListFile(const QString& path);
// Parses property-list data (XML or binary); a null QVariant and `error` set when it cannot.
QVariant parsePropertyList(const QByteArray& data, QString* error = nullptr,
                           QStringList* leftOut = nullptr);
// Encodes a value as an XML property list. Without `leftOut`, empty when some value cannot be
// written exactly; with it, such values are left out and named there. Empty when the root
// itself cannot be written, or the XML would be too large to read again (`error` says why).
QByteArray xmlPropertyListData(const QVariant& root, QStringList* leftOut = nullptr,
                               QString* error = nullptr);
// Writes a value as an XML property list atomically (temporary file in the same folder,
// then rename), so readers see the old file or the new one, never a torn one. `leftOut` as
// for xmlPropertyListData.
bool writeXmlPropertyListFile(const QString& path, const QVariant& root, QString* error = nullptr,
                              QStringList* leftOut = nullptr);
// Moves a file that cannot be read out of the way, to "<path>.unreadable-<yyyyMMddThhmmss>"
// (a counter added when taken), so that it is kept for the user and never overwritten. Returns
// the new path, or an empty string when it could not be moved.
QString moveUnreadableFileAside(const QString& path);
// Keeps the bytes of a file as it was beside it, as "<path>.original-<yyyyMMddThhmmss>"
// (a counter added when taken), before it is rewritten without some of its values. Returns
// the copy's path, or an empty string with `error` set.
QString keepOriginalCopy(const QString& path, const QByteArray& data, QString* error);

// What a stored value means where a bool or a number is expected, whatever kind a hand-edited
// file gave it. Non-numbers that are not strings read as false / 0. Strings read by their
// leading number or word: "YES", "true" -> true; "12", " -12.75px" -> 12, -12.
bool plistBoolValue(const QVariant& value);      // true for any non-zero number
qint64 plistIntegerValue(const QVariant& value); // truncated toward zero, saturated, NaN -> 0
qint32 plistIntValue(const QVariant& value);     // the same, in 32 bits
float plistFloatValue(const QVariant& value);    // an integer converts exactly where a float can
// Same kind and same value, arrays and dicts compared member by member: integer 15 and real
// 15.0 differ, as they would on disk; int 15 and qlonglong 15 do not.
bool plistValuesEqual(const QVariant& a, const QVariant& b);

} // namespace platform
