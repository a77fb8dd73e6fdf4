#include "CommandLine.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: Tactalon [--help | --version]\n"
    "The Tactalon agent: turns TUIO 1.1 finger touches, received over UDP, into the desktop's\n"
    "mouse input. It takes no options: its settings are in\n"
    "$XDG_CONFIG_HOME/quillonworks.Tactalon.plist (~/.config/quillonworks.Tactalon.plist).\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n";

bool is(const char* argument, const char* option)
{
    return std::strcmp(argument, option) == 0;
}

} // namespace

std::optional<int> answerCommandLine(int argc, const char* const argv[])
{
    if (argc <= 1)
        return std::nullopt;
    const char* const argument = argv[1];
    if (argc == 2 && (is(argument, "--help") || is(argument, "-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && is(argument, "--version")) {
        std::printf("Tactalon %s\n", TACTALON_VERSION);
        return 0;
    }
    if (argc == 2)
        std::fprintf(stderr, "Tactalon: unknown argument \"%s\"\n%s", argument, kUsage);
    else
        std::fprintf(stderr, "Tactalon: too many arguments\n%s", kUsage);
    return kUsageError;
}
