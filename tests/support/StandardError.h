#pragma once

#include <QScopeGuard>
#include <QTemporaryFile>
#include <cstdio>
#include <unistd.h>

// Runs `action` with this process's standard error sent into a file; returns what it wrote.
template <typename Action> QByteArray standardErrorOf(Action&& action)
{
    QTemporaryFile file;
    if (!file.open())
        return "cannot capture standard error";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    {
        const auto restore = qScopeGuard([saved] {
            std::fflush(stderr);
            ::dup2(saved, STDERR_FILENO);
            ::close(saved);
        });
        action();
    }
    file.seek(0);
    return file.readAll();
}
