#include "SimPty.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "serial/CustomBaud.h"

namespace {

[[noreturn]] void Fail(const char *What) {
    throw std::runtime_error(std::string(What) + ": " + std::strerror(errno));
}

int SpeedToInt(speed_t s) {
    switch (s) {
        case B110:
            return 110;
        case B300:
            return 300;
        case B600:
            return 600;
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        default:
            return 0;
    }
}

}  // namespace

TSimPty::TSimPty(const std::string &LinkPath) : FLink(LinkPath) {
    FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0) Fail("posix_openpt");
    if (grantpt(FMaster) != 0 || unlockpt(FMaster) != 0) Fail("grantpt");
    char name[128];
    if (ptsname_r(FMaster, name, sizeof name) != 0) Fail("ptsname");
    FSlavePath = name;
    FSlave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FSlave < 0) Fail("open slave");
    termios t{};
    if (tcgetattr(FSlave, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(FSlave, TCSANOW, &t);
    }
    int fl = fcntl(FMaster, F_GETFL);
    fcntl(FMaster, F_SETFL, fl | O_NONBLOCK);
    FPath = FSlavePath;
    if (!FLink.empty()) {
        unlink(FLink.c_str());
        if (symlink(FSlavePath.c_str(), FLink.c_str()) != 0) Fail("symlink");
        FPath = FLink;
    }
}

TSimPty::~TSimPty() {
    HangUp();
}

int TSimPty::HostBaud() const {
    termios t{};
    if (FSlave < 0 || tcgetattr(FSlave, &t) != 0) return 0;
    if (int rate = SpeedToInt(cfgetospeed(&t)); rate != 0) return rate;
    // Rates without a termios constant (14400, 56000, 128000, ...) were set
    // through termios2; ask the same way.
    return std::max(GetCustomBaudRate(FSlave), 0);
}

int TSimPty::HostStopBits() const {
    termios t{};
    if (FSlave < 0 || tcgetattr(FSlave, &t) != 0) return 1;
    return (t.c_cflag & CSTOPB) ? 2 : 1;
}

char TSimPty::HostParity() const {
    termios t{};
    if (FSlave < 0 || tcgetattr(FSlave, &t) != 0) return 'N';
    if (t.c_cflag & PARODD) return 'O';
    return (t.c_iflag & INPCK) ? 'E' : 'N';
}

int TSimPty::ReadSome(uint8_t *Buf, size_t Max, int TimeoutMs) {
    if (FMaster < 0) return 0;
    for (;;) {
        ssize_t n = read(FMaster, Buf, Max);
        if (n > 0) return static_cast<int>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return 0;  // no host on the slave side yet
        pollfd p{FMaster, POLLIN, 0};
        int r = poll(&p, 1, TimeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return 0;
        if (!(p.revents & POLLIN)) {
            // POLLHUP without data: nobody holds the slave open besides us;
            // cannot happen while FSlave is open, but do not spin if it does.
            return 0;
        }
    }
}

bool TSimPty::WriteAll(const uint8_t *Buf, size_t Count) {
    size_t done = 0;
    while (done < Count) {
        if (FMaster < 0) return false;
        ssize_t n = write(FMaster, Buf + done, Count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{FMaster, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0) return false;
            continue;
        }
        return false;
    }
    return true;
}

void TSimPty::Drain() {
    uint8_t buf[512];
    while (FMaster >= 0 && read(FMaster, buf, sizeof buf) > 0) {
    }
}

void TSimPty::HangUp() {
    if (FSlave >= 0) close(FSlave);
    if (FMaster >= 0) close(FMaster);
    FSlave = FMaster = -1;
    if (!FLink.empty()) {
        unlink(FLink.c_str());
        FLink.clear();
    }
}

void AnnounceReady(const TSimPty &Pty) {
    std::printf("PTY %s\n", Pty.Path().c_str());
    std::fflush(stdout);
}

void InstallStopSignals(void (*Handler)(int)) {
    struct sigaction Sa {};
    Sa.sa_handler = Handler;
    sigemptyset(&Sa.sa_mask);
    sigaction(SIGTERM, &Sa, nullptr);
    sigaction(SIGINT, &Sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}
