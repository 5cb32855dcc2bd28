// Placeholder: the simulated Modbus line replaces this file.
#include <cstdio>
int RunModbusSim(int, char **) {
    std::fputs("veldra-sim modbus: not built yet\n", stderr);
    return 2;
}
