// Simulated sensors on a pseudo-terminal, for tests, demos and training.
#include <cstdio>
#include <cstring>

int RunBootloaderSim(int argc, char **argv);
int RunModbusSim(int argc, char **argv);

static void Usage() {
    std::fputs(
        "usage: veldra-sim bootloader [OPTIONS]   a sensor in bootloader mode\n"
        "       veldra-sim modbus [OPTIONS]       a Modbus RTU line with sensors\n"
        "Each prints \"PTY <path>\" on its first line once the port can be opened.\n"
        "Run \"veldra-sim bootloader --help\" or \"veldra-sim modbus --help\" for options.\n",
        stderr);
}

int main(int argc, char **argv) {
    if (argc < 2) {
        Usage();
        return 2;
    }
    if (std::strcmp(argv[1], "bootloader") == 0) return RunBootloaderSim(argc - 1, argv + 1);
    if (std::strcmp(argv[1], "modbus") == 0) return RunModbusSim(argc - 1, argv + 1);
    Usage();
    return std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
}
