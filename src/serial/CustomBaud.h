#pragma once
// Arbitrary bit rates through termios2/BOTHER. Kept apart because the
// kernel's termios declarations clash with the C library's <termios.h>.

// Applies Rate (bit/s) as both input and output speed; false with errno set.
bool ApplyCustomBaudRate(int Fd, int Rate);
// The output speed the driver reports in bit/s, or -1 with errno set.
int GetCustomBaudRate(int Fd);
// The input speed the driver reports in bit/s, or -1 with errno set.
int GetCustomInputBaudRate(int Fd);
