// veldra-cli: the command-line twin of the firmware update wizard and the
// sensor setup window.
#include "cli/Commands.h"

int main(int argc, char **argv) {
    return RunCli(argc, argv);
}
