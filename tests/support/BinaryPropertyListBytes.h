#pragma once

#include <QByteArray>
#include <QList>
#include <QtEndian>
#include <cstring>

// Binary property lists built object by object, for files no writer would make.

// The objects given, object 0 at the top, with one-byte offsets and references.
inline QByteArray binaryObjects(const QList<QByteArray>& objects)
{
    QByteArray body = "bplist00", offsets;
    for (const QByteArray& object : objects) {
        offsets += char(body.size());
        body += object;
    }
    QByteArray trailer(32, '\0');
    trailer[6] = trailer[7] = 1;
    trailer[15] = char(objects.size());
    trailer[31] = char(body.size());
    return body + offsets + trailer;
}

// The dictionary {"keep": true, <key>: <value>}, key and value as object bytes.
inline QByteArray binaryDictionary(const QByteArray& key, const QByteArray& value)
{
    return binaryObjects({"\xD2\x01\x03\x02\x04", "\x54keep", "\x09", key, value});
}

// A date object: seconds from 2001-01-01 00:00:00 UTC.
inline QByteArray binaryDate(double seconds)
{
    quint64 bits = 0;
    std::memcpy(&bits, &seconds, sizeof bits);
    const quint64 bigEndian = qToBigEndian(bits);
    return "\x33" + QByteArray(reinterpret_cast<const char*>(&bigEndian), 8);
}
