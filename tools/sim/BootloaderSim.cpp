// Placeholder: the simulated bootloader replaces this file.
#include <cstdio>
int RunBootloaderSim(int, char **) {
    std::fputs("veldra-sim bootloader: not built yet\n", stderr);
    return 2;
}
