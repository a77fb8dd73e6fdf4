#pragma once

#include <QFile>
#include <QTemporaryFile>
#include <unistd.h>

// Sends standard error into a temporary file while it lives, so that a test can read the log
// lines the code under test wrote.
class StderrCapture
{
public:
    StderrCapture() : m_saved(::dup(STDERR_FILENO))
    {
        m_file.open();
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { ::dup2(m_saved, STDERR_FILENO), ::close(m_saved); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    QString text() const
    {
        QFile file(m_file.fileName());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QTemporaryFile m_file;
    int m_saved;
};
