#pragma once

#include <QList>
#include <QString>
#include <QVariant>

namespace platform {
class UserDefaults;
}

struct SettingDefault
{
    QString key;
    QVariant value; // of the kind the merge stores: bool, qint32 or float
};

// The agent's nine keys and the pane's eight (no "debugLogging"), in the merge's order.
const QList<SettingDefault>& agentDefaults();
const QList<SettingDefault>& paneDefaults();

// Puts the default of every listed key that the stored domain lacks into it, keeps every
// stored value as it is (whatever its kind, and keys of no list too), writes the whole
// domain back even when nothing was added, and synchronizes.
void mergeDefaults(platform::UserDefaults& userDefaults, const QList<SettingDefault>& defaults);
