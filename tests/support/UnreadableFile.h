#pragma once

#include "BinaryPropertyListBytes.h"
#include "FifoAtPath.h"
#include "Files.h"

#include <QTest>
#include <optional>

// A binary property list whose key holds U+0000: libplist 2.2 asserts on it.
inline QByteArray binaryKeyHoldingNul()
{
    return binaryDictionary(QByteArray("\x63\x00p\x00o\x00\x00", 7), "\x09");
}

// The rows of a QByteArray column "content" that no reader may abort or block on.
inline void addUnreadableFileRows()
{
    QTest::newRow("binary key holding U+0000") << binaryKeyHoldingNul();
    QTest::newRow("FIFO") << QByteArray("FIFO");
}

// `content` as the file at `path`; "FIFO" makes a FIFO without a writer there, kept in `fifo`.
inline bool placeFile(const QString& path, const QByteArray& content,
                      std::optional<FifoAtPath>& fifo)
{
    if (content != "FIFO")
        return writeFile(path, content);
    return QDir().mkpath(QFileInfo(path).path()) && (fifo.emplace(path), fifo->made());
}
