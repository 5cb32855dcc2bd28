// veldra-cli info, identify and flash against simulated sensors in
// bootloader mode (veldra-sim bootloader).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "CliTestUtil.h"

namespace {

// A firmware file with the 16-byte header: image size, version major and
// minor, one-byte device ID, processor text and header checksum.
std::string Cod16(uint8_t DeviceID, uint8_t Hi, uint8_t Lo, const std::string &Processor,
                  size_t ImageSize) {
    std::string f(16, '\0');
    const uint32_t size = static_cast<uint32_t>(ImageSize);
    for (int i = 0; i < 4; ++i) f[3 + i] = static_cast<char>(size >> (8 * i));
    f[7] = static_cast<char>(Hi);
    f[8] = static_cast<char>(Lo);
    f[9] = static_cast<char>(DeviceID);
    for (size_t i = 0; i < Processor.size() && i < 5; ++i) f[10 + i] = Processor[i];
    unsigned sum = 2;
    for (int i = 0; i < 15; ++i) sum += static_cast<uint8_t>(f[i]);
    f[15] = static_cast<char>(sum & 0xFF);
    for (size_t i = 0; i < ImageSize; ++i) f += static_cast<char>(i * 7 + 3);
    return f;
}

// A firmware file with the 32-byte header (always ESP32).
std::string Cod32(uint16_t DeviceID, uint8_t Hi, uint8_t Lo, size_t ImageSize) {
    std::string f = "\r\nORVcod" + std::string(24, '\0');
    f[22] = static_cast<char>(DeviceID & 0xFF);
    f[23] = static_cast<char>(DeviceID >> 8);
    f[24] = static_cast<char>(Lo);
    f[25] = static_cast<char>(Hi);
    unsigned sum = 0;
    for (size_t i = 0; i < ImageSize; ++i) {
        const auto b = static_cast<uint8_t>(i * 13 + 1);
        f += static_cast<char>(b);
        sum += b;
    }
    f[26] = static_cast<char>(sum & 0xFF);
    f[27] = static_cast<char>((sum >> 8) & 0xFF);
    for (int i = 0; i < 4; ++i)
        f[28 + i] = static_cast<char>(static_cast<uint32_t>(ImageSize) >> (8 * i));
    return f;
}

class CliBoot : public ::testing::Test {
protected:
    void SetUp() override { FSettings = WriteTestSettings(FDir); }
    TRunResult Cli(const std::vector<std::string> &Args, const std::string &Stdin = "") {
        return RunCliWith(FSettings, Args, Stdin);
    }
    std::unique_ptr<TSimProcess> Sim(std::vector<std::string> Args) {
        Args.insert(Args.begin(), "bootloader");
        auto sim = std::make_unique<TSimProcess>(Args);
        EXPECT_TRUE(sim->Start());
        return sim;
    }
    // Whether the simulator printed a line starting with Prefix (reads what
    // it printed so far, waiting at most TimeoutMs for it).
    static bool SimSaid(TSimProcess &S, const std::string &Prefix, int TimeoutMs = 3000) {
        std::string line;
        return S.WaitForLine(Prefix, line, TimeoutMs);
    }
    TTempDir FDir;
    std::string FSettings;
};

TEST_F(CliBoot, InfoShowsTheFileHeader) {
    struct TCase {
        const char *Name;
        std::string Bytes;
        int Exit;
        std::string Out;
        std::string Err;
    } cases[] = {
        {"16-byte header", Cod16(17, 2, 5, "AVR", 100), 0,
         "Device ID: 17 (0x00000011) Probe Q\nVersion: 2.05\nProcessor: AVR\n", ""},
        {"32-byte header", Cod32(300, 3, 10, 1000), 0,
         "Device ID: 300 (0x0000012C) Probe W\nVersion: 3.10\nProcessor: ESP32\n", ""},
        {"unknown sensor", Cod16(99, 1, 0, "PIC18", 8), 0,
         "Device ID: Unknown\nVersion: 1.00\nProcessor: PIC18\n", ""},
        // Which check failed, on the line after the message.
        {"one byte appended", Cod16(17, 2, 5, "AVR", 100) + "x", 1, "",
         "Invalid COD file\nThe file size does not match its header\n"},
        {"image changed",
         [] {
             auto f = Cod32(300, 3, 10, 64);
             f[40] ^= 1;
             return f;
         }(),
         1, "", "Invalid COD file\nThe image checksum is wrong\n"},
        {"header checksum",
         [] {
             auto f = Cod16(17, 2, 5, "AVR", 100);
             f[15] ^= 1;
             return f;
         }(),
         1, "", "Invalid COD file\nThe header checksum is wrong\n"},
        {"shorter than a header", "\r\nORVcod", 1, "",
         "Invalid COD file\nThe file is too short for a firmware header\n"},
        // 65534 packets of 8 bytes: sound, but more than an upload can carry.
        {"too big to upload", Cod16(17, 2, 5, "AVR", 65534 * 8 - 16), 1,
         "Device ID: 17 (0x00000011) Probe Q\nVersion: 2.05\nProcessor: AVR\n",
         "The firmware file is too big to upload (65534 packets, at most 65533)"},
        {"largest that fits", Cod16(17, 2, 5, "AVR", 65533 * 8 - 16), 0,
         "Device ID: 17 (0x00000011) Probe Q\nVersion: 2.05\nProcessor: AVR\n", ""},
        {"control characters in the processor field", Cod16(17, 2, 5, "\x1b]0;X", 8), 0,
         "Device ID: 17 (0x00000011) Probe Q\nVersion: 2.05\nProcessor: \\x1B]0;X\n", ""},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const TRunResult r = Cli({"info", FDir.Write("fw.cod", c.Bytes)});
        EXPECT_EQ(r.ExitCode, c.Exit) << r.Err;
        EXPECT_EQ(r.Out, c.Out);
        EXPECT_TRUE(Contains(r.Err, c.Err)) << r.Err;
    }
    const TRunResult missing = Cli({"info", FDir.File("none.cod")});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_TRUE(Contains(missing.Err, "No such file or directory")) << missing.Err;

    const TRunResult j = Cli({"--json", "info", FDir.Write("fw.cod", Cod32(1042, 1, 2, 10))});
    ASSERT_EQ(j.ExitCode, 0) << j.Err;
    const auto o = nlohmann::json::parse(j.Out);
    EXPECT_EQ(o["device_id"], 1042);
    EXPECT_EQ(o["device"], "1042 (0x00000412) Probe B");
    EXPECT_EQ(o["version"], "1.02");
    EXPECT_EQ(o["processor"], "ESP32");
    EXPECT_EQ(o["header_size"], 32);

    // A refused file: the message stays the error, the check is the reason.
    std::string cut = Cod32(1042, 1, 2, 10);
    cut.pop_back();
    const TRunResult b = Cli({"--json", "info", FDir.Write("fw.cod", cut)});
    EXPECT_EQ(b.ExitCode, 1);
    const auto ob = nlohmann::json::parse(b.Out);
    EXPECT_EQ(ob["error"], "Invalid COD file");
    EXPECT_EQ(ob["reason"], "The file size does not match its header");
    // flash checks the file the same way before it touches a port.
    const TRunResult f =
        Cli({"--json", "flash", "--port", "/dev/ttyVELDRA-NONE", FDir.File("fw.cod")});
    EXPECT_EQ(f.ExitCode, 1);
    EXPECT_TRUE(Contains(f.Err, "Invalid COD file\nThe file size does not match its header\n"))
        << f.Err;
    EXPECT_EQ(nlohmann::json::parse(f.Out)["reason"], "The file size does not match its header");
}

TEST_F(CliBoot, IdentifyAtBothRatesWithTheWorkedFrames) {
    struct TCase {
        const char *Name;
        std::vector<std::string> SimArgs;
        std::string Baud;
        std::string Sensor;
        std::vector<std::string> Frames;  // trace lines, in order
    } cases[] = {
        {"8-bit ID at 19200",
         {"--sensor-id", "17", "--version", "2.5"},
         "19200",
         "17 (0x00000011) Probe Q",
         {"TX F5 05 0C 00 00 3A", "RX F5 06 8C 02 05 11 24"}},
        {"16-bit ID at 57600",
         {"--baud", "57600", "--id16", "--sensor-id", "300", "--version", "2.5"},
         "57600",
         "300 (0x0000012C) Probe W",
         {"TX F5 05 0C 00 00 3A", "RX (none)", "TX F5 05 0C 00 00 3A", "RX (none)",
          "TX F5 05 0B 00 00 40", "RX F5 07 8B 02 05 2C 01 DE"}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        auto sim = Sim(c.SimArgs);
        const TRunResult r = Cli({"--trace", "identify", "--port", sim->PtyPath()});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(r.Out, "Port: " + sim->PtyPath() + "\nBaud rate: " + c.Baud +
                             "\nSensor ID: " + c.Sensor + "\nVersion: 2.05\n");
        const auto lines = SplitLines(r.Err);
        ASSERT_EQ(lines.size(), c.Frames.size()) << r.Err;
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_TRUE(lines[i].ends_with(" " + c.Frames[i])) << lines[i];

        const TRunResult j = Cli({"--json", "identify", "--port", sim->PtyPath()});
        ASSERT_EQ(j.ExitCode, 0) << j.Err;
        const auto o = nlohmann::json::parse(j.Out);
        EXPECT_EQ(o["baud_rate"], std::stoi(c.Baud));
        EXPECT_EQ(o["sensor"], c.Sensor);
        EXPECT_EQ(o["version"], "2.05");
    }
    auto silent = Sim({"--silent"});
    const TRunResult r = Cli({"identify", "--port", silent->PtyPath()});
    // The port was opened, closed and opened again at 57600: each close
    // gave the line up, so nothing keeps the next program out.
    {
        const int fd = open(silent->PtyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        int excl = -1;
        EXPECT_EQ(ioctl(fd, TIOCGEXCL, &excl), 0);
        EXPECT_EQ(excl, 0);
        close(fd);
    }
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_TRUE(Contains(r.Err, "Unable to find sensor or sensor is not in bootloader mode"))
        << r.Err;
}

// The checks and questions before an upload; "sends" tells whether the
// sensor saw the start packet.
TEST_F(CliBoot, FlashChecksTheSensorBeforeSending) {
    const std::string file = FDir.Write("fw.cod", Cod16(17, 2, 5, "AVR", 60));
    struct TCase {
        const char *Name;
        std::vector<std::string> SimArgs;
        bool Yes;
        int Exit;
        std::string Out;
        std::vector<std::string> Err;
        bool Sends;
    } cases[] = {
        {"newer file: no question",
         {"--sensor-id", "17", "--version", "2.4"},
         false,
         0,
         "Firmware update successful\n",
         {"11% (packets sent 1, failed 0)", "100% (packets sent 9, failed 0)"},
         true},
        {"another sensor",
         {"--sensor-id", "18", "--version", "2.4"},
         true,
         1,
         "",
         {"The selected firmware does not match the connected device"},
         false},
        {"older file without a terminal",
         {"--sensor-id", "17", "--version", "2.6"},
         false,
         1,
         "",
         {"The firmware version selected is older than the sensor version. Do you want to proceed "
          "with the update?",
          "Not confirmed: no terminal to ask on (pass --yes to confirm)"},
         false},
        {"same version without a terminal",
         {"--sensor-id", "17", "--version", "2.5"},
         false,
         1,
         "",
         {"The firmware version selected is the same as the sensor version. Do you want to proceed "
          "with the update?"},
         false},
        {"older file with --yes",
         {"--sensor-id", "17", "--version", "3.0"},
         true,
         0,
         "Firmware update successful\n",
         {"is older than the sensor version", "(--yes)"},
         true},
        {"no sensor",
         {"--silent"},
         true,
         1,
         "",
         {"Unable to find sensor or sensor is not in bootloader mode"},
         false},
        {"packet never acknowledged",
         {"--sensor-id", "17", "--version", "1.0", "--fail-packet", "3:9"},
         false,
         1,
         "",
         {"Sensor update failed", "Please reconnect the sensor and try again", "failed 3)"},
         true},
        {"sensor stays in bootloader mode",
         {"--sensor-id", "17", "--version", "1.0", "--stay"},
         false,
         1,
         "",
         {"Sensor update failed"},
         true},
        {"adapter unplugged during the upload",
         {"--sensor-id", "17", "--version", "1.0", "--hangup-after", "3"},
         false,
         1,
         "",
         {"Sensor update failed", "Port Disconnected", "Please reconnect the sensor and try again"},
         true},
        // 76 bytes are 10 packets: "complete" after the third is a failure.
        {"image reported complete too early",
         {"--sensor-id", "17", "--version", "1.0", "--complete-at", "3"},
         false,
         1,
         "",
         {"Sensor update failed", "The sensor reported the image complete after packet 3 of 10",
          "Please reconnect the sensor and try again"},
         true},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        auto sim = Sim(c.SimArgs);
        std::vector<std::string> args{"flash", "--port", sim->PtyPath(), file};
        if (c.Yes) args.push_back("--yes");
        const TRunResult r = Cli(args);
        EXPECT_EQ(r.ExitCode, c.Exit) << r.Err;
        EXPECT_EQ(r.Out, c.Out) << r.Err;
        for (const std::string &e : c.Err) EXPECT_TRUE(Contains(r.Err, e)) << e << "\n" << r.Err;
        EXPECT_EQ(SimSaid(*sim, "START", c.Sends ? 3000 : 200), c.Sends);
    }
}

// A sensor at 57600 is found only after the port was closed at 19200 and
// opened again; then the next command opens it again. As an ordinary user
// each of those opens failed with EBUSY while the line's far end was held.
TEST_F(CliBoot, IdentifyTwiceInARow) {
    auto sim = Sim({"--baud", "57600", "--sensor-id", "17", "--version", "2.5"});
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const TRunResult r = Cli({"identify", "--port", sim->PtyPath()});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_TRUE(Contains(r.Out, "Baud rate: 57600")) << r.Out;
    }
}

TEST_F(CliBoot, TextFromTheSettingsIsShownNotObeyed) {
    const std::string settings =
        FDir.Write("esc.ini", "[SENSORS]\n17=Probe \x1b[2J\x1b]0;owned\x07Q\xc2\x9b\n");
    auto sim = Sim({"--sensor-id", "17", "--version", "2.5"});
    const TRunResult r = RunCliWith(settings, {"identify", "--port", sim->PtyPath()});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(
        Contains(r.Out, "Sensor ID: 17 (0x00000011) Probe \\x1B[2J\\x1B]0;owned\\x07Q\\x9B\n"))
        << r.Out;
    EXPECT_FALSE(Contains(r.Out, "\x1b")) << r.Out;
}

// Bidi overrides and invisible characters of a name are shown in text; in
// JSON, DEL, C1 controls and those characters are escaped, the value kept.
TEST_F(CliBoot, HiddenCharactersOfTheSettingsNeverReachTheTerminalRaw) {
    const std::string name =
        "Probe \xe2\x80\xae"
        "A\xe2\x80\x8b\x7f\xc2\x9b\xc2\x85"
        "B";
    const std::string settings = FDir.Write("hidden.ini", "[SENSORS]\n17=" + name + "\n");
    auto sim = Sim({"--sensor-id", "17", "--version", "2.5"});
    const TRunResult r = RunCliWith(settings, {"identify", "--port", sim->PtyPath()});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(
        Contains(r.Out, "Sensor ID: 17 (0x00000011) Probe \\u{202E}A\\u{200B}\\x7F\\x9B\\x85B\n"))
        << r.Out;
    const TRunResult j = RunCliWith(settings, {"--json", "identify", "--port", sim->PtyPath()});
    ASSERT_EQ(j.ExitCode, 0) << j.Err;
    for (const char *raw : {"\xe2\x80\xae", "\xe2\x80\x8b", "\x7f", "\xc2\x9b", "\xc2\x85"})
        EXPECT_FALSE(Contains(j.Out, raw)) << j.Out;
    EXPECT_TRUE(Contains(j.Out, "Probe \\u202eA\\u200b\\u007f\\u009b\\u0085B")) << j.Out;
    EXPECT_EQ(nlohmann::json::parse(j.Out)["sensor"], "17 (0x00000011) " + name);
}

TEST_F(CliBoot, FlashRefusesAFileTooBigToUpload) {
    const std::string file = FDir.Write("big.cod", Cod16(17, 2, 5, "AVR", 65534 * 8 - 16));
    auto sim = Sim({"--sensor-id", "17", "--version", "2.0"});
    const TRunResult r = Cli({"flash", "--port", sim->PtyPath(), file});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    EXPECT_EQ(r.Out, "");
    EXPECT_TRUE(Contains(r.Err, "too big to upload")) << r.Err;
    EXPECT_FALSE(Contains(r.Err, "Please reconnect the sensor")) << r.Err;
    EXPECT_FALSE(SimSaid(*sim, "START", 200));
}

// The file is overwritten in place (same size) while the upload runs: the
// sensor still gets the bytes that were checked.
TEST_F(CliBoot, FlashSendsTheBytesItCheckedWhenTheFileChanges) {
    const std::string bytes = Cod16(17, 2, 5, "AVR", 8000);
    const std::string file = FDir.Write("fw.cod", bytes);
    const std::string expect = FDir.Write("expect.cod", bytes);
    std::string other = Cod16(17, 2, 6, "AVR", 8000);
    for (size_t i = 16; i < other.size(); ++i) other[i] = static_cast<char>(~other[i]);
    auto sim = Sim({"--sensor-id", "17", "--version", "2.0", "--expect", expect});
    bool changed = false;
    std::thread changer([&] {
        if (!SimSaid(*sim, "START", 60000)) return;
        const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return;
        changed = pwrite(fd, other.data(), other.size(), 0) == static_cast<ssize_t>(other.size());
        close(fd);
    });
    const TRunResult r = Cli({"flash", "--port", sim->PtyPath(), file});
    changer.join();
    EXPECT_TRUE(changed);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "Firmware update successful\n");
    EXPECT_TRUE(SimSaid(*sim, "RESULT MATCH"));
}

TEST_F(CliBoot, FlashSendsTheWholeFileAndTracesThePackets) {
    const std::string bytes = Cod32(300, 2, 6, 500);
    const std::string file = FDir.Write("esp.cod", bytes);
    auto sim = Sim(
        {"--baud", "57600", "--id16", "--sensor-id", "300", "--version", "2.5", "--expect", file});
    const TRunResult r = Cli({"--trace", "--json", "flash", "--port", sim->PtyPath(), file});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(SimSaid(*sim, "RESULT MATCH"));
    // Start packet and its acknowledgement, then 532 bytes in 240-byte packets.
    EXPECT_TRUE(Contains(r.Err, " TX F5 05 0D 00 00 91\n")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, " RX F5 05 8D 00 00 F3\n")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, " RX F5 05 8D FE FF 83\n")) << r.Err;
    const auto o = nlohmann::json::parse(r.Out);
    EXPECT_EQ(o["ok"], true);
    EXPECT_EQ(o["firmware"]["processor"], "ESP32");
    ASSERT_EQ(o["ports"].size(), 1u);
    EXPECT_EQ(o["ports"][0]["message"], "Firmware update successful");
    EXPECT_EQ(o["ports"][0]["sensor_id"], 300);
    EXPECT_EQ(o["ports"][0]["baud_rate"], 57600);
    EXPECT_EQ(o["ports"][0]["packets_sent"], 2);  // the third is answered with "complete"
    EXPECT_EQ(o["ports"][0]["progress"], 100);
}

// A bootloader that says "complete" at packet 3 of 27 has 24 of the 216
// bytes: a failed update, exit 1, with the reason and the retry hint.
TEST_F(CliBoot, EarlyCompletionIsAFailedUpdate) {
    const std::string file = FDir.Write("fw.cod", Cod16(17, 2, 5, "AVR", 200));
    auto sim = Sim({"--sensor-id", "17", "--version", "1.0", "--complete-at", "3"});
    const TRunResult r = Cli({"--json", "flash", "--port", sim->PtyPath(), file});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    const auto o = nlohmann::json::parse(r.Out);
    EXPECT_EQ(o["ok"], false);
    EXPECT_EQ(o["exit_code"], 1);
    ASSERT_EQ(o["ports"].size(), 1u);
    const auto &p = o["ports"][0];
    EXPECT_EQ(p["ok"], false);
    EXPECT_EQ(p["message"], "Sensor update failed");
    EXPECT_EQ(p["details"],
              nlohmann::json::array({"The sensor reported the image complete after packet 3 of 27",
                                     "Please reconnect the sensor and try again"}));
    EXPECT_EQ(p["packets_sent"], 2);
    EXPECT_NE(p["progress"], 100);
    EXPECT_TRUE(SimSaid(*sim, "COMPLETE 24"));
}

TEST_F(CliBoot, ParallelFlashSummarisesEveryPort) {
    const std::string file = FDir.Write("fw.cod", Cod16(17, 2, 5, "AVR", 200));
    auto a = Sim({"--sensor-id", "17", "--version", "2.0", "--expect", file});
    auto b = Sim({"--sensor-id", "17", "--version", "2.0", "--fail-packet", "5:9"});
    auto c = Sim({"--sensor-id", "17", "--version", "2.0", "--baud", "57600", "--expect", file});
    const std::string pa = a->PtyPath(), pb = b->PtyPath(), pc = c->PtyPath();
    const TRunResult r = Cli({"--trace", "flash", "--port", pa, "--port", pb, "--port", pc, file});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    EXPECT_EQ(r.Out, pa + ": Firmware update successful\n" + pb + ": Sensor update failed\n" + pc +
                         ": Firmware update successful\n");
    EXPECT_TRUE(Contains(r.Err, pb + ": Please reconnect the sensor and try again")) << r.Err;
    // Every port's traffic is traced with the port's name.
    for (const std::string &p : {pa, pb, pc})
        EXPECT_TRUE(Contains(r.Err, " " + p + " TX F5 05 0D 00 00 91")) << p;
    EXPECT_TRUE(SimSaid(*a, "RESULT MATCH"));
    EXPECT_TRUE(SimSaid(*c, "RESULT MATCH"));

    // All succeed: exit code 0; a port that cannot be opened: exit code 3.
    auto d = Sim({"--sensor-id", "17", "--version", "2.0"});
    auto e = Sim({"--sensor-id", "17", "--version", "2.0"});
    const TRunResult ok =
        Cli({"--json", "flash", "--port", d->PtyPath(), "--port", e->PtyPath(), file});
    EXPECT_EQ(ok.ExitCode, 0) << ok.Err;
    const auto o = nlohmann::json::parse(ok.Out);
    EXPECT_EQ(o["ok"], true);
    ASSERT_EQ(o["ports"].size(), 2u);
    EXPECT_EQ(o["ports"][1]["port"], e->PtyPath());
    EXPECT_EQ(o["ports"][1]["ok"], true);

    auto g = Sim({"--sensor-id", "17", "--version", "2.0"});
    const TRunResult bad =
        Cli({"flash", "--port", g->PtyPath(), "--port", "/nonexistent/tty", file});
    EXPECT_EQ(bad.ExitCode, 3) << bad.Err;
    EXPECT_EQ(bad.Out,
              g->PtyPath() +
                  ": Firmware update successful\n/nonexistent/tty: Unable to open com port "
                  "(Error: 2) - No such file or directory\n");
}

// On a terminal the question waits for an answer and the progress is a live bar.
TEST_F(CliBoot, QuestionOnATerminal) {
    const std::string file = FDir.Write("fw.cod", Cod16(17, 2, 5, "AVR", 60));
    for (const char *answer : {"y\n", "n\n"}) {
        SCOPED_TRACE(answer);
        auto sim = Sim({"--sensor-id", "17", "--version", "2.5"});
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            execl(VELDRA_CLI_PATH, VELDRA_CLI_PATH, "--settings", FSettings.c_str(), "flash",
                  "--port", sim->PtyPath().c_str(), file.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        std::string seen;
        bool answered = false;
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 30000) <= 0) break;
            char buf[512];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            seen.append(buf, static_cast<size_t>(n));
            if (!answered && Contains(seen, "[y/N] ")) {
                ASSERT_EQ(write(master, answer, 2), 2);
                answered = true;
            }
        }
        int status = 0;
        waitpid(pid, &status, 0);
        close(master);
        EXPECT_TRUE(answered) << seen;
        EXPECT_TRUE(Contains(seen, "is the same as the sensor version")) << seen;
        if (answer[0] == 'y') {
            EXPECT_EQ(WEXITSTATUS(status), 0) << seen;
            EXPECT_TRUE(Contains(seen, "Firmware update successful")) << seen;
            EXPECT_TRUE(Contains(seen, "[####################] 100%")) << seen;
        } else {
            EXPECT_EQ(WEXITSTATUS(status), 1) << seen;
            EXPECT_TRUE(Contains(seen, "Not confirmed")) << seen;
        }
    }
}

}  // namespace
