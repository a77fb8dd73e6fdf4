#include "BinaryPropertyList.h"

#include <cstring>
#include <limits>

namespace platform {

namespace {

// libplist copies an object each time it is referred to, so a small file can expand without
// bound. Each value costs about this much beside its bytes once built.
constexpr qint64 kValueOverhead = 64;                // bytes
constexpr qint64 kMaxExpandedSize = 8 * 1024 * 1024; // bytes, all values built

constexpr qint64 kUnvisited = -1;
constexpr qint64 kVisiting = -2;

enum Marker : uchar {
    Integer = 0x1,
    Date = 0x3,
    Uid = 0x8,
    Data = 0x4,
    AsciiString = 0x5,
    Utf16String = 0x6,
    Array = 0xA,
    Set = 0xC,
    Dict = 0xD,
};

bool hasLength(uchar type)
{
    return type == Data || type == AsciiString || type == Utf16String || type == Array ||
           type == Set || type == Dict;
}

bool isContainer(uchar type)
{
    return type == Array || type == Set || type == Dict;
}

bool isHighSurrogate(quint16 unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(quint16 unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

bool BinaryPropertyList::check(int maxDepth, QString* error)
{
    constexpr qsizetype kHeader = 8;
    constexpr qsizetype kTrailer = 32;
    auto fail = [error](const QString& why) {
        *error = why;
        return false;
    };
    if (m_data.size() < kHeader + kTrailer + 1)
        return fail(QStringLiteral("truncated binary property list"));
    m_maxDepth = maxDepth;
    const qsizetype trailer = m_data.size() - kTrailer;
    m_offsetSize = uchar(m_data[trailer + 6]);
    m_refSize = uchar(m_data[trailer + 7]);
    const quint64 objects = readUInt(trailer + 8, 8);
    m_top = readUInt(trailer + 16, 8);
    m_offsetTable = readUInt(trailer + 24, 8);
    if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8 || objects == 0 ||
        objects > quint64(m_data.size()) || m_top >= objects || m_offsetTable < quint64(kHeader) ||
        m_offsetTable > quint64(trailer) ||
        objects * quint64(m_offsetSize) > quint64(trailer) - m_offsetTable)
        return fail(QStringLiteral("damaged binary property list trailer"));
    m_sizes.assign(objects, kUnvisited);
    if (expandedSize(m_top, 1) < 0)
        return fail(m_problem);
    return true;
}

quint64 BinaryPropertyList::referenceCount(quint64 index) const
{
    const Object container = object(index);
    if (!container.readable || !isContainer(container.type))
        return 0;
    return container.type == Dict ? 2 * container.length : container.length;
}

quint64 BinaryPropertyList::reference(quint64 index, quint64 i) const
{
    const Object container = object(index);
    return readUInt(container.payload + i * quint64(m_refSize), m_refSize);
}

QString BinaryPropertyList::inexactness(quint64 index) const
{
    const Object value = object(index);
    if (!value.readable)
        return {};
    switch (value.type) {
    case Integer:
        // 16 bytes hold a 128-bit integer; libplist keeps only its low 64 bits.
        if (value.low == 4) {
            const quint64 high = readUInt(value.payload, 8);
            const quint64 low = readUInt(value.payload + 8, 8);
            if (high != ((low >> 63) ? ~quint64(0) : 0))
                return QStringLiteral("an integer beyond 64 bits");
        }
        return {};
    case AsciiString:
        // libplist ends the string at its first NUL.
        if (std::memchr(m_data.constData() + value.payload, '\0', value.length))
            return QStringLiteral("a string holding a NUL character");
        return {};
    case Utf16String: {
        // libplist drops unpaired surrogates.
        bool expectLow = false;
        for (quint64 i = 0; i < value.length; ++i) {
            const auto unit = quint16(readUInt(value.payload + 2 * i, 2));
            if (expectLow != isLowSurrogate(unit))
                return QStringLiteral("a string that is not valid UTF-16");
            expectLow = isHighSurrogate(unit);
        }
        return expectLow ? QStringLiteral("a string that is not valid UTF-16") : QString();
    }
    case Uid:
        // Of a UID over 8 bytes libplist keeps the last 8.
        for (quint64 i = 0; i + 8 < quint64(value.low) + 1; ++i) {
            if (m_data[qsizetype(value.payload + i)] != '\0')
                return QStringLiteral("a UID beyond 64 bits");
        }
        return {};
    case Set:
        return QStringLiteral("a set, which has no XML form");
    default:
        return {};
    }
}

BinaryPropertyList::Object BinaryPropertyList::object(quint64 index) const
{
    Object result;
    const quint64 offset = readUInt(m_offsetTable + index * quint64(m_offsetSize), m_offsetSize);
    if (!inside(offset, 1))
        return result;
    const auto marker = uchar(m_data[qsizetype(offset)]);
    result.type = marker >> 4;
    result.low = marker & 0x0F;
    result.length = result.low;
    result.payload = offset + 1;
    if (hasLength(result.type) && result.low == 0x0F) {
        // The length follows as an integer object of 1, 2, 4 or 8 bytes.
        if (!inside(result.payload, 1) || (uchar(m_data[qsizetype(result.payload)]) >> 4) != 0x1)
            return result;
        const int bytes = 1 << (uchar(m_data[qsizetype(result.payload)]) & 0x0F);
        if (bytes > 8 || !inside(result.payload + 1, quint64(bytes)))
            return result;
        result.length = readUInt(result.payload + 1, bytes);
        result.payload += 1 + quint64(bytes);
    }
    if (result.length > quint64(m_data.size()))
        return result;
    quint64 size = 0;
    switch (result.type) {
    case Integer:
        size = result.low <= 4 ? quint64(1) << result.low : 0;
        break;
    case Date:
        size = 8;
        break;
    case Uid:
        size = quint64(result.low) + 1;
        break;
    case Utf16String:
        size = 2 * result.length;
        break;
    case Data:
    case AsciiString:
        size = result.length;
        break;
    case Array:
    case Set:
        size = result.length * quint64(m_refSize);
        break;
    case Dict:
        size = 2 * result.length * quint64(m_refSize);
        break;
    default:
        break;
    }
    result.readable = inside(result.payload, size);
    return result;
}

quint64 BinaryPropertyList::readUInt(quint64 at, int bytes) const
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | uchar(m_data[qsizetype(at) + i]);
    return value;
}

bool BinaryPropertyList::inside(quint64 at, quint64 length) const
{
    return at <= quint64(m_data.size()) && length <= quint64(m_data.size()) - at;
}

// The bytes the object expands to once built, or -1 with m_problem set.
qint64 BinaryPropertyList::expandedSize(quint64 index, int depth)
{
    if (depth > m_maxDepth)
        return problem(QStringLiteral("nested more than %1 levels deep").arg(m_maxDepth));
    if (m_sizes[index] == kVisiting)
        return problem(QStringLiteral("an object contains itself"));
    if (m_sizes[index] != kUnvisited)
        return m_sizes[index];
    const Object value = object(index);
    if (!value.readable)
        return problem(QStringLiteral("an object lies outside the file"));
    if (!isContainer(value.type)) {
        const qint64 bytes = value.type == Utf16String ? 3 * qint64(value.length)
                             : hasLength(value.type)   ? qint64(value.length)
                                                       : 0;
        return m_sizes[index] = kValueOverhead + bytes;
    }
    m_sizes[index] = kVisiting;
    const qint64 size = containerSize(value, depth);
    m_sizes[index] = size < 0 ? kVisiting : size;
    return size;
}

qint64 BinaryPropertyList::containerSize(const Object& container, int depth)
{
    const quint64 keys = container.type == Dict ? container.length : 0;
    const quint64 references = keys + container.length;
    qint64 total = kValueOverhead;
    for (quint64 i = 0; i < references; ++i) {
        const quint64 child = readUInt(container.payload + i * quint64(m_refSize), m_refSize);
        if (child >= m_sizes.size())
            return problem(QStringLiteral("reference to a missing object"));
        if (i < keys) {
            const QString why = keyProblem(child);
            if (!why.isEmpty())
                return problem(why);
        }
        const qint64 below = expandedSize(child, depth + 1);
        if (below < 0)
            return -1;
        total += below;
        if (total > kMaxExpandedSize)
            return problem(QStringLiteral("expands to more than %1 bytes").arg(kMaxExpandedSize));
    }
    return total;
}

// A key libplist cannot hand out as the file holds it: with a NUL inside, libplist 2.2
// asserts (UTF-16) or cuts it short (ASCII); unpaired surrogates it drops.
QString BinaryPropertyList::keyProblem(quint64 index) const
{
    const Object key = object(index);
    if (!key.readable)
        return {};
    if (key.type == AsciiString && std::memchr(m_data.constData() + key.payload, '\0', key.length))
        return QStringLiteral("a key holds a NUL character");
    if (key.type == Utf16String) {
        for (quint64 i = 0; i < key.length; ++i) {
            if (readUInt(key.payload + 2 * i, 2) == 0)
                return QStringLiteral("a key holds U+0000");
        }
        if (!inexactness(index).isEmpty())
            return QStringLiteral("a key is not valid UTF-16");
    }
    return {};
}

qint64 BinaryPropertyList::problem(const QString& why)
{
    m_problem = why;
    return -1;
}

} // namespace platform
