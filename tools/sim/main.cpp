// Simulated sensors on a pseudo-terminal, for tests, demos and training.
#include <cstdio>
#include <cstring>

#include "Version.h"

int RunBootloaderSim(int argc, char **argv);
int RunModbusSim(int argc, char **argv);

static void Usage(std::FILE *To) {
    std::fputs(
        "Usage: veldra-sim COMMAND [OPTIONS]\n"
        "Simulated RS-485 sensors on a pseudo-terminal that every program opens like a\n"
        "real serial port. Each command prints \"PTY <path>\" on its first line once the\n"
        "port can be opened, and runs until it is stopped (SIGINT or SIGTERM).\n"
        "\n"
        "Subcommands:\n"
        "  bootloader   a sensor in bootloader mode, for firmware updates\n"
        "  modbus       a Modbus RTU line with sensors\n"
        "\n"
        "Options:\n"
        "  --help       this text; \"veldra-sim COMMAND --help\" lists a command's options\n"
        "  --version    the version of the program\n",
        To);
}

int main(int argc, char **argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "bootloader") == 0) return RunBootloaderSim(argc - 1, argv + 1);
    if (std::strcmp(argv[1], "modbus") == 0) return RunModbusSim(argc - 1, argv + 1);
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        Usage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s\n", veldra::kVersion);
        return 0;
    }
    Usage(stderr);
    return 2;
}
