#include "app/InfoOptions.h"

#include <cstdio>
#include <cstring>

#include "Version.h"

namespace {

constexpr char CHelp[] =
    "Usage: veldra-update [OPTION]...\n"
    "Service tool for RS-485 sensors: firmware update and Modbus RTU setup.\n"
    "One copy runs per user; starting it again brings that copy to the front.\n"
    "\n"
    "  -h, --help       show this help and exit\n"
    "  -v, --version    show the version and exit\n"
    "\n"
    "Qt's own options (such as -platform NAME) are taken as well.\n"
    "The same jobs run on a terminal with veldra-cli.\n"
    "See veldra-update(1) and veldra-cli(1).\n";

bool Is(const char *Arg, const char *Short, const char *Long) {
    return std::strcmp(Arg, Short) == 0 || std::strcmp(Arg, Long) == 0;
}

}  // namespace

std::optional<int> AnswerInfoOptions(int argc, char **argv) {
    for (int I = 1; I < argc; ++I) {
        if (std::strcmp(argv[I], "--") == 0) break;
        if (Is(argv[I], "-h", "--help")) {
            std::fputs(CHelp, stdout);
            return 0;
        }
        if (Is(argv[I], "-v", "--version")) {
            std::printf("veldra-update %s\n", veldra::kVersion);
            return 0;
        }
    }
    return std::nullopt;
}
