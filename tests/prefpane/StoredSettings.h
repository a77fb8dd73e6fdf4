#pragma once

#include "platform/PropertyList.h"
#include "settings/SettingsKeys.h"
#include "support/TemporaryHome.h"

#include <QFile>
#include <QVariantMap>
#include <optional>

// The settings domain's file, written and read as another process of the user would.
class StoredSettings
{
public:
    explicit StoredSettings(const TemporaryHome& home)
        : m_path(home.configPath() + QStringLiteral("/") + kDomainName + QStringLiteral(".plist"))
    {}

    QString path() const { return m_path; }

    // Nothing: the domain does not exist.
    bool write(const std::optional<QVariantMap>& domain) const
    {
        if (!domain)
            return !QFile::exists(m_path) || QFile::remove(m_path);
        return platform::writeXmlPropertyListFile(m_path, *domain);
    }

    std::optional<QVariantMap> read() const
    {
        const platform::PropertyListFile file = platform::readPropertyListFile(m_path);
        if (file.status != platform::PropertyListStatus::Ok)
            return std::nullopt;
        return file.root.toMap();
    }

    // "bool", "integer" or "real": the kind a value has in the file; else its type name.
    static QString kindOf(const QVariant& value)
    {
        switch (value.metaType().id()) {
        case QMetaType::Bool:
            return QStringLiteral("bool");
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            return QStringLiteral("integer");
        case QMetaType::Float:
        case QMetaType::Double:
            return QStringLiteral("real");
        default:
            return QString::fromLatin1(value.typeName());
        }
    }

    // Every key, as the pane's merge stores it on a new domain, plus what only others use.
    static QVariantMap mergedDefaultsWithExtras()
    {
        return {
            {kPortStr, QVariant::fromValue<qint32>(3333)},
            {kHInvertStr, true},
            {kVInvertStr, true},
            {kRightClickEnabledStr, true},
            {kRightClickTimeIntervalStr, QVariant::fromValue(0.5f)},
            {kRightClickToleranceStr, QVariant::fromValue(10.0f)},
            {kScrollingEnabledStr, true},
            {kScrollingTypeStr, QVariant::fromValue(1.0f)},
            {kDebugLogging, true},
            {QStringLiteral("someoneElsesKey"), QStringLiteral("kept as it is")},
        };
    }

private:
    QString m_path;
};
