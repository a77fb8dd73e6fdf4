#include "tools/launchctl/LaunchJob.h"

#include "platform/PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace launchctl {
namespace {

// systemd refuses unit names longer than 255 bytes; ".service" takes 8 of them.
constexpr qsizetype maxLabelLength = 255 - 8;

std::optional<QVariantMap> readRootDictionary(const QString& path, QString* error)
{
    const platform::PropertyListFile file = platform::readPropertyListFile(path);
    switch (file.status) {
    case platform::PropertyListStatus::Missing:
        *error = QStringLiteral("%1: no such file").arg(path);
        return std::nullopt;
    case platform::PropertyListStatus::Unreadable:
        *error = QStringLiteral("%1: not a readable property list: %2").arg(path, file.error);
        return std::nullopt;
    case platform::PropertyListStatus::Ok:
        break;
    }
    if (file.root.typeId() != QMetaType::QVariantMap) {
        *error = QStringLiteral("%1: the property list does not hold a dictionary").arg(path);
        return std::nullopt;
    }
    // A value of the job left out of the read (say, an argument that is not valid UTF-8)
    // would start another command than the file says.
    for (const QString& value : file.leftOut) {
        for (const char* key : {"Label", "ProgramArguments", "KeepAlive"}) {
            if (value.startsWith(QStringLiteral("\"%1\"").arg(QLatin1String(key)))) {
                *error = QStringLiteral("%1: cannot read %2 exactly").arg(path, value);
                return std::nullopt;
            }
        }
    }
    return file.root.toMap();
}

std::optional<QString> labelOf(const QVariantMap& job, QString* error)
{
    const QVariant label = job.value(QStringLiteral("Label"));
    if (label.typeId() != QMetaType::QString || !isValidLabel(label.toString())) {
        *error = QStringLiteral("\"Label\" must be a string of letters, digits, '.', '_' and "
                                "'-' that starts with a letter or digit (got \"%1\")")
                     .arg(label.toString());
        return std::nullopt;
    }
    return label.toString();
}

// A job whose program is missing would be retried by the manager to no end: refused at once.
// The unit names the program in a condition line too, which cannot carry a control character
// nor end in a space or a backslash (trimmed, or read as a continued line).
bool checkProgram(const QString& program, QString* error)
{
    const bool unnameable =
        std::ranges::any_of(program,
                            [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; }) ||
        program.back().isSpace() || program.endsWith(u'\\');
    const QFileInfo info(program);
    if (unnameable) {
        *error =
            QStringLiteral("the program \"%1\" has a name a systemd unit cannot hold").arg(program);
    } else if (!info.exists()) {
        *error = QStringLiteral("the program %1 does not exist").arg(program);
    } else if (!info.isFile() || !info.isExecutable()) {
        *error = QStringLiteral("the program %1 is not an executable file").arg(program);
    } else {
        return true;
    }
    return false;
}

std::optional<QStringList> programArgumentsOf(const QVariantMap& job, QString* error)
{
    const QVariant value = job.value(QStringLiteral("ProgramArguments"));
    QStringList arguments;
    for (const QVariant& argument : value.toList()) {
        // A NUL cannot be passed in an argument vector, nor written in a unit file.
        if (argument.typeId() != QMetaType::QString || argument.toString().contains(QChar(0))) {
            *error = QStringLiteral("\"ProgramArguments\" must hold only strings");
            return std::nullopt;
        }
        arguments.append(argument.toString());
    }
    if (value.typeId() != QMetaType::QVariantList || arguments.isEmpty()) {
        *error = QStringLiteral("\"ProgramArguments\" must be a non-empty array of strings");
        return std::nullopt;
    }
    if (!QDir::isAbsolutePath(arguments.first()) || arguments.first().endsWith(u'/')) {
        *error = QStringLiteral("the program \"%1\" must be an absolute path to a file")
                     .arg(arguments.first());
        return std::nullopt;
    }
    if (!checkProgram(arguments.first(), error)) {
        return std::nullopt;
    }
    return arguments;
}

std::optional<bool> keepAliveOf(const QVariantMap& job, QString* error)
{
    const QVariant value = job.value(QStringLiteral("KeepAlive"), false);
    if (value.typeId() != QMetaType::Bool) {
        *error = QStringLiteral("\"KeepAlive\" must be a boolean");
        return std::nullopt;
    }
    return value.toBool();
}

std::optional<LaunchJob> launchJobOf(const QVariantMap& job, QString* error)
{
    const std::optional<QString> label = labelOf(job, error);
    if (!label) {
        return std::nullopt;
    }
    const std::optional<QStringList> arguments = programArgumentsOf(job, error);
    if (!arguments) {
        return std::nullopt;
    }
    const std::optional<bool> keepAlive = keepAliveOf(job, error);
    if (!keepAlive) {
        return std::nullopt;
    }
    return LaunchJob{*label, *arguments, *keepAlive};
}

} // namespace

bool isValidLabel(const QString& label)
{
    if (label.isEmpty() || label.size() > maxLabelLength || label.contains(QLatin1String(".."))) {
        return false;
    }
    const auto isAsciiAlnum = [](QChar c) { return c.unicode() < 0x80 && c.isLetterOrNumber(); };
    if (!isAsciiAlnum(label.front())) {
        return false;
    }
    return std::ranges::all_of(
        label, [&](QChar c) { return isAsciiAlnum(c) || c == u'.' || c == u'_' || c == u'-'; });
}

std::optional<LaunchJob> readLaunchJob(const QString& path, QString* error)
{
    const std::optional<QVariantMap> job = readRootDictionary(path, error);
    if (!job) {
        return std::nullopt;
    }
    std::optional<LaunchJob> checked = launchJobOf(*job, error);
    if (!checked) {
        *error = QStringLiteral("%1: %2").arg(path, *error);
    }
    return checked;
}

std::optional<QString> readLaunchJobLabel(const QString& path, QString* error)
{
    const std::optional<QVariantMap> job = readRootDictionary(path, error);
    if (!job) {
        return std::nullopt;
    }
    std::optional<QString> label = labelOf(*job, error);
    if (!label) {
        *error = QStringLiteral("%1: %2").arg(path, *error);
    }
    return label;
}

} // namespace launchctl
