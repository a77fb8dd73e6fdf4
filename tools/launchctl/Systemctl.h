#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

namespace launchctl {

// Runs `systemctl --user ...` for the user's service manager. The program is looked up on PATH.
class Systemctl
{
public:
    // The systemctl on PATH, or nothing (and `error` set) when there is none.
    static std::optional<Systemctl> find(QString* error);

    // Runs `systemctl --user <arguments>` and waits for it. Its standard output goes to ours;
    // its standard error too when it succeeds. On failure returns false and sets `error` to
    // one line, naming an unreachable user manager as such.
    bool run(const QStringList& arguments, QString* error) const;

    // As run(), but returns what systemctl printed on standard output instead of passing it on.
    std::optional<QString> read(const QStringList& arguments, QString* error) const;

private:
    explicit Systemctl(QString program) : m_program(std::move(program)) {}

    enum class Output { Forwarded, Captured };
    std::optional<QByteArray> execute(const QStringList& arguments, Output output,
                                      QString* error) const;

    QString m_program;
};

} // namespace launchctl
