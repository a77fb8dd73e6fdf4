#include "PropertyList.h"

#include "BinaryPropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <plist/plist.h>
#include <sys/stat.h>

namespace platform {

namespace {

// A settings file is a few hundred bytes and a launch-agent file less; anything far larger
// is not one of ours. The cap also bounds nesting: libplist frees a tree recursively, and
// 256 KiB of "<array>" nests about 37 000 levels, well within the stack (200 000 overflow it).
constexpr qint64 kMaxFileSize = 256 * 1024; // bytes
// Real property lists nest a handful of levels; our own readers and writers recurse too.
constexpr int kMaxDepth = 512; // levels of arrays and dicts
// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceDateMSecs = 978'307'200'000; // ms from 1970-01-01 UTC

const QString kDateOutOfRange =
    QStringLiteral("a date outside 1932-12-13 20:45:52 .. 2069-01-19 03:14:07 UTC");
const QString kFractionalDate = QStringLiteral("a date with fractions of a second");

QString fileKind(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("of an unknown kind");
}

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

// ---- where a value sits, for the names of values left out ----

QString keyStep(const QString& where, const QString& key)
{
    const QString step = u'"' + key + u'"';
    return where.isEmpty() ? step : where + u'/' + step;
}

QString indexStep(const QString& where, qsizetype index)
{
    const QString step = QString::number(index);
    return where.isEmpty() ? step : where + u'/' + step;
}

QString leftOutEntry(const QString& where, const QString& why)
{
    return QStringLiteral("%1 (%2)").arg(where.isEmpty() ? QStringLiteral("the root") : where, why);
}

// Why a string cannot go through libplist's char* interface and come back the same.
QString stringProblem(const QString& text)
{
    if (text.contains(QChar(0)))
        return QStringLiteral("a string holding U+0000");
    if (!text.isValidUtf16())
        return QStringLiteral("a string that is not valid Unicode");
    return {};
}

// ---- Qt value -> plist node ----

// Builds the libplist tree of a value, leaving out what libplist 2.2 cannot write exactly.
class NodeWriter
{
public:
    PlistNode write(const QVariant& value, const QString& where, int depth);
    QStringList leftOut;

private:
    PlistNode leaveOut(const QString& where, const QString& why)
    {
        leftOut << leftOutEntry(where, why);
        return nullptr;
    }
    PlistNode integer(const QVariant& value, const QString& where);
    PlistNode string(const QString& text, const QString& where);
    PlistNode date(const QDateTime& date, const QString& where);
    PlistNode array(const QVariantList& items, const QString& where, int depth);
    template <typename Map> PlistNode dict(const Map& entries, const QString& where, int depth);
};

PlistNode NodeWriter::write(const QVariant& value, const QString& where, int depth)
{
    if (depth > kMaxDepth)
        return leaveOut(where, QStringLiteral("nested more than %1 levels deep").arg(kMaxDepth));
    switch (kindOf(value)) {
    case Kind::Bool:
        return PlistNode(plist_new_bool(value.toBool() ? 1 : 0));
    case Kind::Integer:
        return integer(value, where);
    case Kind::Real:
        return PlistNode(plist_new_real(value.toDouble()));
    case Kind::String:
        return string(value.toString(), where);
    case Kind::Data: {
        const QByteArray bytes = value.toByteArray();
        return PlistNode(plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size())));
    }
    case Kind::Date:
        return date(value.toDateTime(), where);
    case Kind::Array:
        return array(value.toList(), where, depth);
    case Kind::Dict:
        if (value.typeId() == QMetaType::QVariantHash)
            return dict(value.toHash(), where, depth);
        return dict(value.toMap(), where, depth);
    case Kind::Unsupported:
        break;
    }
    const char* type = value.metaType().name();
    return leaveOut(where, QStringLiteral("a value of type %1, which has no property-list form")
                               .arg(QString::fromLatin1(type ? type : "(none)")));
}

PlistNode NodeWriter::integer(const QVariant& value, const QString& where)
{
    // libplist 2.2 writes every integer as signed 64 bits.
    if (isUnsignedType(value) &&
        value.toULongLong() > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
        return leaveOut(where, QStringLiteral("an integer above 9223372036854775807"));
    return PlistNode(plist_new_uint(static_cast<uint64_t>(value.toLongLong())));
}

PlistNode NodeWriter::string(const QString& text, const QString& where)
{
    const QString problem = stringProblem(text);
    if (!problem.isEmpty())
        return leaveOut(where, problem);
    return PlistNode(plist_new_string(text.toUtf8().constData()));
}

PlistNode NodeWriter::date(const QDateTime& date, const QString& where)
{
    if (!date.isValid())
        return leaveOut(where, QStringLiteral("an invalid date"));
    // libplist 2.2 makes a date of 32-bit seconds from 2001 and writes whole seconds.
    const qint64 msecs = date.toMSecsSinceEpoch() - kReferenceDateMSecs;
    if (msecs % 1000 != 0)
        return leaveOut(where, kFractionalDate);
    const qint64 seconds = msecs / 1000;
    if (seconds < std::numeric_limits<int32_t>::min() ||
        seconds > std::numeric_limits<int32_t>::max())
        return leaveOut(where, kDateOutOfRange);
    return PlistNode(plist_new_date(static_cast<int32_t>(seconds), 0));
}

PlistNode NodeWriter::array(const QVariantList& items, const QString& where, int depth)
{
    PlistNode array(plist_new_array());
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (PlistNode child = write(items[i], indexStep(where, i), depth + 1))
            plist_array_append_item(array.get(), child.release());
    }
    return array;
}

template <typename Map>
PlistNode NodeWriter::dict(const Map& entries, const QString& where, int depth)
{
    PlistNode dict(plist_new_dict());
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const QString place = keyStep(where, it.key());
        const QString keyProblem = stringProblem(it.key());
        if (!keyProblem.isEmpty()) {
            leaveOut(place, QStringLiteral("its key is %1").arg(keyProblem));
            continue;
        }
        if (PlistNode child = write(it.value(), place, depth + 1))
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), child.release());
    }
    return dict;
}

// ---- plist node -> Qt value ----

// The seconds from 2001 a date node holds. libplist 2.2 hands them out only cast to 32 bits
// (undefined beyond, 1932-12-13 on x86-64), so they are taken from its binary encoding of the
// node: "bplist00", then the marker 0x33 and a big-endian double.
std::optional<double> dateSeconds(plist_t node)
{
    char* binary = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &binary, &length);
    const std::unique_ptr<char, decltype(&plist_to_bin_free)> ownBinary(binary, &plist_to_bin_free);
    constexpr uint32_t kDateAt = 8;
    if (!binary || length < kDateAt + 9 || uchar(binary[kDateAt]) != 0x33)
        return std::nullopt;
    quint64 bits = 0;
    for (uint32_t i = 1; i <= 8; ++i)
        bits = (bits << 8) | uchar(binary[kDateAt + i]);
    double seconds = 0;
    std::memcpy(&seconds, &bits, sizeof seconds);
    return seconds;
}

// Turns a libplist tree into Qt values, leaving out what differs from the file or cannot be
// written back exactly. For a binary file it walks the object table alongside, since libplist
// has already changed some values (cut strings, dropped bits) by the time it hands them out.
class NodeReader
{
public:
    explicit NodeReader(const BinaryPropertyList* binary) : m_binary(binary) {}

    // The value, or nothing: left out (named in leftOut) or unreadable (error set).
    std::optional<QVariant> read(plist_t node, quint64 object, const QString& where, int depth);
    QStringList leftOut;
    QString error;

private:
    std::optional<QVariant> leaveOut(const QString& where, const QString& why)
    {
        leftOut << leftOutEntry(where, why);
        return std::nullopt;
    }
    std::optional<QVariant> fail(const QString& why)
    {
        error = why;
        return std::nullopt;
    }
    std::optional<QVariant> integer(plist_t node, const QString& where);
    std::optional<QVariant> string(plist_t node, const QString& where);
    std::optional<QVariant> date(plist_t node, const QString& where);
    std::optional<QVariant> array(plist_t node, quint64 object, const QString& where, int depth);
    std::optional<QVariant> dict(plist_t node, quint64 object, const QString& where, int depth);
    bool referencesMatch(quint64 object, quint64 children);

    const BinaryPropertyList* m_binary;
};

std::optional<QVariant> NodeReader::read(plist_t node, quint64 object, const QString& where,
                                         int depth)
{
    if (!node)
        return fail(QStringLiteral("holds a value of no known kind"));
    if (depth > kMaxDepth)
        return fail(QStringLiteral("nested more than %1 levels deep").arg(kMaxDepth));
    if (m_binary) {
        const QString why = m_binary->inexactness(object);
        if (!why.isEmpty())
            return leaveOut(where, why);
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        return QVariant(flag != 0);
    }
    case PLIST_UINT:
        return integer(node, where);
    case PLIST_REAL: {
        double real = 0;
        plist_get_real_val(node, &real);
        return QVariant(real);
    }
    case PLIST_STRING:
        return string(node, where);
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return QByteArray(bytes, static_cast<qsizetype>(length));
    }
    case PLIST_DATE:
        return date(node, where);
    case PLIST_ARRAY:
        return array(node, object, where, depth);
    case PLIST_DICT:
        return dict(node, object, where, depth);
    case PLIST_UID: {
        // Written back as the XML form of a UID, a dictionary with the one key "CF$UID".
        uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        return QVariantMap{{QStringLiteral("CF$UID"), QVariant::fromValue(qint64(uid))}};
    }
    case PLIST_KEY:
    case PLIST_NONE:
        break;
    }
    return fail(QStringLiteral("holds a value of no known kind"));
}

std::optional<QVariant> NodeReader::integer(plist_t node, const QString& where)
{
    uint64_t bits = 0;
    plist_get_uint_val(node, &bits);
    // libplist marks an XML integer above the signed range by its length (16 bytes), which
    // only a comparison with a plain 8-byte node shows. Binary ones were checked by the walk.
    if (!m_binary && (bits >> 63) != 0) {
        const PlistNode plain(plist_new_uint(bits));
        if (!plist_compare_node_value(node, plain.get()))
            return leaveOut(where, QStringLiteral("an integer above 9223372036854775807"));
    }
    return QVariant::fromValue(static_cast<qint64>(bits));
}

std::optional<QVariant> NodeReader::string(plist_t node, const QString& where)
{
    uint64_t length = 0;
    const char* bytes = plist_get_string_ptr(node, &length);
    const QByteArray utf8(bytes, static_cast<qsizetype>(length));
    const QString text = QString::fromUtf8(utf8);
    if (text.toUtf8() != utf8)
        return leaveOut(where, QStringLiteral("a string that is not valid UTF-8"));
    const QString problem = stringProblem(text);
    if (!problem.isEmpty())
        return leaveOut(where, problem);
    return text;
}

std::optional<QVariant> NodeReader::date(plist_t node, const QString& where)
{
    const std::optional<double> seconds = dateSeconds(node);
    if (!seconds)
        return fail(QStringLiteral("a date libplist could not encode"));
    if (!(*seconds >= std::numeric_limits<int32_t>::min() &&
          *seconds <= std::numeric_limits<int32_t>::max()))
        return leaveOut(where, kDateOutOfRange);
    if (*seconds != std::trunc(*seconds))
        return leaveOut(where, kFractionalDate);
    return QDateTime::fromMSecsSinceEpoch(kReferenceDateMSecs + qint64(*seconds) * 1000, Qt::UTC);
}

// libplist builds a container's children from its references in order; anything else
// means the walk and the tree went apart, and nothing is guessed.
bool NodeReader::referencesMatch(quint64 object, quint64 children)
{
    if (!m_binary || m_binary->referenceCount(object) == children)
        return true;
    error = QStringLiteral("a container libplist read differently");
    return false;
}

std::optional<QVariant> NodeReader::array(plist_t node, quint64 object, const QString& where,
                                          int depth)
{
    const uint32_t size = plist_array_get_size(node);
    if (!referencesMatch(object, size))
        return std::nullopt;
    QVariantList items;
    items.reserve(size);
    for (uint32_t i = 0; i < size; ++i) {
        const quint64 child = m_binary ? m_binary->reference(object, i) : 0;
        std::optional<QVariant> item =
            read(plist_array_get_item(node, i), child, indexStep(where, i), depth + 1);
        if (!error.isEmpty())
            return std::nullopt;
        if (item)
            items.append(std::move(*item));
    }
    return items;
}

std::optional<QVariant> NodeReader::dict(plist_t node, quint64 object, const QString& where,
                                         int depth)
{
    const uint32_t size = plist_dict_get_size(node);
    if (!referencesMatch(object, 2 * quint64(size)))
        return std::nullopt;
    QVariantMap entries;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(node, &iterator);
    const std::unique_ptr<void, decltype(&free)> ownIterator(iterator, &free);
    for (uint32_t i = 0; i < size; ++i) {
        char* key = nullptr;
        plist_t child = nullptr;
        plist_dict_next_item(node, iterator, &key, &child);
        const std::unique_ptr<char, decltype(&free)> ownKey(key, &free);
        if (!key || !child)
            return fail(QStringLiteral("a dictionary libplist read differently"));
        const QByteArray utf8(key);
        const QString name = QString::fromUtf8(utf8);
        if (name.toUtf8() != utf8)
            return fail(QStringLiteral("a key is not valid UTF-8"));
        const quint64 value = m_binary ? m_binary->reference(object, size + i) : 0;
        std::optional<QVariant> item = read(child, value, keyStep(where, name), depth + 1);
        if (!error.isEmpty())
            return std::nullopt;
        if (item)
            entries.insert(name, std::move(*item));
    }
    return entries;
}

PlistNode parseNode(const QByteArray& data, std::optional<BinaryPropertyList>& binary, QString* why)
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
        binary.emplace(data);
        if (!binary->check(kMaxDepth, why))
            return nullptr;
        plist_from_bin(data.constData(), length, &node);
    } else {
        // QByteArray ends in a NUL, which libplist's number parsing relies on.
        plist_from_xml(data.constData(), length, &node);
    }
    if (!node)
        *why = QStringLiteral("not a well-formed property list");
    return PlistNode(node);
}

// ---- the number conversions ----

enum class NumberPrefix { Integer, Real };

// The leading number of a string, as settings written by hand are read: leading
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

QVariant parsePropertyList(const QByteArray& data, QString* error, QStringList* leftOut)
{
    QString why;
    std::optional<BinaryPropertyList> binary;
    const PlistNode node = parseNode(data, binary, &why);
    std::optional<QVariant> value;
    if (node) {
        NodeReader reader(binary ? &*binary : nullptr);
        value = reader.read(node.get(), binary ? binary->topObject() : 0, {}, 1);
        why = !reader.error.isEmpty() ? reader.error
              : value                 ? QString()
                      : QStringLiteral("it holds only %1").arg(reader.leftOut.value(0));
        if (value && leftOut)
            *leftOut = reader.leftOut;
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
    // Non-blocking, so that a FIFO without a writer cannot hold the program here; no
    // controlling terminal from a terminal device either.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR))
        return result;
    result.status = PropertyListStatus::Unreadable;
    if (fd < 0) {
        result.error = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    QFile file;
    struct stat status = {};
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ||
        ::fstat(fd, &status) != 0) {
        result.error = QString::fromLocal8Bit(std::strerror(errno));
        if (!file.isOpen())
            ::close(fd);
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        result.error = QStringLiteral("not a regular file but %1").arg(fileKind(status.st_mode));
        return result;
    }
    // One byte beyond the limit tells a file that is too large from one that fits.
    result.data = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        result.error = file.errorString();
        return result;
    }
    result.root = parsePropertyList(result.data, &result.error, &result.leftOut);
    if (result.root.isValid())
        result.status = PropertyListStatus::Ok;
    return result;
}

namespace {

QByteArray encodeXml(const QVariant& root, QString* error, QStringList* leftOut)
{
    NodeWriter writer;
    const PlistNode node = writer.write(root, {}, 1);
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return QByteArray();
    };
    if (!node || (!leftOut && !writer.leftOut.isEmpty()))
        return fail(
            QStringLiteral("cannot be written exactly: %1").arg(writer.leftOut.join(u", ")));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node.get(), &xml, &length);
    const std::unique_ptr<char, decltype(&plist_to_xml_free)> ownXml(xml, &plist_to_xml_free);
    if (length == 0)
        return fail(QStringLiteral("libplist produced no XML"));
    // A file this program could not read again is not written at all.
    if (length > kMaxFileSize)
        return fail(QStringLiteral("its XML would be larger than %1 bytes").arg(kMaxFileSize));
    if (leftOut)
        *leftOut = writer.leftOut;
    return QByteArray(xml, qsizetype(length));
}

} // namespace

QByteArray xmlPropertyListData(const QVariant& root, QStringList* leftOut, QString* error)
{
    return encodeXml(root, error, leftOut);
}

bool writeXmlPropertyListFile(const QString& path, const QVariant& root, QString* error,
                              QStringList* leftOut)
{
    QString why;
    const QByteArray data = encodeXml(root, &why, leftOut);
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

namespace {

// A free name beside `path` for a kept file: "<path>.<tag>-<yyyyMMddThhmmss>", with a counter
// added when one from the same second is already there.
QString keptFilePath(const QString& path, const QString& tag)
{
    const QString base = path + u'.' + tag + u'-' +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddThhmmss"));
    QString candidate = base;
    for (int n = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate = base + QStringLiteral("-%1").arg(n);
    return candidate;
}

} // namespace

QString moveUnreadableFileAside(const QString& path)
{
    const QString aside = keptFilePath(path, QStringLiteral("unreadable"));
    return QFile::rename(path, aside) ? aside : QString();
}

QString keepOriginalCopy(const QString& path, const QByteArray& data, QString* error)
{
    const QString candidate = keptFilePath(path, QStringLiteral("original"));
    QFile copy(candidate);
    if (copy.open(QIODevice::WriteOnly | QIODevice::NewOnly) && copy.write(data) == data.size() &&
        copy.flush()) {
        copy.close();
        return candidate;
    }
    if (error)
        *error = copy.errorString();
    copy.remove();
    return {};
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
