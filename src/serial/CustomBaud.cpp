#include "CustomBaud.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int, unsigned long, ...);

bool ApplyCustomBaudRate(int Fd, int Rate) {
    struct termios2 t {};
    if (ioctl(Fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_ispeed = static_cast<speed_t>(Rate);
    t.c_ospeed = static_cast<speed_t>(Rate);
    t.c_cflag &= ~(CBAUD << IBSHIFT);
    t.c_cflag |= BOTHER << IBSHIFT;
    return ioctl(Fd, TCSETS2, &t) == 0;
}

int GetCustomBaudRate(int Fd) {
    struct termios2 t {};
    if (ioctl(Fd, TCGETS2, &t) != 0) return -1;
    return static_cast<int>(t.c_ospeed);
}

int GetCustomInputBaudRate(int Fd) {
    struct termios2 t {};
    if (ioctl(Fd, TCGETS2, &t) != 0) return -1;
    return static_cast<int>(t.c_ispeed);
}
