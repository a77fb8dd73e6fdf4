#pragma once

#include <QList>
#include <QString>
#include <memory>
#include <vector>

namespace platform {

// The X buttons this agent holds down through XTest, kept in a small file of the user's private
// runtime folder, so that the next agent can let them go when this one could not: after SIGKILL
// or a crash, as an X server keeps an XTest button down after its client has gone. One file a
// process, "quillonworks.Tactalon.held-buttons.<pid>", written before a press and after a
// release (never on a move), and removed when no button is held:
//
//     display=:0
//     buttons=1 3
class HeldButtonRecord
{
public:
    // What an agent that has ended left held.
    struct LeftOver
    {
        qint64 pid = 0;
        QString filePath;
        QString display;         // empty when the file is not a record that can be read
        QList<unsigned> buttons; // X button numbers: 1 left, 2 middle, 3 right
    };

    static constexpr const char* fileNamePrefix = "quillonworks.Tactalon.held-buttons.";

    // This process's record in `directory`, which must be a private folder of this user.
    explicit HeldButtonRecord(const QString& directory);
    // In the user's runtime folder: $XDG_RUNTIME_DIR, else Qt's fallback in the temporary folder.
    // Qt takes either only when it is a real folder (no symbolic link) of this user with mode
    // 0700, and makes the fallback so. nullptr, with one log line, when there is none.
    static std::unique_ptr<HeldButtonRecord> inRuntimeFolder();

    QString filePath() const { return m_filePath; }

    // Records that `buttons` are held on `display`; none removes the file.
    void update(const QString& display, const QList<unsigned>& buttons);

    // The records in the folder of agents that have ended, by file name. Call it before this
    // process records anything: a record under this process's own id is an earlier process's.
    // Records of agents still running are left alone.
    std::vector<LeftOver> leftOvers() const;
    // Removes a left-over record, once its buttons have been let go.
    static void remove(const LeftOver& leftOver);

private:
    void reportWriteFailure(int error);

    QString m_directory;
    QString m_filePath;
    bool m_writeFailureReported = false;
};

} // namespace platform
