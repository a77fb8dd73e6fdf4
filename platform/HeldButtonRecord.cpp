#include "platform/HeldButtonRecord.h"

#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace platform {

namespace {

constexpr qint64 maximumRecordSize = 4096; // bytes; a real record is a few dozen
constexpr unsigned highestButton = 3;      // right; wheel buttons are never held

// The program name of process `pid` ("self" for this one); empty when there is no such process.
QByteArray programName(const QString& pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return comm.readAll().trimmed();
}

// Another process of this program's name is an agent still running. An earlier process that
// had this process's id has ended, as has one whose id now belongs to another program.
bool isRunningAgent(qint64 pid, const QByteArray& ownName)
{
    if (pid == qint64(::getpid()))
        return false;
    const QByteArray name = programName(QString::number(pid));
    return !name.isEmpty() && name == ownName;
}

// Opens without following a symbolic link, so that a link put in place of a record never
// leads a write or a read elsewhere.
int openNoFollow(const QString& path, int flags)
{
    return ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
}

std::optional<QByteArray> readRecordFile(const QString& path)
{
    // Not waiting for a writer, were a pipe ever in place of a record.
    const int fd = openNoFollow(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    const QByteArray contents = file.read(maximumRecordSize + 1);
    if (contents.size() > maximumRecordSize)
        return std::nullopt;
    return contents;
}

// 0, or the errno of the failure.
int writeRecordFile(const QString& path, const QByteArray& contents)
{
    const int fd = openNoFollow(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0)
        return errno;
    // A few dozen bytes: one write() takes them all or fails.
    const ssize_t written = ::write(fd, contents.constData(), size_t(contents.size()));
    const int error = written < 0 ? errno : 0;
    ::close(fd);
    if (written == contents.size())
        return 0;
    return error != 0 ? error : EIO;
}

constexpr QByteArrayView displayKey = "display=";
constexpr QByteArrayView buttonsKey = "buttons=";

QByteArray formatRecord(const QString& display, const QList<unsigned>& buttons)
{
    QByteArrayList numbers;
    for (unsigned button : buttons)
        numbers << QByteArray::number(button);
    return displayKey.toByteArray() + display.toUtf8() + '\n' + buttonsKey.toByteArray() +
           numbers.join(' ') + '\n';
}

// Exactly what formatRecord writes, with a display and at least one button; false for anything
// else.
bool parseRecord(const QByteArray& contents, HeldButtonRecord::LeftOver& leftOver)
{
    const QByteArrayList lines = contents.split('\n');
    if (lines.size() != 3 || !lines[2].isEmpty() || !lines[0].startsWith(displayKey) ||
        !lines[1].startsWith(buttonsKey))
        return false;
    const QString display = QString::fromUtf8(lines[0].mid(displayKey.size()));
    QList<unsigned> buttons;
    for (const QByteArray& number : lines[1].mid(buttonsKey.size()).split(' ')) {
        bool isNumber = false;
        const unsigned button = number.toUInt(&isNumber);
        if (!isNumber || button < 1 || button > highestButton)
            return false;
        buttons << button;
    }
    if (display.isEmpty())
        return false;
    leftOver.display = display;
    leftOver.buttons = buttons;
    return true;
}

} // namespace

HeldButtonRecord::HeldButtonRecord(const QString& directory)
    : m_directory(directory),
      m_filePath(QDir(directory).filePath(QLatin1String(fileNamePrefix) +
                                          QString::number(qint64(::getpid()))))
{}

std::unique_ptr<HeldButtonRecord> HeldButtonRecord::inRuntimeFolder()
{
    const QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty()) {
        logLine(
            QStringLiteral("Held buttons are not recorded: there is no private runtime folder"));
        return nullptr;
    }
    return std::make_unique<HeldButtonRecord>(directory);
}

void HeldButtonRecord::update(const QString& display, const QList<unsigned>& buttons)
{
    if (buttons.isEmpty()) {
        if (::unlink(QFile::encodeName(m_filePath).constData()) != 0 && errno != ENOENT)
            reportWriteFailure(errno);
        return;
    }
    if (const int error = writeRecordFile(m_filePath, formatRecord(display, buttons)))
        reportWriteFailure(error);
}

std::vector<HeldButtonRecord::LeftOver> HeldButtonRecord::leftOvers() const
{
    const QString prefix = QLatin1String(fileNamePrefix);
    const QDir directory(m_directory);
    const QByteArray ownName = programName(QStringLiteral("self"));
    std::vector<LeftOver> result;
    for (const QString& name :
         directory.entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::System, QDir::Name)) {
        bool isNumber = false;
        const qint64 pid = name.mid(prefix.size()).toLongLong(&isNumber);
        if (!isNumber || pid <= 0 || isRunningAgent(pid, ownName))
            continue;
        LeftOver leftOver;
        leftOver.pid = pid;
        leftOver.filePath = directory.filePath(name);
        // The display stays empty when the record cannot be read.
        if (const std::optional<QByteArray> contents = readRecordFile(leftOver.filePath))
            parseRecord(*contents, leftOver);
        result.push_back(leftOver);
    }
    return result;
}

void HeldButtonRecord::remove(const LeftOver& leftOver)
{
    QFile::remove(leftOver.filePath);
}

// Once only: every later press would fail the same way.
void HeldButtonRecord::reportWriteFailure(int error)
{
    if (m_writeFailureReported)
        return;
    m_writeFailureReported = true;
    logLine(QStringLiteral("Cannot record the held buttons in %1: %2")
                .arg(m_filePath, QString::fromLocal8Bit(std::strerror(error))));
}

} // namespace platform
