// Reads of 10 holding registers against one slave, timed three ways in
// interleaved rounds so that machine load hits all of them alike:
//   ours       TModbusRTU::ReadHoldingRegs
//   libmodbus  modbus_read_registers over the same port
//   floor      raw write of the same 8 request bytes and a blocking read of
//              the 25 answer bytes (no purge, no checks): what the line and
//              the slave cost by themselves
//   raw pty    the same ping-pong on a pseudo-terminal of its own, answered
//              by a thread that sends 25 fixed bytes: the bare line, for
//              reference (it leaves out the slave's own work)
// usage: veldra-bench-modbus PORT [COUNT=2000] [ROUNDS=5] [DEVICE=1]
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "modbus/ModbusFrame.h"
#include "modbus/ModbusLine.h"
#include "modbus/ModbusRTU.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Quantity = 10;

double Seconds(Clock::time_point Start) {
    return std::chrono::duration<double>(Clock::now() - Start).count();
}

double RunOurs(const std::string &Port, int Device, int Count) {
    TModbusLine Line(MakeLine(Port), static_cast<uint8_t>(Device));
    TModbusRTU &M = Line.Master();
    TPortParams P;
    P.BaudRate = br19200;
    P.ParityBits = prNone;
    P.StopBits = sbOneStopBit;
    P.Timeout = 1000;
    if (!Line.Open(P)) {
        std::fprintf(stderr, "ours: cannot open %s\n", Port.c_str());
        std::exit(1);
    }
    TModbusRegisters Regs(Quantity);
    const auto Start = Clock::now();
    for (int i = 0; i < Count; ++i) {
        if (!M.ReadHoldingRegs(0, Regs)) {
            std::fprintf(stderr, "ours: read %d failed\n", i);
            std::exit(1);
        }
    }
    return Seconds(Start);
}

double RunLibmodbus(const std::string &Port, int Device, int Count) {
    modbus_t *Ctx = modbus_new_rtu(Port.c_str(), 19200, 'N', 8, 1);
    if (!Ctx || modbus_set_slave(Ctx, Device) != 0 || modbus_connect(Ctx) != 0) {
        std::fprintf(stderr, "libmodbus: cannot open %s: %s\n", Port.c_str(),
                     modbus_strerror(errno));
        std::exit(1);
    }
    modbus_set_response_timeout(Ctx, 1, 0);
    uint16_t Regs[Quantity];
    const auto Start = Clock::now();
    for (int i = 0; i < Count; ++i) {
        if (modbus_read_registers(Ctx, 0, Quantity, Regs) != Quantity) {
            std::fprintf(stderr, "libmodbus: read %d failed: %s\n", i, modbus_strerror(errno));
            std::exit(1);
        }
    }
    const double T = Seconds(Start);
    modbus_close(Ctx);
    modbus_free(Ctx);
    return T;
}

void RawMode(int Fd) {
    termios T{};
    tcgetattr(Fd, &T);
    cfmakeraw(&T);
    T.c_cflag |= CLOCAL | CREAD;
    T.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB);
    cfsetspeed(&T, B19200);
    tcsetattr(Fd, TCSANOW, &T);
}

double PingPong(int Fd, int Device, int Count) {
    const TFrame Request = ModbusFrame::BuildRequest(static_cast<uint8_t>(Device),
                                                     ModbusFrame::FnReadHoldingRegs, 0, Quantity);
    const size_t AnswerLen = ModbusFrame::ReadRegsAnswerLength(Quantity);
    uint8_t Answer[256];
    const auto Start = Clock::now();
    for (int i = 0; i < Count; ++i) {
        if (write(Fd, Request.data(), Request.size()) != static_cast<ssize_t>(Request.size())) {
            std::perror("floor: write");
            std::exit(1);
        }
        size_t Got = 0;
        while (Got < AnswerLen) {
            pollfd P{Fd, POLLIN, 0};
            if (poll(&P, 1, 1000) <= 0) {
                std::fprintf(stderr, "floor: no answer to request %d\n", i);
                std::exit(1);
            }
            const ssize_t N = read(Fd, Answer + Got, AnswerLen - Got);
            if (N > 0) Got += static_cast<size_t>(N);
        }
    }
    return Seconds(Start);
}

double RunFloor(const std::string &Port, int Device, int Count) {
    const int Fd = open(Port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Fd < 0) {
        std::perror("floor: open");
        std::exit(1);
    }
    RawMode(Fd);
    const double Elapsed = PingPong(Fd, Device, Count);
    close(Fd);
    return Elapsed;
}

double RunRawPty(int Device, int Count) {
    const int Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0) {
        std::perror("raw pty");
        std::exit(1);
    }
    const int Slave = open(ptsname(Master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    RawMode(Slave);
    termios T{};
    tcgetattr(Master, &T);
    cfmakeraw(&T);
    tcsetattr(Master, TCSANOW, &T);
    std::thread Responder([&] {
        uint8_t In[64];
        const uint8_t Out[25] = {};
        for (int i = 0; i < Count; ++i) {
            size_t Got = 0;
            while (Got < 8) {
                const ssize_t N = read(Master, In + Got, 8 - Got);
                if (N <= 0) return;
                Got += static_cast<size_t>(N);
            }
            if (write(Master, Out, sizeof Out) != static_cast<ssize_t>(sizeof Out)) return;
        }
    });
    const double Elapsed = PingPong(Slave, Device, Count);
    Responder.join();
    close(Slave);
    close(Master);
    return Elapsed;
}

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V[V.size() / 2];
}

double Best(const std::vector<double> &V) {
    return *std::min_element(V.begin(), V.end());
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fputs("usage: veldra-bench-modbus PORT [COUNT=2000] [ROUNDS=5] [DEVICE=1]\n", stderr);
        return 2;
    }
    const std::string Port = argv[1];
    const int Count = argc > 2 ? std::atoi(argv[2]) : 2000;
    const int Rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const int Device = argc > 4 ? std::atoi(argv[4]) : 1;
    std::vector<double> Ours, Lib, Floor, Raw;
    for (int r = 0; r < Rounds; ++r) {
        Raw.push_back(RunRawPty(Device, Count));
        Floor.push_back(RunFloor(Port, Device, Count));
        Ours.push_back(RunOurs(Port, Device, Count));
        Lib.push_back(RunLibmodbus(Port, Device, Count));
        std::printf("round %d: raw pty %.3f s, floor %.3f s, ours %.3f s, libmodbus %.3f s\n",
                    r + 1, Raw.back(), Floor.back(), Ours.back(), Lib.back());
    }
    // On a shared machine the best round is the least disturbed one; the
    // median shows how much the load moved things.
    std::printf("%d rounds of %d reads of %d registers:  best (median)\n", Rounds, Count, Quantity);
    std::printf("  raw pty    %.3f s (%.3f s)  %.1f us per read\n", Best(Raw), Median(Raw),
                1e6 * Best(Raw) / Count);
    std::printf("  floor      %.3f s (%.3f s)  %.1f us per read\n", Best(Floor), Median(Floor),
                1e6 * Best(Floor) / Count);
    std::printf("  ours       %.3f s (%.3f s)  %.1f us per read\n", Best(Ours), Median(Ours),
                1e6 * Best(Ours) / Count);
    std::printf("  libmodbus  %.3f s (%.3f s)  %.1f us per read\n", Best(Lib), Median(Lib),
                1e6 * Best(Lib) / Count);
    // Ratios within a round compare runs made under the same load.
    std::vector<double> VsLib, VsFloor, VsRaw;
    for (int r = 0; r < Rounds; ++r) {
        VsLib.push_back(Ours[r] / Lib[r]);
        VsFloor.push_back(Ours[r] / Floor[r]);
        VsRaw.push_back(Ours[r] / Raw[r]);
    }
    std::printf(
        "ours / libmodbus = %.2f of the best rounds, %.2f median per round (goal <= 0.80)\n",
        Best(Ours) / Best(Lib), Median(VsLib));
    std::printf(
        "ours / floor     = %.2f of the best rounds, %.2f median per round (goal <= 1.30)\n",
        Best(Ours) / Best(Floor), Median(VsFloor));
    std::printf("ours / raw pty   = %.2f of the best rounds, %.2f median per round\n",
                Best(Ours) / Best(Raw), Median(VsRaw));
    return 0;
}
