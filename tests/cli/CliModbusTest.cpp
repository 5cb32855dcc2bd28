// veldra-cli against the simulated Modbus line (veldra-sim modbus --profiles):
//   1 map18 sensor (code 7, version 0x0105)   2 map300 sensor (code 1042, 0x0210)
//   3 map800 sensor (code 3100, 0x0302)        4 plain device, registers 0..99
//   5 plain device answering with a wrong CRC
// Registers 0..63 hold 0x0100 + n; the comm settings are at 120 (baud code 4),
// 121 (framing 0) and 122 (the address); inputs 0..3 read on, off, on, on.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "CliTestUtil.h"
#include "serial/ComPort.h"

namespace {

class CliModbus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FDir = new TTempDir;
        FSettings = WriteTestSettings(*FDir);
        FSim = new TSimProcess({"modbus", "--profiles"});
        ASSERT_TRUE(FSim->Start());
    }
    static void TearDownTestSuite() {
        delete FSim;
        delete FDir;
    }
    // veldra-cli COMMAND --port <pty> ARGS... with a generous time-out.
    static TRunResult Cli(const std::vector<std::string> &Command,
                          const std::vector<std::string> &Args,
                          const std::vector<std::string> &Global = {}) {
        std::vector<std::string> all = Global;
        all.insert(all.end(), Command.begin(), Command.end());
        all.insert(all.end(), {"--port", FSim->PtyPath(), "--timeout", "1000"});
        all.insert(all.end(), Args.begin(), Args.end());
        return RunCliWith(FSettings, all);
    }
    static TTempDir *FDir;
    static std::string FSettings;
    static TSimProcess *FSim;
};
TTempDir *CliModbus::FDir = nullptr;
std::string CliModbus::FSettings;
TSimProcess *CliModbus::FSim = nullptr;

struct TCase {
    const char *Name;
    std::vector<std::string> Command;
    std::vector<std::string> Args;
    int Exit;
    std::string Out;  // whole standard output
    std::string Err;  // part of standard error ("" checks nothing)
};

void Check(const TCase &C, const TRunResult &R) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(R.ExitCode, C.Exit) << R.Err;
    EXPECT_EQ(R.Out, C.Out) << R.Err;
    EXPECT_TRUE(Contains(R.Err, C.Err)) << R.Err;
}

TEST_F(CliModbus, ReadShowsValuesAsTheRegisterPage) {
    const TCase cases[] = {
        {"int", {"read"}, {"--addr", "1", "--reg", "0"}, 0, "256\n", ""},
        {"uint16", {"read"}, {"--addr", "4", "--reg", "10", "--type", "uint16"}, 0, "266\n", ""},
        {"uint32 MSWF",
         {"read"},
         {"--addr", "4", "--reg", "1", "--type", "uint32"},
         0,
         "16843010\n",
         ""},
        {"uint32 LSWF",
         {"read"},
         {"--addr", "4", "--reg", "1", "--type", "UINT32", "--order", "lswf"},
         0,
         "16908545\n",
         ""},
        {"BCD", {"read"}, {"--addr", "4", "--reg", "9", "--type", "BCD"}, 0, "109\n", ""},
        {"BCD with a digit A..F",
         {"read"},
         {"--addr", "4", "--reg", "10", "--type", "bcd"},
         1,
         "",
         "Invalid BCD value read"},
        {"bits, first input rightmost",
         {"read"},
         {"--addr", "1", "--reg", "0", "--type", "bit", "--count", "4"},
         0,
         "1101\n",
         ""},
        {"vendor text",
         {"read"},
         {"--addr", "1", "--reg", "18", "--type", "string", "--count", "32"},
         0,
         "www.veldrasens.com\n",
         ""},
        {"float", {"read"}, {"--addr", "4", "--reg", "0", "--type", "float"}, 0, "0.000\n", ""},
        {"absent device", {"read"}, {"--addr", "9", "--reg", "0"}, 1, "", "Error reading data."},
        {"exception answer",
         {"read"},
         {"--addr", "4", "--reg", "2000"},
         1,
         "",
         "Error reading data."},
        {"wrong CRC", {"read"}, {"--addr", "5", "--reg", "0"}, 1, "", "Error reading data."},
        {"126 registers are refused before the port",
         {"read"},
         {"--addr", "4", "--reg", "0", "--type", "string", "--count", "126"},
         2,
         "",
         "--count: at most 125 registers per read"},
        {"another bit rate than the line's",
         {"read"},
         {"--addr", "1", "--reg", "0", "--baud", "9600"},
         1,
         "",
         "Error reading data."},
    };
    for (const TCase &c : cases) Check(c, Cli(c.Command, c.Args));
}

// Each row writes, then reads back through the register page's types.
TEST_F(CliModbus, WriteThenReadBack) {
    struct TRow {
        const char *Name;
        std::vector<std::string> Write;  // after --addr 4
        std::vector<std::string> Read;   // after --addr 4
        std::string Shown;
    } rows[] = {
        {"float MSWF",
         {"--reg", "40", "--type", "float", "1"},
         {"--reg", "40", "--type", "float"},
         "1.000\n"},
        {"float read in the other order",
         {"--reg", "40", "--type", "float", "1"},
         {"--reg", "40", "--type", "float", "--order", "LSWF"},
         "0.000\n"},
        {"float rounding",
         {"--reg", "42", "--type", "float", "--order", "LSWF", "123.456"},
         {"--reg", "42", "--type", "float", "--order", "LSWF"},
         "123.456\n"},
        {"negative int", {"--reg", "44", "-1"}, {"--reg", "44", "--type", "uint16"}, "65535\n"},
        {"int from a fraction",
         {"--reg", "45", "--type", "int", "--", "-12.9"},
         {"--reg", "45"},
         "-12\n"},
        {"uint32",
         {"--reg", "46", "--type", "uint32", "305419896"},
         {"--reg", "46", "--type", "uint32"},
         "305419896\n"},
        {"uint32 beyond 31 bits shows negative",
         {"--reg", "46", "--type", "uint32", "4294967295"},
         {"--reg", "46", "--type", "uint32"},
         "-1\n"},
        {"BCD",
         {"--reg", "48", "--type", "BCD", "950"},
         {"--reg", "48", "--type", "uint16"},
         "2384\n"},
        {"string stripped, rest zeroed",
         {"--reg", "50", "--type", "string", "--count", "3", "  ABC \t"},
         {"--reg", "50", "--type", "string", "--count", "3"},
         "ABC\n"},
        {"string of one register (function 16)",
         {"--reg", "53", "--type", "string", "--count", "1", "AB"},
         {"--reg", "53", "--type", "uint16"},
         "16706\n"},
        {"ISO 8859-1 text",
         {"--reg", "54", "--type", "string", "--count", "2", "\xC3\xA9t\xC3\xA9"},
         {"--reg", "54", "--type", "string", "--count", "2"},
         "\xC3\xA9t\xC3\xA9\n"},
    };
    for (const TRow &r : rows) {
        SCOPED_TRACE(r.Name);
        std::vector<std::string> w{"--addr", "4"}, rd{"--addr", "4"};
        w.insert(w.end(), r.Write.begin(), r.Write.end());
        rd.insert(rd.end(), r.Read.begin(), r.Read.end());
        const TRunResult wr = Cli({"write"}, w);
        EXPECT_EQ(wr.ExitCode, 0) << wr.Err;
        EXPECT_EQ(wr.Out, "Changes have been saved successfully\n");
        const TRunResult rr = Cli({"read"}, rd);
        EXPECT_EQ(rr.ExitCode, 0) << rr.Err;
        EXPECT_EQ(rr.Out, r.Shown);
    }
}

TEST_F(CliModbus, WriteFailuresSendNothingOrSayErrorWritingData) {
    const TCase cases[] = {
        {"no echo", {"write"}, {"--addr", "9", "--reg", "40", "7"}, 1, "", "Error writing data."},
        {"wrong CRC in the echo",
         {"write"},
         {"--addr", "5", "--reg", "40", "7"},
         1,
         "",
         "Error writing data."},
        {"exception answer",
         {"write"},
         {"--addr", "4", "--reg", "2000", "--type", "float", "1"},
         1,
         "",
         "Error writing data."},
        {"BCD below zero",
         {"write"},
         {"--addr", "4", "--reg", "40", "--type", "BCD", "--", "-5"},
         2,
         "",
         "'$-5' is not a valid integer value"},
        {"float beyond single precision",
         {"write"},
         {"--addr", "4", "--reg", "40", "--type", "float", "1e39"},
         2,
         "",
         "Floating point overflow"},
        {"not a number",
         {"write"},
         {"--addr", "4", "--reg", "40", "12x"},
         2,
         "",
         "'12x' is not a valid floating point value"},
        {"only blanks",
         {"write"},
         {"--addr", "4", "--reg", "40", "--type", "string", "   "},
         2,
         "",
         "Value not specified"},
        {"string too long",
         {"write"},
         {"--addr", "4", "--reg", "40", "--type", "string", " ABC "},
         2,
         "",
         "Insufficient number of registers"},
    };
    for (const TCase &c : cases) {
        // The trace proves that refused values never reach the line.
        const TRunResult r = Cli(c.Command, c.Args, {"--trace"});
        Check(c, r);
        if (c.Exit == 2) {
            EXPECT_FALSE(Contains(r.Err, " TX ")) << c.Name;
        }
    }
}

TEST_F(CliModbus, ScanListsDevicesAndIdentifiesSensors) {
    const TRunResult r = Cli({"scan"}, {"--first", "1", "--last", "6"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out,
              "1\t7 (0x00000007) Probe A\t1.05\n"
              "2\t1042 (0x00000412) Probe B\t2.10\n"
              "3\tUnknown\t3.02\n"
              "4\tN/A\tN/A\n"
              "5\tN/A\tN/A\n");
    EXPECT_TRUE(Contains(r.Err, "Scanned: 6, found: 5")) << r.Err;

    const TRunResult none = Cli({"scan"}, {"--first", "10", "--last", "11"});
    EXPECT_EQ(none.ExitCode, 1);
    EXPECT_EQ(none.Out, "");
    EXPECT_TRUE(Contains(none.Err, "Scanned: 2, found: 0")) << none.Err;

    const TRunResult json = Cli({"scan"}, {"--first", "2", "--last", "2"}, {"--json"});
    ASSERT_EQ(json.ExitCode, 0) << json.Err;
    const auto j = nlohmann::json::parse(json.Out);
    EXPECT_EQ(j["found"], 1);
    EXPECT_EQ(j["scanned"], 1);
    ASSERT_EQ(j["devices"].size(), 1u);
    EXPECT_EQ(j["devices"][0]["address"], 2);
    EXPECT_EQ(j["devices"][0]["sensor_id"], 1042);
    EXPECT_EQ(j["devices"][0]["device_code"], "1042 (0x00000412) Probe B");
    EXPECT_EQ(j["devices"][0]["fw_version"], "2.10");
}

TEST_F(CliModbus, CommReadAndWrite) {
    const TCase cases[] = {
        {"read all three",
         {"comm", "read"},
         {"--addr", "2", "--baud-reg", "120", "--framing-reg", "121", "--addr-reg", "122"},
         0,
         "Baud rate: 4\nParity, data, stop bits: 0\nAddress: 2\n",
         ""},
        {"read one", {"comm", "read"}, {"--addr", "3", "--addr-reg", "122"}, 0, "Address: 3\n", ""},
        {"write the largest value",
         {"comm", "write"},
         {"--addr", "4", "--baud-reg", "70", "--baud-val", "65535"},
         0,
         "The changes will take effect after restart of the sensor.\n",
         ""},
        {"70000 is refused, not written as 4464",
         {"comm", "write"},
         {"--addr", "4", "--baud-reg", "70", "--baud-val", "70000"},
         2,
         "",
         "Value out of range (0 to 65535)"},
        {"read it back",
         {"comm", "read"},
         {"--addr", "4", "--baud-reg", "70"},
         0,
         "Baud rate: 65535\n",
         ""},
        {"partial failure is a failure",
         {"comm", "write"},
         {"--addr", "4", "--baud-reg", "71", "--baud-val", "3", "--framing-reg", "2000",
          "--framing-val", "1"},
         1,
         "The changes will take effect after restart of the sensor.\n",
         "Parity, data, stop bits: Error writing data."},
        {"nothing written",
         {"comm", "write"},
         {"--addr", "9", "--addr-reg", "122", "--addr-val", "7"},
         1,
         "",
         "Error writing data."},
        {"a row that cannot be read",
         {"comm", "read"},
         {"--addr", "4", "--baud-reg", "120", "--framing-reg", "2000"},
         1,
         "Baud rate: 4\n",
         "Parity, data, stop bits: Error reading data."},
    };
    for (const TCase &c : cases) Check(c, Cli(c.Command, c.Args));
}

TEST_F(CliModbus, JsonCarriesTheSameFacts) {
    const TRunResult r = Cli(
        {"read"}, {"--addr", "4", "--reg", "1", "--type", "uint32", "--order", "LSWF"}, {"--json"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const auto j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j["command"], "read");
    EXPECT_EQ(j["ok"], true);
    EXPECT_EQ(j["value"], 16908545);
    EXPECT_EQ(j["text"], "16908545");
    EXPECT_EQ(j["registers"], nlohmann::json({0x0101, 0x0102}));
    EXPECT_EQ(j["order"], "LSWF");
    EXPECT_EQ(j["address"], 4);

    const TRunResult f = Cli({"read"}, {"--addr", "9", "--reg", "0"}, {"--json"});
    EXPECT_EQ(f.ExitCode, 1);
    const auto jf = nlohmann::json::parse(f.Out);
    EXPECT_EQ(jf["ok"], false);
    EXPECT_EQ(jf["exit_code"], 1);
    EXPECT_EQ(jf["error"], "Error reading data.");

    const TRunResult w =
        Cli({"comm", "write"}, {"--addr", "4", "--addr-reg", "72", "--addr-val", "9"}, {"--json"});
    ASSERT_EQ(w.ExitCode, 0) << w.Err;
    const auto jw = nlohmann::json::parse(w.Out);
    EXPECT_EQ(jw["address"], nlohmann::json({{"register", 72}, {"value", 9}, {"ok", true}}));
    EXPECT_EQ(jw["message"], "The changes will take effect after restart of the sensor.");
}

TEST_F(CliModbus, TraceShowsTheFramesOnTheWire) {
    const TRunResult r = Cli({"read"}, {"--addr", "1", "--reg", "0"}, {"--trace"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "256\n");
    const auto lines = SplitLines(r.Err);
    ASSERT_EQ(lines.size(), 2u) << r.Err;
    EXPECT_TRUE(lines[0].ends_with(" TX 01 03 00 00 00 01 84 0A")) << lines[0];
    EXPECT_TRUE(Contains(lines[1], " RX 01 03 02 01 00 ")) << lines[1];
    // Milliseconds since the start lead every line.
    EXPECT_GE(std::stod(lines[1]), std::stod(lines[0]));

    // A wait that got nothing is traced too.
    const TRunResult silent = Cli({"read"}, {"--addr", "9", "--reg", "0"}, {"--trace"});
    EXPECT_TRUE(Contains(silent.Err, " RX (none)")) << silent.Err;
}

TEST_F(CliModbus, PortInUseIsExitCode3) {
    TComPort holder;
    TLinkSettings held;
    held.Port = FSim->PtyPath();
    ASSERT_FALSE(holder.Open(held));
    const TRunResult r = Cli({"read"}, {"--addr", "1", "--reg", "0"}, {"--json"});
    EXPECT_EQ(r.ExitCode, 3);
    EXPECT_TRUE(Contains(r.Err, "Unable to open com port")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "in use by another program")) << r.Err;
    const auto j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j["exit_code"], 3);
    EXPECT_EQ(j["port"], FSim->PtyPath());
    holder.Close();
    // Released with the close: the next command gets the line.
    EXPECT_EQ(Cli({"read"}, {"--addr", "1", "--reg", "0"}).ExitCode, 0);
}

// A device's text reaches the terminal with its control characters shown,
// not obeyed; JSON carries it as it is (escaped by JSON itself).
TEST_F(CliModbus, DeviceTextCannotDriveTheTerminal) {
    const std::string text = "A\x1b]0;owned\x07\x1b[2JB";
    ASSERT_EQ(
        Cli({"write"}, {"--addr", "4", "--reg", "60", "--type", "string", "--count", "8", text})
            .ExitCode,
        0);
    const TRunResult r =
        Cli({"read"}, {"--addr", "4", "--reg", "60", "--type", "string", "--count", "8"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "A\\x1B]0;owned\\x07\\x1B[2JB\n");
    const TRunResult j = Cli(
        {"read"}, {"--addr", "4", "--reg", "60", "--type", "string", "--count", "8"}, {"--json"});
    ASSERT_EQ(j.ExitCode, 0) << j.Err;
    EXPECT_EQ(nlohmann::json::parse(j.Out)["value"], text);
}

// An adapter that goes away in the middle of a command is a port problem;
// what was done before it stays reported.
TEST(CliModbusLine, HangUpIsExitCode3) {
    TTempDir dir;
    const std::string settings = WriteTestSettings(dir);
    struct TCase {
        const char *Name;
        std::vector<std::string> Command;
        std::vector<std::string> Args;
        std::string Out;
        std::string Err;
    } cases[] = {
        {"comm read",
         {"comm", "read"},
         {"--addr", "1", "--baud-reg", "120", "--framing-reg", "121"},
         "Baud rate: 4\n",
         "Port Disconnected"},
        // The second request, the first vendor read, meets the hang-up.
        {"scan",
         {"scan"},
         {"--first", "2", "--last", "6"},
         "2\tN/A\tN/A\n",
         "Scanned: 1, found: 1"},
        // The text names what was written before the port was lost.
        {"comm write",
         {"comm", "write"},
         {"--addr", "1", "--baud-reg", "120", "--baud-val", "4", "--framing-reg", "121",
          "--framing-val", "0"},
         "Baud rate: written\nThe changes will take effect after restart of the sensor.\n",
         "Port Disconnected"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TSimProcess sim({"modbus", "--profiles", "--hangup-after", "1"});
        ASSERT_TRUE(sim.Start());
        std::vector<std::string> args = c.Command;
        args.insert(args.end(), {"--port", sim.PtyPath(), "--timeout", "1000"});
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const TRunResult r = RunCliWith(settings, args);
        EXPECT_EQ(r.ExitCode, 3) << r.Err;
        EXPECT_EQ(r.Out, c.Out);
        EXPECT_TRUE(Contains(r.Err, c.Err)) << r.Err;
        EXPECT_TRUE(Contains(r.Err, "Port Disconnected")) << r.Err;
    }
}

// A failure says why on the line after its message, and in JSON as
// "reason" (with "exception_code" for a sensor's refusal); the message
// itself stays the "error".
TEST_F(CliModbus, FailuresSayWhy) {
    const struct {
        const char *Name;
        std::vector<std::string> Command;
        std::vector<std::string> Args;
        std::string Err;  // standard error, whole
        std::string Reason;
        int Code;  // exception code, -1: none in the JSON
    } cases[] = {
        {"absent device",
         {"read"},
         {"--addr", "9", "--reg", "0"},
         "Error reading data.\nNo answer within the time-out\n",
         "No answer within the time-out",
         -1},
        {"unknown register",
         {"read"},
         {"--addr", "4", "--reg", "2000"},
         "Error reading data.\nModbus exception 2 (illegal data address)\n",
         "Modbus exception 2 (illegal data address)",
         2},
        {"wrong CRC",
         {"read"},
         {"--addr", "5", "--reg", "0"},
         "Error reading data.\nDamaged answer (CRC error)\n",
         "Damaged answer (CRC error)",
         -1},
        {"write to an unknown register",
         {"write"},
         {"--addr", "4", "--reg", "2000", "7"},
         "Error writing data.\nModbus exception 2 (illegal data address)\n",
         "Modbus exception 2 (illegal data address)",
         2},
        {"comm write nobody takes",
         {"comm", "write"},
         {"--addr", "9", "--addr-reg", "122", "--addr-val", "7"},
         "Error writing data.\nNo answer within the time-out\n",
         "No answer within the time-out",
         -1},
        {"comm read, one row refused",
         {"comm", "read"},
         {"--addr", "4", "--baud-reg", "120", "--framing-reg", "2000"},
         "Parity, data, stop bits: Error reading data.\n"
         "Parity, data, stop bits: Modbus exception 2 (illegal data address)\n",
         "Modbus exception 2 (illegal data address)",
         2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        const TRunResult r = Cli(c.Command, c.Args);
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_EQ(r.Err, c.Err);
        const TRunResult j = Cli(c.Command, c.Args, {"--json"});
        EXPECT_EQ(j.ExitCode, 1);
        const auto o = nlohmann::json::parse(j.Out);
        EXPECT_EQ(o["reason"], c.Reason);
        if (c.Code < 0)
            EXPECT_FALSE(o.contains("exception_code"));
        else
            EXPECT_EQ(o["exception_code"], c.Code);
    }
    // Each failed comm row carries its own reason.
    const TRunResult j =
        Cli({"comm", "read"}, {"--addr", "4", "--baud-reg", "120", "--framing-reg", "2000"},
            {"--json"});
    const auto o = nlohmann::json::parse(j.Out);
    EXPECT_EQ(o["framing"]["reason"], "Modbus exception 2 (illegal data address)");
    EXPECT_EQ(o["framing"]["exception_code"], 2);
    EXPECT_FALSE(o["baud"].contains("reason"));
    EXPECT_EQ(o["error"], "Parity, data, stop bits: Error reading data.");
}

// comm read and comm write without register options: the sample settings
// file describes the simulator's sensors, so their registers and the
// meanings of their values come from it.
TEST_F(CliModbus, CommRegistersFromTheSettingsFile) {
    const std::string sample =
        std::string(VELDRA_SOURCE_DIR) + "/packaging/veldra-update.ini.sample";
    // veldra-cli [GLOBAL] comm SUB --port <pty> ARGS... reading Settings.
    auto cli = [](const std::string &Settings, const std::vector<std::string> &Command,
                  const std::vector<std::string> &Args,
                  const std::vector<std::string> &Global = {}) {
        std::vector<std::string> all = Global;
        all.push_back("comm");
        all.insert(all.end(), Command.begin(), Command.end());
        all.insert(all.end(), {"--port", FSim->PtyPath(), "--timeout", "1000"});
        all.insert(all.end(), Args.begin(), Args.end());
        return RunCliWith(Settings, all);
    };
    const TCase cases[] = {
        {"read by name",
         {"read"},
         {"--addr", "1"},
         0,
         "Sensor: 7 (0x00000007) Probe A (registers from the settings file)\n"
         "Baud rate: 4 (19200 baud)\nParity, data, stop bits: 0 (8E1)\nAddress: 1\n",
         ""},
        {"a kind the file does not name",
         {"read"},
         {"--addr", "3"},
         0,
         "Sensor: 3100 (registers from the settings file)\n"
         "Baud rate: 4 (19200 baud)\nParity, data, stop bits: 0 (8E1)\nAddress: 3\n",
         ""},
        {"registers given: as before, no meanings",
         {"read"},
         {"--addr", "3", "--baud-reg", "120"},
         0,
         "Baud rate: 4\n",
         ""},
        {"write by name",
         {"write"},
         {"--addr", "3", "--baud-val", "6", "--framing-val", "3"},
         0,
         "Sensor: 3100 (registers from the settings file)\n"
         "Baud rate: 6 (57600 baud)\nParity, data, stop bits: 3 (8N1)\n"
         "The changes will take effect after restart of the sensor.\n",
         ""},
        {"what was written",
         {"read"},
         {"--addr", "3", "--baud-reg", "120", "--framing-reg", "121"},
         0,
         "Baud rate: 6\nParity, data, stop bits: 3\n",
         ""},
        {"a register given and one from the file",
         {"write"},
         {"--addr", "3", "--baud-val", "4", "--framing-reg", "121", "--framing-val", "0"},
         0,
         "Sensor: 3100 (registers from the settings file)\nBaud rate: 4 (19200 baud)\n"
         "Parity, data, stop bits: 0 (8E1)\n"
         "The changes will take effect after restart of the sensor.\n",
         ""},
        {"a device of no known kind",
         {"read"},
         {"--addr", "4"},
         2,
         "",
         "at address 4, so its registers are not known: give at least one of --baud-reg, "
         "--framing-reg and --addr-reg"},
        {"nobody at the address",
         {"write"},
         {"--addr", "9", "--framing-val", "1"},
         2,
         "",
         "give --framing-reg"},
        {"a value out of range is refused before any traffic",
         {"write"},
         {"--addr", "3", "--baud-val", "70000"},
         2,
         "",
         "--baud-val 70000: Value out of range (0 to 65535)"},
    };
    for (const TCase &c : cases) Check(c, cli(sample, c.Command, c.Args));

    // A file without comm sections: the usage errors of before, no traffic.
    const TRunResult none = cli(FSettings, {"read"}, {"--addr", "1"});
    EXPECT_EQ(none.ExitCode, 2);
    EXPECT_TRUE(Contains(none.Err, "Give at least one of --baud-reg, --framing-reg and --addr-reg"))
        << none.Err;
    const TRunResult noReg = cli(FSettings, {"write"}, {"--addr", "1", "--baud-val", "4"});
    EXPECT_EQ(noReg.ExitCode, 2);
    EXPECT_TRUE(Contains(noReg.Err, "Give --baud-reg (the settings file describes no sensor's"))
        << noReg.Err;

    // JSON: the fields of before, the sensor and each value's meaning added.
    const TRunResult read = cli(sample, {"read"}, {"--addr", "2"}, {"--json"});
    ASSERT_EQ(read.ExitCode, 0) << read.Err;
    const auto r = nlohmann::json::parse(read.Out);
    EXPECT_EQ(r["sensor_id"], 1042);
    EXPECT_EQ(r["device_code"], "1042 (0x00000412) Probe B");
    EXPECT_EQ(r["registers_from"], "settings file");
    EXPECT_EQ(r["baud"],
              (nlohmann::json{{"register", 120}, {"value", 4}, {"meaning", "19200 baud"}}));
    EXPECT_EQ(r["framing"], (nlohmann::json{{"register", 121}, {"value", 0}, {"meaning", "8E1"}}));
    EXPECT_EQ(r["address"], (nlohmann::json{{"register", 122}, {"value", 2}}));
    const TRunResult write =
        cli(sample, {"write"}, {"--addr", "2", "--framing-val", "0"}, {"--json"});
    ASSERT_EQ(write.ExitCode, 0) << write.Err;
    const auto w = nlohmann::json::parse(write.Out);
    EXPECT_EQ(w["framing"],
              (nlohmann::json{{"register", 121}, {"value", 0}, {"ok", true}, {"meaning", "8E1"}}));
    EXPECT_FALSE(w.contains("baud"));
    EXPECT_EQ(w["message"], "The changes will take effect after restart of the sensor.");
    const TRunResult unknown = cli(sample, {"read"}, {"--addr", "4"}, {"--json"});
    EXPECT_EQ(unknown.ExitCode, 2);
}

}  // namespace
