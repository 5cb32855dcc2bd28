// Ctrl+C, SIGTERM and SIGHUP in the middle of an exchange: every command
// stops, closes its port in order and reports as usual. The simulators keep
// their end of the line open, as socat, virtual adapters and network serial
// servers do, so exclusive use left on the port would lock every ordinary
// user out of it (root is let in anyway: TIOCGEXCL shows the flag to root).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <thread>

#include "CliTestUtil.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// The port as the next program finds it: it opens (an ordinary user gets
// EBUSY while exclusive use is left on it), it is not exclusive, not locked.
void ExpectPortFree(const std::string &Port) {
    const int Fd = ::open(Port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(Fd, 0) << Port << ": " << std::strerror(errno);
    int Exclusive = 0;
    if (::ioctl(Fd, TIOCGEXCL, &Exclusive) == 0) {
        EXPECT_EQ(Exclusive, 0) << Port << " left exclusive";
    }
    EXPECT_EQ(::flock(Fd, LOCK_EX | LOCK_NB), 0) << Port << " left locked";
    ::close(Fd);
}

struct TCase {
    const char *Name;
    const char *Sim;  // "bootloader" or "modbus"
    std::vector<std::string> SimArgs;
    int Sims;                          // simulated sensors (ports)
    std::vector<std::string> Command;  // "PORT" stands for the ports (--port P each)
    int Signal;
    int Exit;
    const char *SimSays;  // the request has arrived: "" waits for the port to be held
    const char *Err;      // part of standard error
};

void PrintTo(const TCase &C, std::ostream *Os) {
    *Os << C.Name;
}

class CliSignal : public ::testing::TestWithParam<TCase> {};

TEST_P(CliSignal, StopsClosesThePortAndReports) {
    const TCase &C = GetParam();
    TTempDir Dir;
    // Long bootloader time-outs: a wait that did not wake would hold the
    // command for a minute per attempt.
    const std::string Slow = Dir.Write("slow.ini",
                                       "[SETTINGS]\nMAX_RETRY=3\nMAX_FAILS=5\nTIMEOUT=60000\n"
                                       "[SENSORS]\n17=Probe Q\n");
    const std::string Fast = WriteTestSettings(Dir);
    // flash records each port's stop in the run's state folder.
    const std::string Records =
        std::string(getenv("XDG_STATE_HOME") ? getenv("XDG_STATE_HOME") : "") +
        "/veldra-update/updates.jsonl";
    std::remove(Records.c_str());
    const std::string File = Dir.Write("fw.cod", [] {
        // 16-byte header: 2000 bytes of image for device 17, version 2.5.
        std::string F(16, '\0');
        const uint32_t Size = 2000;
        for (int I = 0; I < 4; ++I) F[3 + I] = static_cast<char>(Size >> (8 * I));
        F[7] = 2, F[8] = 5, F[9] = 17;
        F.replace(10, 3, "AVR");
        unsigned Sum = 2;
        for (int I = 0; I < 15; ++I) Sum += static_cast<uint8_t>(F[I]);
        F[15] = static_cast<char>(Sum & 0xFF);
        for (size_t I = 0; I < Size; ++I) F += static_cast<char>(I * 7 + 3);
        return F;
    }());

    std::vector<std::unique_ptr<TSimProcess>> Sims;
    std::vector<std::string> Ports;
    for (int I = 0; I < C.Sims; ++I) {
        std::vector<std::string> Args{C.Sim};
        Args.insert(Args.end(), C.SimArgs.begin(), C.SimArgs.end());
        Sims.push_back(std::make_unique<TSimProcess>(Args));
        ASSERT_TRUE(Sims.back()->Start());
        Ports.push_back(Sims.back()->PtyPath());
    }
    std::vector<std::string> Args{"--settings", Slow, "--json"};
    for (const std::string &A : C.Command) {
        if (A == "PORT") {
            for (const std::string &P : Ports) Args.insert(Args.end(), {"--port", P});
        } else {
            Args.push_back(A == "FILE" ? File : A);
        }
    }

    TRunningCli Cli(Dir, Args);
    ASSERT_TRUE(Cli.Started());
    for (size_t I = 0; I < Sims.size(); ++I) {
        if (*C.SimSays) {
            std::string Line;
            ASSERT_TRUE(Sims[I]->WaitForLine(C.SimSays, Line, 20000))
                << "no request on " << Ports[I];
        } else {
            ASSERT_TRUE(Cli.HoldsOpen(Ports[I])) << Ports[I];
        }
    }
    const auto Sent = Clock::now();
    Cli.Signal(C.Signal);
    // Generous: the waits it was in last a minute (the bootloader) or until
    // the scan's last address.
    const TRunResult R = Cli.Wait(30000);
    const auto Took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Sent).count();
    ASSERT_NE(R.ExitCode, -1) << "still running " << Took << " ms after the signal";
    EXPECT_EQ(R.ExitCode, C.Exit) << R.Err;
    EXPECT_TRUE(Contains(R.Err, C.Err)) << R.Err;
    const auto J = nlohmann::json::parse(R.Out, nullptr, false);
    ASSERT_FALSE(J.is_discarded()) << "no JSON object: " << R.Out;
    EXPECT_EQ(J["exit_code"], C.Exit);
    EXPECT_EQ(J["ok"], false);
    EXPECT_EQ(J["interrupted"], C.Signal == SIGINT    ? "SIGINT"
                                : C.Signal == SIGTERM ? "SIGTERM"
                                                      : "SIGHUP");
    if (C.Command.front() == "flash") {
        std::ifstream In(Records);
        size_t Lines = 0, Stopped = 0;
        for (std::string L; std::getline(In, L); ++Lines)
            Stopped += nlohmann::json::parse(L)["result"] == "stopped";
        EXPECT_EQ(Lines, Ports.size()) << Records;
        EXPECT_EQ(Stopped, Ports.size());
    }

    for (const std::string &P : Ports) ExpectPortFree(P);
    // The next command gets the line (a short time-out: the sensor may
    // still be silent).
    for (const std::string &P : Ports) {
        const TRunResult Next =
            std::string(C.Sim) == "bootloader"
                ? RunCliWith(Fast, {"identify", "--port", P})
                : RunCliWith(Fast, {"read", "--port", P, "--addr", "1", "--reg", "0"});
        EXPECT_NE(Next.ExitCode, 3) << Next.Err;
        EXPECT_FALSE(Contains(Next.Err, "in use by another program")) << Next.Err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, CliSignal,
    ::testing::Values(TCase{"IdentifySigint",
                            "bootloader",
                            {"--silent"},
                            1,
                            {"identify", "PORT"},
                            SIGINT,
                            130,
                            "",
                            "Interrupted by SIGINT"},
                      TCase{"IdentifySigterm",
                            "bootloader",
                            {"--silent"},
                            1,
                            {"identify", "PORT"},
                            SIGTERM,
                            143,
                            "",
                            "Interrupted by SIGTERM"},
                      // Packet 3 goes unanswered: the upload waits for its answer.
                      TCase{"FlashMidUpload",
                            "bootloader",
                            {"--sensor-id", "17", "--version", "2.0", "--fail-packet", "3:100"},
                            1,
                            {"flash", "PORT", "FILE"},
                            SIGHUP,
                            129,
                            "PACKET 3",
                            "Interrupted by SIGHUP"},
                      TCase{"FlashTwoPorts",
                            "bootloader",
                            {"--sensor-id", "17", "--version", "2.0", "--fail-packet", "3:100"},
                            2,
                            {"flash", "PORT", "FILE"},
                            SIGTERM,
                            143,
                            "PACKET 3",
                            "Interrupted by SIGTERM"},
                      // Address 200 is silent; --log prints each request as it arrives.
                      TCase{"Read",
                            "modbus",
                            {"--profiles", "--log"},
                            1,
                            {"read", "PORT", "--addr", "200", "--reg", "0", "--timeout", "3000"},
                            SIGINT,
                            130,
                            "REQ",
                            "Interrupted by SIGINT"},
                      TCase{"Write",
                            "modbus",
                            {"--profiles", "--log"},
                            1,
                            {"write", "PORT", "--addr", "200", "--reg", "0", "--timeout", "3000",
                             "5"},
                            SIGTERM,
                            143,
                            "REQ",
                            "Interrupted by SIGTERM"},
                      TCase{"CommRead",
                            "modbus",
                            {"--profiles", "--log"},
                            1,
                            {"comm", "read", "PORT", "--addr", "200", "--baud-reg", "120",
                             "--framing-reg", "121", "--timeout", "3000"},
                            SIGHUP,
                            129,
                            "REQ",
                            "Interrupted by SIGHUP"},
                      TCase{"CommWrite",
                            "modbus",
                            {"--profiles", "--log"},
                            1,
                            {"comm", "write", "PORT", "--addr", "200", "--baud-reg", "120",
                             "--baud-val", "4", "--timeout", "3000"},
                            SIGINT,
                            130,
                            "REQ",
                            "Interrupted by SIGINT"},
                      // Devices 1 to 5 answer, then the silent addresses up to 247.
                      TCase{"Scan",
                            "modbus",
                            {"--profiles", "--log"},
                            1,
                            {"scan", "PORT", "--first", "1", "--last", "247", "--timeout", "3000"},
                            SIGTERM,
                            143,
                            "REQ 06",
                            "Scan stopped"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// A scan that is stopped keeps what it found.
TEST(CliSignalScan, KeepsTheDevicesFound) {
    TTempDir Dir;
    const std::string Settings = WriteTestSettings(Dir);
    TSimProcess Sim({"modbus", "--profiles", "--log"});
    ASSERT_TRUE(Sim.Start());
    TRunningCli Cli(Dir, {"--settings", Settings, "--json", "scan", "--port", Sim.PtyPath(),
                          "--first", "1", "--last", "247", "--timeout", "3000"});
    std::string Line;
    ASSERT_TRUE(Sim.WaitForLine("REQ 07", Line, 20000));
    Cli.Signal(SIGINT);
    const TRunResult R = Cli.Wait(30000);
    ASSERT_EQ(R.ExitCode, 130) << R.Err;
    const auto J = nlohmann::json::parse(R.Out);
    EXPECT_EQ(J["stopped"], true);
    ASSERT_GE(J["devices"].size(), 4u);
    EXPECT_EQ(J["devices"][0]["address"], 1);
    EXPECT_EQ(J["devices"][0]["device_code"], "7 (0x00000007) Probe A");
    EXPECT_LT(J["scanned"].get<int>(), 247);
    ExpectPortFree(Sim.PtyPath());
}

// A line search that is stopped keeps what it found and leaves the port free.
TEST(CliSignalFind, KeepsTheDevicesFound) {
    TTempDir Dir;
    const std::string Settings = WriteTestSettings(Dir);
    TSimProcess Sim({"modbus", "--device", "1:map18", "--device-line", "1:9600:8E1", "--log"});
    ASSERT_TRUE(Sim.Start());
    TRunningCli Cli(Dir, {"--settings", Settings, "--json", "find", "--port", Sim.PtyPath(),
                          "--all", "--probe-timeout", "1000"});
    std::string Line;
    // The sensor at address 1 has answered its probe and its identification.
    ASSERT_TRUE(Sim.WaitForLine("REQ 02", Line, 20000));
    Cli.Signal(SIGINT);
    const TRunResult R = Cli.Wait(30000);
    ASSERT_EQ(R.ExitCode, 130) << R.Err;
    const auto J = nlohmann::json::parse(R.Out);
    EXPECT_EQ(J["stopped"], true);
    ASSERT_EQ(J["devices"].size(), 1u);
    EXPECT_EQ(J["devices"][0]["address"], 1);
    EXPECT_EQ(J["devices"][0]["parity"], "Even");
    EXPECT_LT(J["probes"].get<int>(), 18 * 247);
    EXPECT_TRUE(Contains(R.Err, "Search stopped")) << R.Err;
    ExpectPortFree(Sim.PtyPath());
}

}  // namespace
