#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <map>
#include <optional>

namespace platform {

// Posted on the default local centre by every in-process change of a domain (object: the store).
inline const QString kUserDefaultsDidChangeNotification =
    QStringLiteral("NSUserDefaultsDidChangeNotification");

// The user-defaults store. A persistent domain is one XML property list per domain,
// $XDG_CONFIG_HOME/<domain>.plist (default ~/.config). Values are property-list values
// (see PropertyList.h): numbers keep their kind, anything else a file holds is kept as is.
//
// setPersistentDomain replaces a domain in memory and records what changed; synchronize
// writes those changes under an advisory lock onto what is on disk at that moment (so that
// two processes writing different keys lose neither), atomically, and takes in what other
// processes wrote. A domain file that cannot be parsed (or is no regular file) is moved aside
// to "<file>.unreadable-<time>" while this process holds the lock, reported by one log line,
// and the domain counts as empty; without the lock it is left in place and memory kept.
// Values a file holds that cannot be written back exactly (see PropertyList.h) are left out
// of the domain; before such a file is rewritten without them, a copy of it as it was is kept
// as "<file>.original-<time>" and one log line names them.
// The lock is flock on the hidden ".<domain>.plist.lock" beside the file, waited for at most
// 10 s. Changes still pending when the object is destroyed are written then.
class UserDefaults : public QObject
{
    Q_OBJECT
public:
    // The process's shared object, on the directory of XDG_CONFIG_HOME when first used.
    static UserDefaults& standardUserDefaults();

    // A store on the given folder (created when first written); empty = the XDG folder.
    explicit UserDefaults(const QString& directory = {}, QObject* parent = nullptr);
    ~UserDefaults() override;

    QString directory() const;
    QString domainFilePath(const QString& domainName) const;

    // From now on, key reads also look in that domain (searched in the order added).
    void addSuiteNamed(const QString& domainName);

    // The stored dictionary, or nothing when the domain does not exist.
    std::optional<QVariantMap> persistentDomainForName(const QString& domainName);
    // Replaces the whole domain; posts kUserDefaultsDidChangeNotification (object: this)
    // on the default local centre. The file is written by the next synchronize, also when
    // the content did not change.
    void setPersistentDomain(const QVariantMap& domain, const QString& domainName);
    // Writes pending changes and takes in what other processes wrote. False when a write
    // failed (it is logged); the values in memory stay as they were then.
    bool synchronize();

    // Key reads through the search list; an absent key reads as a null QVariant / false / 0.
    QVariant objectForKey(const QString& key);
    QVariant valueForKey(const QString& key) { return objectForKey(key); }
    bool boolForKey(const QString& key);
    qint64 integerForKey(const QString& key);
    float floatForKey(const QString& key);

private:
    struct Domain;
    struct DiskDomain;
    class FileLock;
    Domain& loadedDomain(const QString& domainName);
    bool synchronizeDomain(const QString& domainName, Domain& domain);
    DiskDomain readDomainFile(const QString& domainName, const FileLock* heldLock);
    static bool keepOriginal(const QString& path, const DiskDomain& disk);
    QString lockFilePath(const QString& domainName) const;

    QString m_directory;
    QStringList m_suites;
    std::map<QString, Domain> m_domains;
    QSet<QString> m_unreadableReported; // domains whose unreadable file was left in place
};

} // namespace platform
