#include "DefaultsMerge.h"

#include "SettingsKeys.h"
#include "platform/UserDefaults.h"

namespace {

QList<SettingDefault> makePaneDefaults()
{
    return {
        {kPortStr, QVariant::fromValue<qint32>(3333)},
        {kHInvertStr, true},
        {kVInvertStr, true},
        {kRightClickEnabledStr, true},
        {kRightClickTimeIntervalStr, QVariant::fromValue(0.5f)}, // seconds
        {kRightClickToleranceStr, QVariant::fromValue(10.0f)},   // screen units
        {kScrollingEnabledStr, true},
        {kScrollingTypeStr, QVariant::fromValue(1.0f)},
    };
}

} // namespace

const QList<SettingDefault>& paneDefaults()
{
    static const QList<SettingDefault> defaults = makePaneDefaults();
    return defaults;
}

const QList<SettingDefault>& agentDefaults()
{
    static const QList<SettingDefault> defaults =
        makePaneDefaults() << SettingDefault{kDebugLogging, false};
    return defaults;
}

void mergeDefaults(platform::UserDefaults& userDefaults, const QList<SettingDefault>& defaults)
{
    userDefaults.addSuiteNamed(kDomainName);
    // Merge onto what is stored now, not onto what this process read earlier.
    userDefaults.synchronize();
    const QVariantMap stored = userDefaults.persistentDomainForName(kDomainName).value_or(QVariantMap{});
    QVariantMap merged = stored;
    for (const SettingDefault& setting : defaults) {
        if (!stored.contains(setting.key))
            merged.insert(setting.key, setting.value);
    }
    userDefaults.setPersistentDomain(merged, kDomainName);
    userDefaults.synchronize();
}
