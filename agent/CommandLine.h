#pragma once

#include <optional>

// The agent's command line, read before anything starts: --help and --version are answered on
// standard output, any other argument is a usage error (usage on standard error). Returns the
// exit status when the agent should end at once (0, or 2 for a usage error), nothing when it
// should start: it takes no arguments.
std::optional<int> answerCommandLine(int argc, const char* const argv[]);
