// Measurements behind bench/run. Each subcommand prints one line of
// "key=value" pairs for the script to read.
//
//   mkcod FILE SIZE esp|avr ID      write a valid firmware file of SIZE bytes
//   upload PORT FILE [ROUNDS]       identify, then upload FILE; time from the
//                                   call to the completion acknowledgement
//   floor FILE [ROUNDS] [PORT]      the same packets as a raw ping-pong: with
//                                   PORT against the simulated bootloader
//                                   there (write, wait for the 6-byte
//                                   acknowledgement, nothing else), without
//                                   it over a bare pseudo-terminal answered
//                                   by a thread
//   purgefloor FILE ROUNDS PORT     the same against the simulated
//                                   bootloader with the purge of both queues
//                                   before each packet that the protocol
//                                   does (one tcflush per packet)
//   scancpu [TIMEOUT_MS] [LAST]     scan 1..LAST on a silent line, one master
//                                   per address; CPU time against wall time
//   watchfloor PORT ROUNDS ADDR:REG:COUNT...
//   watchpurgefloor PORT ROUNDS ADDR:REG:COUNT...  (the same, each request
//                  after the purge a Modbus transaction begins with)
//                                   the floor of a watch's rounds: each read
//                                   of holding registers as a raw ping-pong
//                                   with the simulated line at PORT (19200
//                                   8N1; write the request, read the answer's
//                                   length, nothing else), ROUNDS times
//   info CLI FILE [ROUNDS]          "CLI info FILE" as a fresh process per
//                                   round against cat FILE >/dev/null,
//                                   interleaved, warm cache (a check repeated
//                                   inside one process would time the
//                                   allocator's reuse, not the check)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bootloader/CRC8.h"
#include "bootloader/CodFile.h"
#include "bootloader/XComm.h"
#include "modbus/ModbusFrame.h"
#include "modbus/ModbusLine.h"
#include "modbus/ModbusRTU.h"
#include "serial/LinkFactory.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point T) {
    return std::chrono::duration<double>(Clock::now() - T).count();
}

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V.empty() ? 0 : V[V.size() / 2];
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

[[noreturn]] void Die(const std::string &What) {
    std::fprintf(stderr, "veldra-bench-evidence: %s\n", What.c_str());
    std::exit(1);
}

std::vector<uint8_t> ReadAll(const std::string &Path) {
    std::ifstream f(Path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

int MakeCod(const std::string &Path, size_t Size, bool Esp, uint16_t Id) {
    std::vector<uint8_t> F(Size);
    std::mt19937 Rng(1);
    const size_t Hdr = Esp ? 32 : 16;
    if (Size < Hdr) Die("file too small");
    for (size_t i = Hdr; i < Size; ++i) F[i] = static_cast<uint8_t>(Rng());
    const uint32_t N = static_cast<uint32_t>(Size - Hdr);
    if (Esp) {
        std::memcpy(F.data(), "\r\nORVcod", 8);
        uint16_t Sum = 0;
        for (size_t i = 32; i < Size; ++i) Sum = static_cast<uint16_t>(Sum + F[i]);
        F[22] = static_cast<uint8_t>(Id);
        F[23] = static_cast<uint8_t>(Id >> 8);
        F[25] = 1;
        F[26] = static_cast<uint8_t>(Sum);
        F[27] = static_cast<uint8_t>(Sum >> 8);
        for (int k = 0; k < 4; ++k) F[28 + k] = static_cast<uint8_t>(N >> (8 * k));
    } else {
        for (int k = 0; k < 4; ++k) F[3 + k] = static_cast<uint8_t>(N >> (8 * k));
        F[7] = 1;
        F[9] = static_cast<uint8_t>(Id);
        std::memcpy(F.data() + 10, "AVR", 3);
        uint8_t Sum = 2;
        for (int i = 0; i < 15; ++i) Sum = static_cast<uint8_t>(Sum + F[i]);
        F[15] = Sum;
    }
    std::ofstream(Path, std::ios::binary)
        .write(reinterpret_cast<const char *>(F.data()), static_cast<long>(Size));
    return 0;
}

int Upload(const std::string &Port, const std::string &File, int Rounds) {
    TCODFileData Hdr;
    if (!ValidateFile(File, Hdr)) Die("invalid file " + File);
    std::vector<double> Times;
    for (int r = 0; r < Rounds; ++r) {
        TLine Line = MakeLine(Port);
        TXComm X(*Line.Link);
        X.SetDefTimeout(500);
        if (!X.Open(Port)) Die("no bootloader on " + Port);
        Clock::time_point Start, Done;
        bool Completed = false;
        // The pause after completion marks the end of the transfer; the
        // reboot wait itself is not part of the figure.
        X.SetPause([&](uint32_t) {
            Done = Clock::now();
            Completed = true;
        });
        Start = Clock::now();
        X.UploadFile(File, Hdr, nullptr);
        if (!Completed) Die("upload did not complete");
        Times.push_back(std::chrono::duration<double>(Done - Start).count());
    }
    const double Bytes = static_cast<double>(ReadAll(File).size());
    std::printf("seconds=%.4f bytes=%.0f rate=%.1f\n", Median(Times), Bytes, Bytes / Median(Times));
    return 0;
}

void RawMode(int Fd) {
    termios T{};
    tcgetattr(Fd, &T);
    cfmakeraw(&T);
    T.c_cflag |= CLOCAL | CREAD;
    tcsetattr(Fd, TCSANOW, &T);
}

bool ReadExactly(int Fd, uint8_t *Buf, size_t N) {
    size_t Got = 0;
    while (Got < N) {
        pollfd P{Fd, POLLIN, 0};
        if (poll(&P, 1, 2000) <= 0) return false;
        const ssize_t n = read(Fd, Buf + Got, N - Got);
        if (n <= 0) return false;
        Got += static_cast<size_t>(n);
    }
    return true;
}

// Packets as the upload sends them: the empty start packet, then the file
// in slices; each answered with a 6-byte acknowledgement.
int Floor(const std::string &File, int Rounds, const std::string &Port, bool Purge = false) {
    const std::vector<uint8_t> F = ReadAll(File);
    TCODFileData Hdr;
    if (!ValidateFile(File, Hdr)) Die("invalid file " + File);
    const size_t Slice = Hdr.IsESP32() ? 240 : 8;
    std::vector<TByteArray> Packets = {BuildRequest(CCmdData, 0)};
    for (size_t Off = 0, No = 1; Off < F.size(); Off += Slice, ++No)
        Packets.push_back(BuildRequest(CCmdData, static_cast<uint16_t>(No), F.data() + Off,
                                       std::min(Slice, F.size() - Off)));
    std::vector<double> Times;
    for (int r = 0; r < Rounds && !Port.empty(); ++r) {
        const int Fd = open(Port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Fd < 0) Die("cannot open " + Port);
        termios T{};
        tcgetattr(Fd, &T);
        cfmakeraw(&T);
        T.c_cflag |= CLOCAL | CREAD | PARENB;
        cfsetspeed(&T, B19200);
        tcsetattr(Fd, TCSANOW, &T);
        const auto Start = Clock::now();
        uint8_t Ack[6];
        for (const auto &P : Packets) {
            if (Purge && tcflush(Fd, TCIOFLUSH) != 0) Die("floor: tcflush");
            if (write(Fd, P.data(), P.size()) != static_cast<ssize_t>(P.size()))
                Die("floor: write");
            if (!ReadExactly(Fd, Ack, sizeof Ack)) Die("floor: no answer");
        }
        Times.push_back(Since(Start));
        close(Fd);
    }
    for (int r = 0; r < Rounds && Port.empty(); ++r) {
        int Master = -1, Slave = -1;
        if (openpty(&Master, &Slave, nullptr, nullptr, nullptr) != 0) Die("openpty");
        RawMode(Master);
        RawMode(Slave);
        std::thread Responder([&] {
            uint8_t Buf[300];
            const uint8_t Ack[6] = {0xF5, 0x05, 0x8D, 0, 0, 0};
            for (size_t i = 0; i < Packets.size(); ++i) {
                if (!ReadExactly(Master, Buf, 2) || !ReadExactly(Master, Buf + 2, Buf[1] - 1u))
                    return;
                if (write(Master, Ack, sizeof Ack) != static_cast<ssize_t>(sizeof Ack)) return;
            }
        });
        const auto Start = Clock::now();
        uint8_t Ack[6];
        for (const auto &P : Packets) {
            if (write(Slave, P.data(), P.size()) != static_cast<ssize_t>(P.size()))
                Die("floor: write");
            if (!ReadExactly(Slave, Ack, sizeof Ack)) Die("floor: no answer");
        }
        Times.push_back(Since(Start));
        Responder.join();
        close(Slave);
        close(Master);
    }
    std::printf("seconds=%.4f packets=%zu\n", Median(Times), Packets.size());
    return 0;
}

int ScanCpu(int TimeoutMs, int Last) {
    int Master = -1, Slave = -1;
    char Name[256] = {};
    if (openpty(&Master, &Slave, Name, nullptr, nullptr) != 0) Die("openpty");
    close(Slave);  // nobody answers; the master end keeps the line up
    TPortParams P;
    P.Timeout = TimeoutMs;
    const auto Start = Clock::now();
    const double Cpu0 = CpuSeconds();
    int Found = 0;
    for (int Addr = 1; Addr <= Last; ++Addr) {
        TModbusLine M(MakeLine(Name), static_cast<uint8_t>(Addr));
        if (!M.Open(P)) Die("cannot open the line");
        Found += M.Master().Scan(0);
    }
    const double Cpu = CpuSeconds() - Cpu0, Wall = Since(Start);
    close(Master);
    std::printf("wall=%.3f cpu=%.4f share=%.5f found=%d\n", Wall, Cpu, Cpu / Wall, Found);
    return 0;
}

// Runs Argv as a fresh process, its output to /dev/null; wall seconds from
// the spawn to its end.
double SpawnSeconds(const std::vector<std::string> &Args) {
    posix_spawn_file_actions_t A;
    posix_spawn_file_actions_init(&A);
    posix_spawn_file_actions_addopen(&A, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&A, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> Argv;
    for (const std::string &S : Args) Argv.push_back(const_cast<char *>(S.c_str()));
    Argv.push_back(nullptr);
    const auto Start = Clock::now();
    pid_t Pid = -1;
    if (posix_spawnp(&Pid, Argv[0], &A, nullptr, Argv.data(), environ) != 0)
        Die("cannot run " + Args[0]);
    int Status = 0;
    waitpid(Pid, &Status, 0);
    const double T = Since(Start);
    posix_spawn_file_actions_destroy(&A);
    return T;
}

int Info(const std::string &Cli, const std::string &File, int Rounds) {
    const std::vector<std::string> Ours{Cli, "info", File}, Cat{"cat", File};
    SpawnSeconds(Cat);  // warm the cache and both programs
    SpawnSeconds(Ours);
    std::vector<double> TOurs, TCat, Ratio;
    for (int r = 0; r < Rounds; ++r) {
        TOurs.push_back(SpawnSeconds(Ours));
        TCat.push_back(SpawnSeconds(Cat));
        Ratio.push_back(TOurs.back() / TCat.back());
    }
    std::printf("ours=%.4f cat=%.4f ratio=%.3f\n", Median(TOurs), Median(TCat), Median(Ratio));
    return 0;
}

}  // namespace

int WatchFloor(const std::string &Port, int Rounds, const std::vector<std::string> &Reads,
               bool Purge) {
    std::vector<TFrame> Requests;
    std::vector<size_t> AnswerLengths;
    for (const std::string &R : Reads) {
        unsigned Addr = 0, Reg = 0, Count = 0;
        if (std::sscanf(R.c_str(), "%u:%u:%u", &Addr, &Reg, &Count) != 3) {
            std::fprintf(stderr, "watchfloor: %s is not ADDR:REG:COUNT\n", R.c_str());
            return 2;
        }
        Requests.push_back(
            ModbusFrame::BuildRequest(static_cast<uint8_t>(Addr), ModbusFrame::FnReadHoldingRegs,
                                      static_cast<uint16_t>(Reg), static_cast<uint16_t>(Count)));
        AnswerLengths.push_back(ModbusFrame::ReadRegsAnswerLength(static_cast<uint16_t>(Count)));
    }
    const int Fd = open(Port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Fd < 0) {
        std::perror("watchfloor: open");
        return 1;
    }
    RawMode(Fd);
    termios T{};
    tcgetattr(Fd, &T);
    T.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB);
    cfsetspeed(&T, B19200);
    tcsetattr(Fd, TCSANOW, &T);
    uint8_t Answer[512];
    const auto Start = Clock::now();
    for (int Round = 0; Round < Rounds; ++Round) {
        for (size_t I = 0; I < Requests.size(); ++I) {
            const TFrame &Q = Requests[I];
            // A Modbus transaction begins by emptying the driver's queues, so
            // that a late answer is never taken for this one's.
            if (Purge) tcflush(Fd, TCIOFLUSH);
            if (write(Fd, Q.data(), Q.size()) != static_cast<ssize_t>(Q.size()) ||
                !ReadExactly(Fd, Answer, AnswerLengths[I])) {
                std::fprintf(stderr, "watchfloor: no answer in round %d\n", Round);
                close(Fd);
                return 1;
            }
        }
    }
    const double Seconds = Since(Start);
    close(Fd);
    std::printf("seconds=%.4f rounds=%d rate=%.1f\n", Seconds, Rounds, Rounds / Seconds);
    return 0;
}

int main(int argc, char **argv) {
    const std::vector<std::string> A(argv + 1, argv + argc);
    auto Arg = [&](size_t i, int Def) { return i < A.size() ? std::atoi(A[i].c_str()) : Def; };
    if (A.size() >= 5 && A[0] == "mkcod")
        return MakeCod(A[1], std::strtoull(A[2].c_str(), nullptr, 0), A[3] == "esp",
                       static_cast<uint16_t>(Arg(4, 1)));
    if (A.size() >= 3 && A[0] == "upload") return Upload(A[1], A[2], Arg(3, 3));
    if (A.size() >= 2 && A[0] == "floor") return Floor(A[1], Arg(2, 3), A.size() > 3 ? A[3] : "");
    if (A.size() >= 4 && A[0] == "purgefloor") return Floor(A[1], Arg(2, 3), A[3], true);
    if (!A.empty() && A[0] == "scancpu") return ScanCpu(Arg(1, 100), Arg(2, 30));
    if (A.size() >= 3 && A[0] == "info") return Info(A[1], A[2], Arg(3, 11));
    if (A.size() >= 4 && A[0] == "watchfloor")
        return WatchFloor(A[1], Arg(2, 1000), std::vector<std::string>(A.begin() + 3, A.end()),
                          false);
    if (A.size() >= 4 && A[0] == "watchpurgefloor")
        return WatchFloor(A[1], Arg(2, 1000), std::vector<std::string>(A.begin() + 3, A.end()),
                          true);
    std::fputs(
        "usage: veldra-bench-evidence mkcod|upload|floor|scancpu|info|watchfloor|watchpurgefloor "
        "...\n",
        stderr);
    return 2;
}
