#include "PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <plist/plist.h>
#include <vector>

namespace platform {

namespace {

// A settings file is a few hundred bytes; anything far larger is not one of ours, and
// libplist takes the whole buffer into memory at once.
constexpr qint64 kMaxFileSize = 4 * 1024 * 1024; // bytes
// libplist builds, frees and encodes trees recursively; a hostile file nested a hundred
// thousand levels deep overflows the stack. Real property lists nest a handful of levels.
constexpr int kMaxDepth = 512; // levels of arrays and dicts
// A binary plist may refer to one object many times; libplist copies it each time, so a
// small file can expand without bound.
constexpr qint64 kMaxNodes = 1'000'000; // values after expansion
// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceDateMSecs = 978'307'200'000; // ms from 1970-01-01 UTC

struct PlistFree
{
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistNode = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

enum class Kind { Bool, Integer, Real, String, Data, Date, Array, Dict, Unsupported };

Kind kindOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return Kind::Bool;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Char:
        return Kind::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        return Kind::Real;
    case QMetaType::QString:
        return Kind::String;
    case QMetaType::QByteArray:
        return Kind::Data;
    case QMetaType::QDateTime:
        return Kind::Date;
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
        return Kind::Array;
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        return Kind::Dict;
    default:
        return Kind::Unsupported;
    }
}

bool isUnsignedType(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

// ---- Qt value -> plist node ----

PlistNode toNode(const QVariant& value, int depth, QString* error);

PlistNode integerNode(const QVariant& value)
{
    // libplist 2.2 keeps every integer as 64 bits and writes it signed; an unsigned value above
    // the signed range would come back negative, so it is kept at the largest one instead.
    if (isUnsignedType(value)) {
        const qulonglong magnitude = value.toULongLong();
        const auto limit = static_cast<qulonglong>(std::numeric_limits<qint64>::max());
        return PlistNode(plist_new_uint(std::min(magnitude, limit)));
    }
    return PlistNode(plist_new_uint(static_cast<uint64_t>(value.toLongLong())));
}

PlistNode dateNode(const QVariant& value, QString* error)
{
    const QDateTime date = value.toDateTime();
    if (!date.isValid()) {
        *error = QStringLiteral("an invalid date");
        return nullptr;
    }
    const qint64 msecs = date.toMSecsSinceEpoch() - kReferenceDateMSecs;
    const qint64 seconds = msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000);
    if (seconds < std::numeric_limits<int32_t>::min() ||
        seconds > std::numeric_limits<int32_t>::max()) {
        *error =
            QStringLiteral("the date %1 is outside 1933..2069").arg(date.toString(Qt::ISODate));
        return nullptr;
    }
    const auto microseconds = static_cast<int32_t>((msecs - seconds * 1000) * 1000);
    return PlistNode(plist_new_date(static_cast<int32_t>(seconds), microseconds));
}

PlistNode arrayNode(const QVariantList& items, int depth, QString* error)
{
    PlistNode array(plist_new_array());
    for (const QVariant& item : items) {
        PlistNode child = toNode(item, depth + 1, error);
        if (!child)
            return nullptr;
        plist_array_append_item(array.get(), child.release());
    }
    return array;
}

template <typename Map> PlistNode dictNode(const Map& entries, int depth, QString* error)
{
    PlistNode dict(plist_new_dict());
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        PlistNode child = toNode(it.value(), depth + 1, error);
        if (!child) {
            *error = QStringLiteral("key \"%1\": %2").arg(it.key(), *error);
            return nullptr;
        }
        plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), child.release());
    }
    return dict;
}

PlistNode toNode(const QVariant& value, int depth, QString* error)
{
    if (depth > kMaxDepth) {
        *error = QStringLiteral("nested more than %1 levels deep").arg(kMaxDepth);
        return nullptr;
    }
    switch (kindOf(value)) {
    case Kind::Bool:
        return PlistNode(plist_new_bool(value.toBool() ? 1 : 0));
    case Kind::Integer:
        return integerNode(value);
    case Kind::Real:
        return PlistNode(plist_new_real(value.toDouble()));
    case Kind::String:
        return PlistNode(plist_new_string(value.toString().toUtf8().constData()));
    case Kind::Data: {
        const QByteArray bytes = value.toByteArray();
        return PlistNode(plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size())));
    }
    case Kind::Date:
        return dateNode(value, error);
    case Kind::Array:
        return arrayNode(value.toList(), depth, error);
    case Kind::Dict:
        if (value.typeId() == QMetaType::QVariantHash)
            return dictNode(value.toHash(), depth, error);
        return dictNode(value.toMap(), depth, error);
    case Kind::Unsupported:
        break;
    }
    *error =
        QStringLiteral("a value of type %1 has no property-list form")
            .arg(QString::fromLatin1(value.metaType().name() ? value.metaType().name() : "(none)"));
    return nullptr;
}

// ---- plist node -> Qt value ----

std::optional<QVariant> fromNode(plist_t node, int depth);

QVariant stringValue(plist_t node)
{
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return QString::fromUtf8(text, static_cast<qsizetype>(length));
}

QVariant dataValue(plist_t node)
{
    uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(node, &length);
    return QByteArray(bytes, static_cast<qsizetype>(length));
}

QVariant dateValue(plist_t node)
{
    int32_t seconds = 0;
    int32_t microseconds = 0;
    plist_get_date_val(node, &seconds, &microseconds);
    const qint64 msecs = kReferenceDateMSecs + qint64(seconds) * 1000 + microseconds / 1000;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

std::optional<QVariant> arrayValue(plist_t node, int depth)
{
    QVariantList items;
    const uint32_t size = plist_array_get_size(node);
    items.reserve(size);
    for (uint32_t i = 0; i < size; ++i) {
        std::optional<QVariant> item = fromNode(plist_array_get_item(node, i), depth + 1);
        if (!item)
            return std::nullopt;
        items.append(std::move(*item));
    }
    return items;
}

std::optional<QVariant> dictValue(plist_t node, int depth)
{
    QVariantMap entries;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    for (;;) {
        char* key = nullptr;
        plist_t child = nullptr;
        plist_dict_next_item(node, it, &key, &child);
        if (!child) {
            free(key);
            break;
        }
        const QString name = QString::fromUtf8(key);
        free(key);
        std::optional<QVariant> value = fromNode(child, depth + 1);
        if (!value) {
            free(it);
            return std::nullopt;
        }
        entries.insert(name, std::move(*value));
    }
    free(it);
    return entries;
}

std::optional<QVariant> fromNode(plist_t node, int depth)
{
    if (!node || depth > kMaxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        return QVariant(flag != 0);
    }
    case PLIST_UINT: {
        uint64_t bits = 0;
        plist_get_uint_val(node, &bits);
        return QVariant::fromValue(static_cast<qint64>(bits));
    }
    case PLIST_REAL: {
        double real = 0;
        plist_get_real_val(node, &real);
        return QVariant(real);
    }
    case PLIST_STRING:
    case PLIST_KEY:
        return stringValue(node);
    case PLIST_DATA:
        return dataValue(node);
    case PLIST_DATE:
        return dateValue(node);
    case PLIST_ARRAY:
        return arrayValue(node, depth);
    case PLIST_DICT:
        return dictValue(node, depth);
    case PLIST_UID: {
        // Written back as the XML form of a UID, which libplist reads as a UID again.
        uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        return QVariantMap{{QStringLiteral("CF$UID"), QVariant::fromValue(qint64(uid))}};
    }
    case PLIST_NONE:
        break;
    }
    return std::nullopt;
}

// ---- shape checks before libplist sees the data ----

// Deepest nesting of <array> and <dict> elements. Comments, CDATA, processing instructions and
// the DOCTYPE are skipped as libplist skips them, so that text inside them cannot hide a level.
int xmlNestingDepth(const QByteArray& xml)
{
    auto startsAt = [&](qsizetype at, const char* text) {
        return xml.mid(at, qsizetype(qstrlen(text))) == text;
    };
    auto skipPast = [&](qsizetype from, const char* end) {
        const qsizetype found = xml.indexOf(end, from);
        return found < 0 ? xml.size() : found + qsizetype(qstrlen(end));
    };
    auto isContainer = [&](qsizetype nameAt) {
        for (const char* name : {"array", "dict"}) {
            const qsizetype after = nameAt + qsizetype(qstrlen(name));
            if (startsAt(nameAt, name) && after < xml.size() &&
                (xml[after] == '>' || xml[after] == '/' || QChar::isSpace(uchar(xml[after]))))
                return true;
        }
        return false;
    };

    int depth = 0;
    int deepest = 0;
    qsizetype i = 0;
    while ((i = xml.indexOf('<', i)) >= 0) {
        if (startsAt(i, "<!--")) {
            i = skipPast(i + 4, "-->");
        } else if (startsAt(i, "<![CDATA[")) {
            i = skipPast(i + 9, "]]>");
        } else if (startsAt(i, "<?")) {
            i = skipPast(i + 2, "?>");
        } else if (startsAt(i, "<!")) {
            const qsizetype close = xml.indexOf('>', i);
            const qsizetype subset = xml.indexOf('[', i);
            i = (subset >= 0 && (close < 0 || subset < close)) ? skipPast(subset, "]>")
                                                               : skipPast(i, ">");
        } else if (startsAt(i, "</")) {
            if (isContainer(i + 2))
                depth = std::max(0, depth - 1);
            i += 2;
        } else {
            const qsizetype close = xml.indexOf('>', i);
            const bool selfClosing = close > 0 && xml[close - 1] == '/';
            if (isContainer(i + 1) && !selfClosing)
                deepest = std::max(deepest, ++depth);
            i += 1;
        }
    }
    return deepest;
}

// Walks the object table of a "bplist00" file the way libplist's reader will, without building
// anything: refuses cycles, nesting beyond kMaxDepth and expansion beyond kMaxNodes.
class BinaryShape
{
public:
    explicit BinaryShape(const QByteArray& data) : m_data(data) {}

    bool check(QString* error)
    {
        constexpr qsizetype kHeader = 8;
        constexpr qsizetype kTrailer = 32;
        if (m_data.size() < kHeader + kTrailer + 1)
            return fail(error, QStringLiteral("truncated binary property list"));
        const qsizetype trailer = m_data.size() - kTrailer;
        m_offsetSize = uchar(m_data[trailer + 6]);
        m_refSize = uchar(m_data[trailer + 7]);
        const quint64 objects = readUInt(trailer + 8, 8);
        const quint64 top = readUInt(trailer + 16, 8);
        m_offsetTable = readUInt(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8 ||
            objects == 0 || objects > quint64(m_data.size()) || top >= objects ||
            m_offsetTable < quint64(kHeader) || m_offsetTable > quint64(trailer) ||
            objects * quint64(m_offsetSize) > quint64(trailer) - m_offsetTable)
            return fail(error, QStringLiteral("damaged binary property list trailer"));
        m_nodes.assign(objects, kUnvisited);
        const qint64 total = nodesBelow(top, 1);
        if (total < 0)
            return fail(error, m_problem);
        return true;
    }

private:
    static constexpr qint64 kUnvisited = -1;
    static constexpr qint64 kVisiting = -2;

    static bool fail(QString* error, const QString& why)
    {
        *error = why;
        return false;
    }

    quint64 readUInt(quint64 at, int bytes) const
    {
        quint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | uchar(m_data[qsizetype(at) + i]);
        return value;
    }

    bool inside(quint64 at, quint64 length) const
    {
        return at <= quint64(m_data.size()) && length <= quint64(m_data.size()) - at;
    }

    // Number of values the object expands to, or -1 with m_problem set.
    qint64 nodesBelow(quint64 object, int depth)
    {
        if (depth > kMaxDepth)
            return problem(QStringLiteral("nested more than %1 levels deep").arg(kMaxDepth));
        if (m_nodes[object] == kVisiting)
            return problem(QStringLiteral("an object contains itself"));
        if (m_nodes[object] != kUnvisited)
            return m_nodes[object];
        m_nodes[object] = kVisiting;
        const qint64 count =
            countObject(readUInt(m_offsetTable + object * m_offsetSize, m_offsetSize), depth);
        m_nodes[object] = count < 0 ? kVisiting : count;
        return count;
    }

    qint64 countObject(quint64 offset, int depth)
    {
        if (!inside(offset, 1))
            return problem(QStringLiteral("object offset outside the file"));
        const uchar marker = uchar(m_data[qsizetype(offset)]);
        const uchar type = marker >> 4;
        if (type != 0xA && type != 0xC && type != 0xD)
            return 1; // a scalar: libplist checks its bytes itself
        quint64 length = marker & 0x0F;
        quint64 refs = offset + 1;
        if (length == 0x0F) {
            if (!inside(refs, 1) || (uchar(m_data[qsizetype(refs)]) >> 4) != 0x1)
                return problem(QStringLiteral("damaged container length"));
            const int bytes = 1 << (uchar(m_data[qsizetype(refs)]) & 0x0F);
            if (bytes > 8 || !inside(refs + 1, quint64(bytes)))
                return problem(QStringLiteral("damaged container length"));
            length = readUInt(refs + 1, bytes);
            refs += 1 + quint64(bytes);
        }
        const quint64 children = type == 0xD ? 2 * length : length;
        if (length > quint64(m_data.size()) || !inside(refs, children * m_refSize))
            return problem(QStringLiteral("container runs past the end of the file"));
        qint64 total = 1;
        for (quint64 i = 0; i < children; ++i) {
            const quint64 child = readUInt(refs + i * m_refSize, m_refSize);
            if (child >= m_nodes.size())
                return problem(QStringLiteral("reference to a missing object"));
            const qint64 below = nodesBelow(child, depth + 1);
            if (below < 0)
                return -1;
            total += below;
            if (total > kMaxNodes)
                return problem(QStringLiteral("expands to more than %1 values").arg(kMaxNodes));
        }
        return total;
    }

    qint64 problem(const QString& why)
    {
        m_problem = why;
        return -1;
    }

    const QByteArray& m_data;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_offsetTable = 0;
    std::vector<qint64> m_nodes;
    QString m_problem;
};

PlistNode parseNode(const QByteArray& data, QString* why)
{
    if (data.isEmpty()) {
        *why = QStringLiteral("empty file");
        return nullptr;
    }
    if (data.size() > kMaxFileSize) {
        *why = QStringLiteral("larger than %1 bytes").arg(kMaxFileSize);
        return nullptr;
    }
    const auto length = static_cast<uint32_t>(data.size());
    plist_t node = nullptr;
    if (data.startsWith("bplist00")) {
        if (!BinaryShape(data).check(why))
            return nullptr;
        plist_from_bin(data.constData(), length, &node);
    } else {
        if (xmlNestingDepth(data) > kMaxDepth) {
            *why = QStringLiteral("nested more than %1 levels deep").arg(kMaxDepth);
            return nullptr;
        }
        plist_from_xml(data.constData(), length, &node);
    }
    if (!node)
        *why = QStringLiteral("not a well-formed property list");
    return PlistNode(node);
}

// ---- the number conversions ----

enum class NumberPrefix { Integer, Real };

// The leading number of a string as the original platform's string object reads it: leading
// white space skipped, an optional sign, then digits; whatever follows is ignored.
QString numericPrefix(const QString& text, NumberPrefix form)
{
    static const QRegularExpression integer(QStringLiteral("^\\s*([+-]?\\d+)"));
    static const QRegularExpression real(
        QStringLiteral("^\\s*([+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?)"));
    const QRegularExpressionMatch match =
        (form == NumberPrefix::Integer ? integer : real).match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

qint64 saturatedInteger(double value)
{
    constexpr double kUpper = 9223372036854775808.0; // 2^63
    if (std::isnan(value))
        return 0;
    if (value >= kUpper)
        return std::numeric_limits<qint64>::max();
    if (value < -kUpper)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(std::trunc(value));
}

qint64 integerOfString(const QString& text)
{
    const QString digits = numericPrefix(text, NumberPrefix::Integer);
    if (digits.isEmpty())
        return 0;
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok);
    if (ok)
        return value;
    return digits.startsWith(u'-') ? std::numeric_limits<qint64>::min()
                                   : std::numeric_limits<qint64>::max();
}

double realOfString(const QString& text)
{
    const QString number = numericPrefix(text, NumberPrefix::Real);
    if (number.isEmpty())
        return 0.0;
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    if (ok)
        return value;
    // Only an exponent out of range fails here: the value is then infinite or zero.
    return number.contains(QRegularExpression(QStringLiteral("[eE]-")))
               ? 0.0
               : (number.startsWith(u'-') ? -HUGE_VAL : HUGE_VAL);
}

// "YES", "true", "1" and any string whose first significant character is Y, T or a digit 1-9.
bool boolOfString(const QString& text)
{
    static const QRegularExpression truth(QStringLiteral("^\\s*[+-]?0*[YyTt1-9]"));
    return truth.match(text).hasMatch();
}

} // namespace

// ---- public ----

QVariant parsePropertyList(const QByteArray& data, QString* error)
{
    QString why;
    PlistNode node = parseNode(data, &why);
    std::optional<QVariant> value;
    if (node) {
        value = fromNode(node.get(), 1);
        if (!value)
            why = QStringLiteral("holds a value of no known kind");
    }
    if (!value) {
        if (error)
            *error = why;
        return {};
    }
    return *value;
}

PropertyListFile readPropertyListFile(const QString& path)
{
    PropertyListFile result;
    QFile file(path);
    if (!file.exists())
        return result;
    result.status = PropertyListStatus::Unreadable;
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        return result;
    }
    // One byte beyond the limit tells a file that is too large from one that fits.
    const QByteArray data = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        result.error = file.errorString();
        return result;
    }
    result.root = parsePropertyList(data, &result.error);
    if (result.root.isValid())
        result.status = PropertyListStatus::Ok;
    return result;
}

namespace {

QByteArray encodeXml(const QVariant& root, QString* error)
{
    QString why;
    const PlistNode node = toNode(root, 1, &why);
    if (!node) {
        if (error)
            *error = why;
        return {};
    }
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node.get(), &xml, &length);
    const QByteArray data(xml, qsizetype(length));
    plist_to_xml_free(xml);
    if (data.isEmpty() && error)
        *error = QStringLiteral("libplist produced no XML");
    return data;
}

} // namespace

QByteArray xmlPropertyListData(const QVariant& root)
{
    return encodeXml(root, nullptr);
}

bool writeXmlPropertyListFile(const QString& path, const QVariant& root, QString* error)
{
    QString why;
    const QByteArray data = encodeXml(root, &why);
    if (data.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

bool plistBoolValue(const QVariant& value)
{
    switch (kindOf(value)) {
    case Kind::Bool:
        return value.toBool();
    case Kind::Integer:
        return isUnsignedType(value) ? value.toULongLong() != 0 : value.toLongLong() != 0;
    case Kind::Real: {
        const double real = value.toDouble();
        return !std::isnan(real) && real != 0.0;
    }
    case Kind::String:
        return boolOfString(value.toString());
    default:
        return false;
    }
}

qint64 plistIntegerValue(const QVariant& value)
{
    switch (kindOf(value)) {
    case Kind::Bool:
        return value.toBool() ? 1 : 0;
    case Kind::Integer:
        if (isUnsignedType(value)) {
            const auto limit = static_cast<qulonglong>(std::numeric_limits<qint64>::max());
            return static_cast<qint64>(std::min(value.toULongLong(), limit));
        }
        return value.toLongLong();
    case Kind::Real:
        return saturatedInteger(value.toDouble());
    case Kind::String:
        return integerOfString(value.toString());
    default:
        return 0;
    }
}

qint32 plistIntValue(const QVariant& value)
{
    return static_cast<qint32>(std::clamp<qint64>(plistIntegerValue(value),
                                                  std::numeric_limits<qint32>::min(),
                                                  std::numeric_limits<qint32>::max()));
}

float plistFloatValue(const QVariant& value)
{
    double real = 0.0;
    switch (kindOf(value)) {
    case Kind::Bool:
        return value.toBool() ? 1.0f : 0.0f;
    case Kind::Integer:
        if (isUnsignedType(value))
            return static_cast<float>(value.toULongLong());
        return static_cast<float>(value.toLongLong());
    case Kind::Real:
        real = value.toDouble();
        break;
    case Kind::String:
        real = realOfString(value.toString());
        break;
    default:
        return 0.0f;
    }
    // Beyond the float range the value is infinite, as the hardware would make it.
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    if (real > kFloatMax)
        return std::numeric_limits<float>::infinity();
    if (real < -kFloatMax)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(real);
}

bool plistValuesEqual(const QVariant& a, const QVariant& b)
{
    const Kind kind = kindOf(a);
    if (kind != kindOf(b))
        return false;
    switch (kind) {
    case Kind::Bool:
        return a.toBool() == b.toBool();
    case Kind::Integer:
        return plistIntegerValue(a) == plistIntegerValue(b);
    case Kind::Real: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    case Kind::Array: {
        const QVariantList left = a.toList();
        const QVariantList right = b.toList();
        return std::equal(left.cbegin(), left.cend(), right.cbegin(), right.cend(),
                          plistValuesEqual);
    }
    case Kind::Dict: {
        const QVariantMap left = a.toMap();
        const QVariantMap right = b.toMap();
        if (left.keys() != right.keys())
            return false;
        for (auto it = left.cbegin(); it != left.cend(); ++it) {
            if (!plistValuesEqual(it.value(), right.value(it.key())))
                return false;
        }
        return true;
    }
    default:
        return a == b;
    }
}

} // namespace platform
