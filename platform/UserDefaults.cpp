#include "UserDefaults.h"

#include "Log.h"
#include "NotificationCenter.h"
#include "PropertyList.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

// Another process holds the lock only while it reads and rewrites one small file.
constexpr int kLockWaitMSecs = 10'000;
constexpr int kLockRetryMSecs = 5;

QString xdgConfigDirectory()
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configHome.isEmpty() && QDir::isAbsolutePath(configHome))
        return QDir::cleanPath(configHome);
    return QDir::homePath() + QStringLiteral("/.config");
}

// A domain name becomes a file name; one that could leave the folder is refused.
bool isStorableDomainName(const QString& name)
{
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') &&
           !name.contains(QChar(0));
}

bool isDictionary(const PropertyListFile& file)
{
    return file.status == PropertyListStatus::Ok && file.root.typeId() == QMetaType::QVariantMap;
}

} // namespace

struct UserDefaults::Domain
{
    std::optional<QVariantMap> values; // nothing: the domain does not exist
    QSet<QString> changedKeys;         // set by this process since the last synchronize
    QSet<QString> removedKeys;         // removed by this process since the last synchronize
    bool replaced = false;             // setPersistentDomain since the last synchronize

    bool hasPendingChanges() const
    {
        return replaced || !changedKeys.isEmpty() || !removedKeys.isEmpty();
    }
    void clearPendingChanges()
    {
        changedKeys.clear();
        removedKeys.clear();
        replaced = false;
    }
};

// What the domain file holds now. `usable` is false when the file could neither be read nor
// kept aside: it must then not be written over.
struct UserDefaults::DiskDomain
{
    bool usable = true;
    std::optional<QVariantMap> values;
    QStringList leftOut; // values of the file that `values` lacks: no exact written form
    QByteArray bytes;    // the file as read, kept as a copy before such values are dropped

    static DiskDomain unusable()
    {
        DiskDomain disk;
        disk.usable = false;
        return disk;
    }
};

// An advisory lock (flock) on a hidden file beside the domain file, held for one
// read-and-rewrite so that processes writing the same domain take turns.
class UserDefaults::FileLock
{
public:
    explicit FileLock(const QString& path)
    {
        const QByteArray name = QFile::encodeName(path);
        m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0)
            m_fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        const QDeadlineTimer deadline(kLockWaitMSecs);
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
                m_error = errno == EWOULDBLOCK ? QStringLiteral("held by another process")
                                               : QString::fromLocal8Bit(std::strerror(errno));
                return;
            }
            QThread::msleep(kLockRetryMSecs);
        }
        m_locked = true;
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // also releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool isLocked() const { return m_locked; }
    QString error() const { return m_error; }

private:
    int m_fd = -1;
    bool m_locked = false;
    QString m_error;
};

UserDefaults& UserDefaults::standardUserDefaults()
{
    static UserDefaults defaults;
    return defaults;
}

UserDefaults::UserDefaults(const QString& directory, QObject* parent)
    : QObject(parent),
      m_directory(directory.isEmpty() ? xdgConfigDirectory() : QDir::cleanPath(directory))
{}

UserDefaults::~UserDefaults()
{
    // Changes made but never synchronized would be lost otherwise.
    for (auto& [name, domain] : m_domains) {
        if (domain.hasPendingChanges())
            synchronizeDomain(name, domain);
    }
}

QString UserDefaults::directory() const
{
    return m_directory;
}

QString UserDefaults::domainFilePath(const QString& domainName) const
{
    return m_directory + u'/' + domainName + QStringLiteral(".plist");
}

QString UserDefaults::lockFilePath(const QString& domainName) const
{
    return m_directory + QStringLiteral("/.") + domainName + QStringLiteral(".plist.lock");
}

void UserDefaults::addSuiteNamed(const QString& domainName)
{
    if (!m_suites.contains(domainName))
        m_suites.append(domainName);
}

std::optional<QVariantMap> UserDefaults::persistentDomainForName(const QString& domainName)
{
    return loadedDomain(domainName).values;
}

void UserDefaults::setPersistentDomain(const QVariantMap& domain, const QString& domainName)
{
    Domain& stored = loadedDomain(domainName);
    const QVariantMap old = stored.values.value_or(QVariantMap{});
    for (auto it = domain.cbegin(); it != domain.cend(); ++it) {
        if (!old.contains(it.key()) || !plistValuesEqual(old.value(it.key()), it.value())) {
            stored.changedKeys.insert(it.key());
            stored.removedKeys.remove(it.key());
        }
    }
    for (auto it = old.cbegin(); it != old.cend(); ++it) {
        if (!domain.contains(it.key())) {
            stored.removedKeys.insert(it.key());
            stored.changedKeys.remove(it.key());
        }
    }
    stored.values = domain;
    stored.replaced = true;
    NotificationCenter::defaultCenter().postNotificationName(kUserDefaultsDidChangeNotification,
                                                             this);
}

bool UserDefaults::synchronize()
{
    QStringList names = m_suites;
    for (const auto& [name, domain] : m_domains) {
        if (!names.contains(name))
            names.append(name);
    }
    bool allWritten = true;
    for (const QString& name : names)
        allWritten = synchronizeDomain(name, m_domains[name]) && allWritten;
    return allWritten;
}

QVariant UserDefaults::objectForKey(const QString& key)
{
    for (const QString& suite : std::as_const(m_suites)) {
        const Domain& domain = loadedDomain(suite);
        if (!domain.values)
            continue;
        // One lookup: the agent reads settings several times per touch frame.
        const auto found = domain.values->constFind(key);
        if (found != domain.values->constEnd())
            return *found;
    }
    return {};
}

bool UserDefaults::boolForKey(const QString& key)
{
    return plistBoolValue(objectForKey(key));
}

qint64 UserDefaults::integerForKey(const QString& key)
{
    return plistIntegerValue(objectForKey(key));
}

float UserDefaults::floatForKey(const QString& key)
{
    return plistFloatValue(objectForKey(key));
}

UserDefaults::Domain& UserDefaults::loadedDomain(const QString& domainName)
{
    const auto found = m_domains.find(domainName);
    if (found != m_domains.end())
        return found->second;
    Domain& domain = m_domains[domainName];
    domain.values = readDomainFile(domainName, nullptr).values;
    return domain;
}

// Reads the file as other processes left it, applies this process's changes on top and
// writes the result, all under the lock; then holds the result in memory.
bool UserDefaults::synchronizeDomain(const QString& domainName, Domain& domain)
{
    if (!isStorableDomainName(domainName)) {
        logLine(QStringLiteral("Settings domain \"%1\" cannot be stored: not a file name")
                    .arg(domainName));
        return false;
    }
    const QString path = domainFilePath(domainName);
    if (!domain.hasPendingChanges()) {
        const DiskDomain disk = readDomainFile(domainName, nullptr);
        if (disk.usable)
            domain.values = disk.values;
        return true;
    }

    if (!QDir().mkpath(m_directory)) {
        logLine(QStringLiteral("Could not write settings file %1: cannot create folder %2")
                    .arg(path, m_directory));
        return false;
    }
    const FileLock lock(lockFilePath(domainName));
    if (!lock.isLocked()) {
        logLine(QStringLiteral("Could not write settings file %1: cannot lock %2 (%3)")
                    .arg(path, lockFilePath(domainName), lock.error()));
        return false;
    }
    const DiskDomain disk = readDomainFile(domainName, &lock);
    if (!disk.usable)
        return false; // said so already; a file we could not keep aside is never written over

    QVariantMap merged = disk.values.value_or(QVariantMap{});
    const QVariantMap ours = domain.values.value_or(QVariantMap{});
    for (const QString& key : std::as_const(domain.changedKeys))
        merged.insert(key, ours.value(key));
    for (const QString& key : std::as_const(domain.removedKeys))
        merged.remove(key);

    if (!disk.leftOut.isEmpty() && !keepOriginal(path, disk))
        return false;
    QString error;
    QStringList leftOut;
    if (!writeXmlPropertyListFile(path, merged, &error, &leftOut)) {
        logLine(QStringLiteral("Could not write settings file %1: %2").arg(path, error));
        return false;
    }
    if (!leftOut.isEmpty()) {
        // Values of this process that have no exact written form; memory follows the file.
        logLine(QStringLiteral("Settings file %1: left out what cannot be stored exactly: %2")
                    .arg(path, leftOut.join(QStringLiteral(", "))));
        merged = parsePropertyList(xmlPropertyListData(merged, &leftOut)).toMap();
    }
    domain.values = merged;
    domain.clearPendingChanges();
    return true;
}

// The file about to be rewritten holds values that cannot be written back exactly: its bytes
// as read are kept beside it first, and the user told once. Without that copy it stays as is.
bool UserDefaults::keepOriginal(const QString& path, const DiskDomain& disk)
{
    const QString values = disk.leftOut.join(QStringLiteral(", "));
    QString error;
    const QString copy = keepOriginalCopy(path, disk.bytes, &error);
    if (copy.isEmpty()) {
        logLine(QStringLiteral("Could not write settings file %1: it holds values that cannot be "
                               "written back exactly (%2), and keeping a copy failed (%3)")
                    .arg(path, values, error));
        return false;
    }
    logLine(QStringLiteral("Settings file %1 holds values that cannot be written back exactly "
                           "(%2): kept it as it was as %3; the rewritten file leaves them out")
                .arg(path, values, copy));
    return true;
}

// An unreadable file is moved aside under the lock (taken here unless the caller holds it),
// after reading it once more: another process may have just replaced it with a good one.
// Without the lock nothing is moved: the file may be in the middle of being rewritten.
UserDefaults::DiskDomain UserDefaults::readDomainFile(const QString& domainName,
                                                      const FileLock* heldLock)
{
    if (!isStorableDomainName(domainName))
        return {};
    const QString path = domainFilePath(domainName);
    PropertyListFile file = readPropertyListFile(path);
    std::optional<FileLock> ownLock;
    if (file.status != PropertyListStatus::Missing && !heldLock && !isDictionary(file)) {
        ownLock.emplace(lockFilePath(domainName));
        file = readPropertyListFile(path);
    }

    switch (file.status) {
    case PropertyListStatus::Missing:
        m_unreadableReported.remove(domainName);
        return {};
    case PropertyListStatus::Ok:
        if (isDictionary(file)) {
            m_unreadableReported.remove(domainName);
            return {true, file.root.toMap(), file.leftOut, file.data};
        }
        file.error = QStringLiteral("its root is not a dictionary");
        break;
    case PropertyListStatus::Unreadable:
        break;
    }

    if (ownLock && !ownLock->isLocked()) {
        if (!m_unreadableReported.contains(domainName)) {
            m_unreadableReported.insert(domainName);
            logLine(QStringLiteral("Settings file %1 could not be read (%2) and its lock could not "
                                   "be taken (%3): left it in place and kept the settings in "
                                   "memory")
                        .arg(path, file.error, ownLock->error()));
        }
        return DiskDomain::unusable();
    }
    m_unreadableReported.remove(domainName);
    const QString aside = moveUnreadableFileAside(path);
    if (!aside.isEmpty()) {
        logLine(QStringLiteral("Settings file %1 could not be read (%2): kept it as %3 and "
                               "started from empty settings")
                    .arg(path, file.error, aside));
        return {};
    }
    logLine(QStringLiteral("Settings file %1 could not be read (%2) nor moved aside: it is left "
                           "as it is and will not be written")
                .arg(path, file.error));
    return DiskDomain::unusable();
}

} // namespace platform
