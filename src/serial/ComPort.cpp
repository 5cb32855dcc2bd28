#include "serial/ComPort.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "serial/CustomBaud.h"
#include "serial/Interrupt.h"

namespace {

constexpr const char *kErrorTexts[] = {
    "",
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "WaitForSingleObject function failed",
    "PurgeComm function failed",
    "GetCommState function failed",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Can not set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is not selected",
    "Cannot wait for event if event is not assigned",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
    "Port Disconnected",
};

speed_t SpeedConstant(int Rate) {
    switch (Rate) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return 0;
    }
}

// Path without "." and ".." components and doubled slashes.
std::string Normalised(const std::string &Path) {
    std::vector<std::string> Parts;
    size_t Start = 0;
    while (Start <= Path.size()) {
        size_t End = Path.find('/', Start);
        if (End == std::string::npos) End = Path.size();
        const std::string Part = Path.substr(Start, End - Start);
        if (Part == "..") {
            if (!Parts.empty()) Parts.pop_back();
        } else if (!Part.empty() && Part != ".") {
            Parts.push_back(Part);
        }
        Start = End + 1;
    }
    std::string Out;
    for (const std::string &Part : Parts) Out += "/" + Part;
    return Out.empty() ? "/" : Out;
}

// Whether the kernel's pseudo-terminal driver serves the descriptor: it
// keeps no parity setting.
bool HasPtyDriver(int Fd) {
    struct stat st {};
    if (fstat(Fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;  // Unix98 pty slaves
}

// Whether the port has no driver with a line behind it. The kernel lists
// every tty with a driver (UARTs, USB adapters) in /sys/class/tty; the
// slaves of pseudo-terminals (/dev/pts/N) are not listed there. The port's
// name is followed through symbolic links (/dev/serial/by-id/..., the link
// a virtual port makes to /dev/pts/N) until it is a node in /dev that the
// kernel lists. The node's device number is asked only where sysfs is
// missing (a bare container).
bool IsPseudoTerminal(const std::string &Path, int Fd) {
    if (::access("/sys/class/tty", F_OK) != 0) return HasPtyDriver(Fd);
    std::string P = Path;
    if (P.empty() || P[0] != '/') {
        char Cwd[4096];
        if (!::getcwd(Cwd, sizeof Cwd)) return HasPtyDriver(Fd);
        P = std::string(Cwd) + "/" + P;
    }
    for (int Hops = 0; Hops < 16; ++Hops) {
        P = Normalised(P);
        if (P.rfind("/dev/", 0) == 0 && P.find('/', 5) == std::string::npos &&
            ::access(("/sys/class/tty/" + P.substr(5)).c_str(), F_OK) == 0)
            return false;
        char Target[4096];
        const ssize_t N = ::readlink(P.c_str(), Target, sizeof Target - 1);
        if (N <= 0) break;
        Target[N] = '\0';
        P = Target[0] == '/' ? std::string(Target) : P.substr(0, P.rfind('/') + 1) + Target;
    }
    return true;
}

long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

}  // namespace

// ---------------------------------------------------------------- errors

EComPort::EComPort(int Code, int OsError)
    : std::runtime_error(Message(Code, OsError)), FCode(Code), FOsError(OsError) {}

EComPort::EComPort(int Code, int OsError, const std::string &Where)
    : std::runtime_error(Message(Code, OsError) + " [" + Where + "]"),
      FCode(Code),
      FOsError(OsError) {}

std::string EComPort::ErrorText(int Code) {
    if (Code < 1 || Code > 25) return "";
    return kErrorTexts[Code];
}

std::string EComPort::Message(int Code, int OsError) {
    std::string msg = ErrorText(Code);
    if (OsError > 0) msg += " (Error: " + std::to_string(OsError) + ")";
    return msg;
}

// ------------------------------------------------------------------ port

TComPort::TComPort(TOutputQueue OutputQueue) : FOutputQueue(std::move(OutputQueue)) {
    FSettings.ParityCheck = false;
}

TComPort::~TComPort() {
    if (Connected()) {
        RestoreRs485();
        RestoreLowLatency();
    }
    Release();
}

std::string TComPort::DevicePath(const std::string &Port) {
    if (Port.find('/') != std::string::npos) return Port;
    return "/dev/" + Port;
}

bool TComPort::IsGone(int Err) const {
    return Err == EIO || Err == ENXIO || Err == ENODEV || Err == EPIPE || Err == EBADF;
}

void TComPort::Disconnected() {
    Release();
    FRs485 = false;
    FRs485Changed = FLowLatencyChanged = false;  // went with the device
    throw EComPort(CError_Disconnected);
}

void TComPort::OpenDevice() {
    const std::string path = DevicePath(FSettings.Port);
    TUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) throw EComPort(CError_OpenFailed, errno);
    // Exclusive use: flock keeps out other programs that lock (and a second
    // open of ours); TIOCEXCL keeps out everybody else except root.
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) throw EComPort(CError_OpenFailed, errno);
    if (ioctl(fd.get(), TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL)
        throw EComPort(CError_OpenFailed, errno);
    FFd = std::move(fd);
    FPseudoTerminal = IsPseudoTerminal(path, FFd.get());
    FPtyDriver = HasPtyDriver(FFd.get());
    // Queue sizes and time-outs have no counterpart here: the kernel sizes
    // its own buffers, and reads never wait (O_NONBLOCK, VMIN=1, VTIME=0).
    try {
        ApplyLineSettings(true);
    } catch (...) {
        RestoreRs485();
        RestoreLowLatency();
        Release();
        throw;
    }
}

void TComPort::Release() {
    if (!FFd) return;
    // TIOCEXCL belongs to the tty, not to this descriptor: it outlives the
    // close while another process holds the tty (the far end of a
    // pseudo-terminal, a network serial server), and every later open by an
    // ordinary user would then fail with EBUSY, our own reopen included.
    // Errors are of no interest here: the device may have gone already.
    ioctl(FFd.get(), TIOCNXCL);
    flock(FFd.get(), LOCK_UN);
    FFd.reset();
}

void TComPort::ApplyLineSettings(bool Opening) {
    const int fd = FFd.get();
    termios t{};
    if (tcgetattr(fd, &t) != 0) throw EComPort(CError_CommState, errno);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(HUPCL | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[std::clamp<int>(FSettings.DataBits, dbFive, dbEight)];
    if (FSettings.StopBits != sbOneStopBit) t.c_cflag |= CSTOPB;
    switch (FSettings.Parity) {
        case prOdd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case prEven:
            t.c_cflag |= PARENB;
            break;
        case prMark:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case prSpace:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    t.c_iflag &= ~(INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY);
    if (*FSettings.ParityCheck && FSettings.Parity != prNone) t.c_iflag |= INPCK;
    if (FSettings.ControlRTS == rtsHandshake) t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    const int rate = BaudRateToInt(FSettings.BaudRate);
    const speed_t speed = SpeedConstant(rate);
    if (speed != 0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        // An input speed left in CIBAUD by an earlier custom rate (BOTHER)
        // would outlive this standard rate; with CIBAUD clear the input
        // speed follows the output speed.
        t.c_cflag &= ~CIBAUD;
    }
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        const int err = errno;
        // A pseudo-terminal has no parity: the kernel drops PARENB, and a
        // request that differs only in parity is refused with EINVAL. Take
        // the line as the kernel leaves it there; a real UART still reports
        // the failure. (Asked of the driver serving the descriptor, not of
        // the port's name: an emulated adapter can be a pseudo-terminal
        // underneath.) PARODD and the input check stay as asked, as they do
        // when the request is taken: they have no effect without PARENB,
        // and the far end (a simulated device) can still tell the parity
        // that was meant.
        if (!(err == EINVAL && FPtyDriver)) throw EComPort(CError_CommState, err);
        t.c_cflag &= ~PARENB;
        if (tcsetattr(fd, TCSANOW, &t) != 0 && errno != EINVAL)
            throw EComPort(CError_CommState, errno);
    }
    if (speed == 0 && rate > 0 && !ApplyCustomBaudRate(fd, rate))
        throw EComPort(CError_CommState, errno);

    ApplyModemLines();
    if (Opening) TryLowLatency();
}

void TComPort::ApplyModemLines() {
    const int fd = FFd.get();
    // Modem lines and RS-485 mode are best effort: pseudo-terminals and many
    // USB adapters have no such lines or switch direction themselves.
    int dtr = TIOCM_DTR;
    if (FSettings.ControlDTR == dtrDisable)
        ioctl(fd, TIOCMBIC, &dtr);
    else
        ioctl(fd, TIOCMBIS, &dtr);
    int rts = TIOCM_RTS;
    switch (FSettings.ControlRTS) {
        case rtsDisable:
            ioctl(fd, TIOCMBIC, &rts);
            break;
        case rtsEnable:
            ioctl(fd, TIOCMBIS, &rts);
            break;
        default:
            break;
    }
    FRs485 = false;
    if (FSettings.ControlRTS == rtsToggle)
        TryRs485();
    else
        RestoreRs485();
}

void TComPort::TryRs485() {
    serial_rs485 rs{};
    if (ioctl(FFd.get(), TIOCGRS485, &rs) != 0) return;  // the adapter switches by itself
    // Keep the mode the driver was in, once per open, to hand it back.
    if (!FRs485Changed) {
        FRs485Found = {rs.flags, rs.delay_rts_before_send, rs.delay_rts_after_send};
    }
    rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    rs.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
    FRs485 = ioctl(FFd.get(), TIOCSRS485, &rs) == 0;
    if (FRs485) FRs485Changed = true;
}

void TComPort::RestoreRs485() {
    if (!FRs485Changed) return;
    FRs485Changed = false;
    serial_rs485 rs{};
    if (ioctl(FFd.get(), TIOCGRS485, &rs) != 0) return;
    rs.flags = FRs485Found[0];
    rs.delay_rts_before_send = FRs485Found[1];
    rs.delay_rts_after_send = FRs485Found[2];
    ioctl(FFd.get(), TIOCSRS485, &rs);
}

void TComPort::RestoreLowLatency() {
    if (!FLowLatencyChanged) return;
    FLowLatencyChanged = false;
    serial_struct ss{};
    if (ioctl(FFd.get(), TIOCGSERIAL, &ss) != 0) return;
    ss.flags &= ~ASYNC_LOW_LATENCY;
    ioctl(FFd.get(), TIOCSSERIAL, &ss);
}

void TComPort::TryLowLatency() {
    // USB adapters otherwise hold received bytes back for up to 16 ms.
    serial_struct ss{};
    FLowLatency = false;
    if (ioctl(FFd.get(), TIOCGSERIAL, &ss) != 0) return;
    if (ss.flags & ASYNC_LOW_LATENCY) {
        FLowLatency = true;
        return;
    }
    ss.flags |= ASYNC_LOW_LATENCY;
    FLowLatency = ioctl(FFd.get(), TIOCSSERIAL, &ss) == 0;
    FLowLatencyChanged = FLowLatency;
}

void TComPort::Close() {
    if (!Connected()) return;
    // The driver modes Open changed go back as they were found, for the
    // next program that uses the adapter; best effort, the device may be gone.
    RestoreRs485();
    RestoreLowLatency();
    // Pending output is dropped; errors here mean the device is gone already.
    tcflush(FFd.get(), TCIOFLUSH);
    Release();
    FRs485 = false;
    FLowLatency = false;
}

int TComPort::Write(const void *Buffer, int Count) {
    if (!Connected()) throw EComPort(CError_NotOpen);
    // A stop asked for sends nothing more.
    ThrowIfInterrupted();
    if (Count <= 0) return 0;
    const auto *p = static_cast<const uint8_t *>(Buffer);
    const long long deadline =
        NowMs() + CWriteDeadlineMs + static_cast<long long>(CWriteMsPerByte) * Count;
    int done = 0;
    while (done < Count) {
        ssize_t n = ::write(FFd.get(), p + done, static_cast<size_t>(Count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        const int err = n < 0 ? errno : EAGAIN;
        if (err == EINTR) continue;
        if (err != EAGAIN) {
            if (IsGone(err)) Disconnected();
            throw EComPort(CError_WriteFailed, err);
        }
        const long long left = deadline - NowMs();
        if (left <= 0) break;
        pollfd pf{FFd.get(), POLLOUT, 0};
        int r = PollInterruptible(&pf, 1, static_cast<int>(left));
        if (r < 0 && errno != EINTR) throw EComPort(CError_WriteFailed, errno);
        if (r > 0 && (pf.revents & (POLLHUP | POLLNVAL)) && !(pf.revents & POLLOUT)) Disconnected();
    }
    // The reply time-out of the protocols starts when Write returns, so let
    // the request leave the transmitter first, within the same deadline: a
    // stalled adapter must not hold the caller for ever (tcdrain() has no
    // limit). Bytes still queued at the deadline count as not written.
    if (done == Count) {
        for (;;) {
            const int queued = OutputQueued();
            if (queued <= 0) break;
            const long long left = deadline - NowMs();
            if (left <= 0) return done - std::min(queued, done);
            // About the time the queue needs at the current rate, in steps
            // short enough to return soon after it has emptied.
            const int rate = std::max(BaudRateToInt(FSettings.BaudRate), 50);
            const long long need = static_cast<long long>(queued) * 11 * 1000 / rate;
            SleepInterruptible(
                static_cast<int>(std::clamp<long long>(need, 1, std::min(left, 20LL))));
        }
    }
    return done;
}

int TComPort::OutputQueued() {
    if (FOutputQueue) return FOutputQueue();
    if (FPseudoTerminal) return 0;  // no transmitter: written bytes are gone at once
    int n = 0;
    if (ioctl(FFd.get(), TIOCOUTQ, &n) == 0) return n;
    if (IsGone(errno)) Disconnected();
    return 0;  // a driver without the count: nothing to wait for
}

int TComPort::Read(void *Buffer, int Count) {
    if (!Connected()) throw EComPort(CError_NotOpen);
    // Receive loops that never wait (a line that never falls silent) stop
    // here.
    ThrowIfInterrupted();
    if (Count <= 0) return 0;
    for (;;) {
        ssize_t n = ::read(FFd.get(), Buffer, static_cast<size_t>(Count));
        if (n > 0) return static_cast<int>(n);
        if (n == 0) Disconnected();  // VMIN=1: zero bytes means hang-up
        const int err = errno;
        if (err == EINTR) continue;
        if (err == EAGAIN) return 0;
        if (IsGone(err)) Disconnected();
        throw EComPort(CError_ReadFailed, err);
    }
}

void TComPort::Clear() {
    if (!Connected()) throw EComPort(CError_NotOpen);
    if (tcflush(FFd.get(), TCIOFLUSH) != 0) {
        const int err = errno;
        if (IsGone(err)) Disconnected();
        throw EComPort(CError_PurgeFailed, err);
    }
}

bool TComPort::WaitForInput(int TimeoutMs) {
    if (!Connected()) throw EComPort(CError_NotOpen);
    // poll() answers at once when bytes are already waiting, so even a zero
    // time-out looks once.
    const long long deadline = NowMs() + std::max(TimeoutMs, 0);
    for (;;) {
        const long long left = std::max(deadline - NowMs(), 0LL);
        pollfd pf{FFd.get(), POLLIN, 0};
        // A stop asked for (Ctrl+C, SIGTERM) ends the wait at once.
        int r = PollInterruptible(&pf, 1, static_cast<int>(left));
        if (r < 0) {
            if (errno == EINTR) continue;
            throw EComPort(CError_ReadFailed, errno);
        }
        if (r == 0) return false;
        if (pf.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Bytes that arrived before the hang-up are still the caller's.
            int n = 0;
            if (!(pf.revents & POLLNVAL) && ioctl(FFd.get(), FIONREAD, &n) == 0 && n > 0)
                return true;
            Disconnected();
        }
        if (pf.revents & POLLIN) return true;
    }
}

std::optional<EComPort> TComPort::Open(const TLinkSettings &Settings) {
    TLinkSettings New = Settings;
    if (!New.ParityCheck) New.ParityCheck = FSettings.ParityCheck;
    try {
        if (Connected() && New.Port != FSettings.Port) Close();
        const bool Changed = New != FSettings;
        FSettings = std::move(New);
        if (!Connected())
            OpenDevice();
        else if (Changed)
            ApplyLineSettings(false);
        return std::nullopt;
    } catch (const EComPort &E) {
        try {
            Close();
        } catch (const EComPort &) {
        }
        return E;
    }
}
