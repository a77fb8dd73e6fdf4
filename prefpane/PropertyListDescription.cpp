#include "prefpane/PropertyListDescription.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>

namespace {

constexpr int kIndentWidth = 4; // spaces per nesting level

QString indent(int level)
{
    return QString(level * kIndentWidth, QLatin1Char(' '));
}

QString describeString(const QString& text)
{
    static const QRegularExpression plainWord(QStringLiteral("^[A-Za-z0-9_]+$"));
    if (plainWord.match(text).hasMatch())
        return text;
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString describe(const QVariant& value, int level);

QString describeMap(const QVariantMap& map, int level)
{
    QString text = QStringLiteral("{\n");
    for (auto it = map.cbegin(); it != map.cend(); ++it) // QVariantMap iterates sorted
        text += indent(level + 1) + describeString(it.key()) + QStringLiteral(" = ") +
                describe(it.value(), level + 1) + QStringLiteral(";\n");
    return text + indent(level) + QLatin1Char('}');
}

QString describeList(const QVariantList& list, int level)
{
    QStringList items;
    for (const QVariant& item : list)
        items << indent(level + 1) + describe(item, level + 1);
    if (items.isEmpty())
        return QStringLiteral("(\n%1)").arg(indent(level));
    return QStringLiteral("(\n") + items.join(QStringLiteral(",\n")) + QLatin1Char('\n') +
           indent(level) + QLatin1Char(')');
}

QString describe(const QVariant& value, int level)
{
    switch (value.metaType().id()) {
    case QMetaType::UnknownType:
        return QStringLiteral("(null)");
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::QVariantMap:
        return describeMap(value.toMap(), level);
    case QMetaType::QVariantList:
        return describeList(value.toList(), level);
    case QMetaType::QStringList:
        return describeList(QVariant(value.toStringList()).toList(), level);
    case QMetaType::QByteArray:
        return QLatin1Char('<') + QString::fromLatin1(value.toByteArray().toHex(' ')) +
               QLatin1Char('>');
    case QMetaType::QDateTime:
        return describeString(value.toDateTime().toString(Qt::ISODate));
    case QMetaType::QString:
        return describeString(value.toString());
    default:
        return value.toString();
    }
}

} // namespace

QString describePropertyList(const QVariant& value)
{
    return describe(value, 0);
}
