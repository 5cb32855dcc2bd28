// The command line's own rules: usage errors (exit 2) found before any port
// is opened, help and version, ports that cannot be opened (exit 3), and
// the port list.
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "CliTestUtil.h"
#include "Version.h"

namespace {

// A path that cannot be opened: had a command opened the port before
// checking its arguments, it would end with exit code 3, not 2.
const std::string CNoPort = "/nonexistent/ttyX";

TEST(CliUsage, BadArgumentsAreUsageErrorsBeforeThePortIsOpened) {
    TTempDir dir;
    const std::string settings = WriteTestSettings(dir);
    const std::vector<std::string> p{"--port", CNoPort};
    struct TCase {
        const char *Name;
        std::vector<std::string> Args;
        std::string Err;
    } cases[] = {
        {"no command", {}, "A subcommand is required"},
        {"unknown command", {"erase"}, "Unknown command: erase"},
        {"unknown comm command", {"comm", "erase", "--port", CNoPort}, "Unknown command: erase"},
        {"address 0", {"read", "--port", CNoPort, "--addr", "0", "--reg", "1"}, "--addr"},
        {"address 248", {"read", "--port", CNoPort, "--addr", "248", "--reg", "1"}, "--addr"},
        {"register below 0", {"read", "--port", CNoPort, "--addr", "1", "--reg", "-1"}, "--reg"},
        {"register above 65535",
         {"write", "--port", CNoPort, "--addr", "1", "--reg", "65536", "1"},
         "--reg"},
        {"unknown type",
         {"read", "--port", CNoPort, "--addr", "1", "--reg", "1", "--type", "double"},
         "--type"},
        {"unknown order",
         {"read", "--port", CNoPort, "--addr", "1", "--reg", "1", "--order", "BE"},
         "--order"},
        {"count of a fixed-size type",
         {"read", "--port", CNoPort, "--addr", "1", "--reg", "1", "--type", "float", "--count",
          "4"},
         "always uses 2 registers"},
        {"writing inputs",
         {"write", "--port", CNoPort, "--addr", "1", "--reg", "1", "--type", "bit", "1"},
         "only be read"},
        {"write without value", {"write", "--port", CNoPort, "--addr", "1", "--reg", "1"}, "VALUE"},
        {"empty value",
         {"write", "--port", CNoPort, "--addr", "1", "--reg", "1", ""},
         "Value not specified"},
        {"missing port", {"read", "--addr", "1", "--reg", "1"}, "--port"},
        {"unknown bit rate",
         {"read", "--port", CNoPort, "--addr", "1", "--reg", "1", "--baud", "12345"},
         "--baud"},
        {"unknown parity", {"scan", "--port", CNoPort, "--parity", "mark"}, "--parity"},
        {"stop bits 1.5", {"scan", "--port", CNoPort, "--stop-bits", "1.5"}, "--stop-bits"},
        {"first above last",
         {"scan", "--port", CNoPort, "--first", "5", "--last", "4"},
         "Invalid addresses"},
        {"comm read of nothing", {"comm", "read", "--port", CNoPort, "--addr", "1"}, "--baud-reg"},
        {"register without value",
         {"comm", "write", "--port", CNoPort, "--addr", "1", "--baud-reg", "4"},
         "--baud-val"},
        {"value without register",
         {"comm", "write", "--port", CNoPort, "--addr", "1", "--framing-val", "4"},
         "--framing-reg"},
        {"address value out of range",
         {"comm", "write", "--port", CNoPort, "--addr", "1", "--addr-reg", "6", "--addr-val",
          "248"},
         "--addr-val"},
        {"same port twice",
         {"flash", "--port", CNoPort, "--port", CNoPort, "--yes", "x.cod"},
         "more than once"},
        {"flash without file", {"flash", "--port", CNoPort}, "FILE"},
        {"missing settings file", {"--settings", "/nonexistent.ini", "ports"}, "--settings"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const TRunResult r = RunCliWith(settings, c.Args);
        EXPECT_EQ(r.ExitCode, 2) << r.Err;
        EXPECT_EQ(r.Out, "");
        EXPECT_TRUE(Contains(r.Err, c.Err)) << r.Err;
        EXPECT_TRUE(Contains(r.Err, "Usage:")) << r.Err;
    }
}

// A value no register of its type holds, and a count no request carries,
// are refused with the range or the limit before the port is opened: never
// written wrapped (70000 as 4464) nor failing after the port was opened.
// Values and counts just inside get as far as the port (exit 3).
TEST(CliUsage, ValuesAndCountsBeyondTheirLimitsAreRefusedBeforeThePort) {
    TTempDir dir;
    const std::string settings = WriteTestSettings(dir);
    auto Write = [](const char *Type, const char *Value) {
        return std::vector<std::string>{"write", "--port", CNoPort, "--addr", "1",  "--reg",
                                        "1",     "--type", Type,    "--",     Value};
    };
    auto Read = [](const char *Type, const char *Count) {
        return std::vector<std::string>{"read", "--port", CNoPort, "--addr",  "1",  "--reg",
                                        "1",    "--type", Type,    "--count", Count};
    };
    auto Comm = [](const char *Row, const char *Value) {
        return std::vector<std::string>{"comm",
                                        "write",
                                        "--port",
                                        CNoPort,
                                        "--addr",
                                        "1",
                                        std::string("--") + Row + "-reg",
                                        "4",
                                        std::string("--") + Row + "-val",
                                        Value};
    };
    struct TCase {
        const char *Name;
        std::vector<std::string> Args;
        int Exit;
        std::string Err;  // for exit 2
    } cases[] = {
        {"int 70000", Write("int", "70000"), 2, "(-32768 to 32767)"},
        {"int 32768", Write("int", "32768"), 2, "(-32768 to 32767)"},
        {"int -32769", Write("int", "-32769"), 2, "(-32768 to 32767)"},
        {"int -32768", Write("int", "-32768"), 3, ""},
        {"int 32767.9 (cut toward zero)", Write("int", "32767.9"), 3, ""},
        {"uint16 -1", Write("uint16", "-1"), 2, "(0 to 65535)"},
        {"uint16 65536", Write("uint16", "65536"), 2, "(0 to 65535)"},
        {"uint16 65535", Write("uint16", "65535"), 3, ""},
        {"BCD 10000", Write("BCD", "10000"), 2, "(0 to 9999)"},
        {"BCD 70000", Write("BCD", "70000"), 2, "(0 to 9999)"},
        {"BCD 9999.5 (rounds to 10000)", Write("BCD", "9999.5"), 2, "(0 to 9999)"},
        {"BCD 9999", Write("BCD", "9999"), 3, ""},
        {"uint32 4294967296", Write("uint32", "4294967296"), 2, "(0 to 4294967295)"},
        {"uint32 -1", Write("uint32", "-1"), 2, "(0 to 4294967295)"},
        {"uint32 4294967295", Write("uint32", "4294967295"), 3, ""},
        {"float inf", Write("float", "inf"), 2, "Floating point overflow"},
        {"float nan", Write("float", "nan"), 2, "Invalid floating point operation"},
        {"float 3e38", Write("float", "3e38"), 3, ""},
        {"comm baud 70000", Comm("baud", "70000"), 2,
         "--baud-val 70000: Value out of range (0 to 65535)"},
        {"comm framing -1", Comm("framing", "-1"), 2,
         "--framing-val -1: Value out of range (0 to 65535)"},
        {"comm baud 65535", Comm("baud", "65535"), 3, ""},
        {"read 126 string registers", Read("string", "126"), 2,
         "--count: at most 125 registers per read"},
        {"read 125 string registers", Read("string", "125"), 3, ""},
        {"read 2001 inputs", Read("bit", "2001"), 2, "--count: at most 2000 inputs per read"},
        {"read 2000 inputs", Read("bit", "2000"), 3, ""},
        {"write 124 string registers",
         {"write", "--port", CNoPort, "--addr", "1", "--reg", "1", "--type", "string", "--count",
          "124", "AB"},
         2,
         "--count: at most 123 registers per write"},
        {"write 123 string registers",
         {"write", "--port", CNoPort, "--addr", "1", "--reg", "1", "--type", "string", "--count",
          "123", "AB"},
         3,
         ""},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const TRunResult r = RunCliWith(settings, c.Args);
        EXPECT_EQ(r.ExitCode, c.Exit) << r.Err;
        if (c.Exit != 2) continue;
        EXPECT_EQ(r.Out, "");
        EXPECT_TRUE(Contains(r.Err, c.Err)) << r.Err;
        EXPECT_TRUE(Contains(r.Err, "Usage:")) << r.Err;
        // With --json the refusal is the same usage error (no object, as
        // for the other usage errors).
        std::vector<std::string> json{"--json"};
        json.insert(json.end(), c.Args.begin(), c.Args.end());
        const TRunResult j = RunCliWith(settings, json);
        EXPECT_EQ(j.ExitCode, 2) << j.Err;
        EXPECT_EQ(j.Out, "");
        EXPECT_TRUE(Contains(j.Err, c.Err)) << j.Err;
    }
}

TEST(CliUsage, HelpAndVersion) {
    // The version, then the settings file (see CliSettingsTest.cpp).
    const TRunResult v = RunProgram({VELDRA_CLI_PATH, "--version"});
    EXPECT_EQ(v.ExitCode, 0);
    EXPECT_EQ(v.Out.substr(0, v.Out.find('\n') + 1), std::string(veldra::kVersion) + "\n");
    EXPECT_TRUE(Contains(v.Out, "\nSettings: ")) << v.Out;

    for (const std::vector<std::string> &cmd : std::vector<std::vector<std::string>>{
             {"--help"}, {"read", "--help"}, {"comm", "write", "--help"}, {"flash", "--help"}}) {
        std::vector<std::string> argv{VELDRA_CLI_PATH};
        argv.insert(argv.end(), cmd.begin(), cmd.end());
        const TRunResult h = RunProgram(argv);
        EXPECT_EQ(h.ExitCode, 0) << cmd[0];
        EXPECT_TRUE(Contains(h.Out, "Usage:")) << h.Out;
    }
}

TEST(CliUsage, PortThatCannotBeOpenedIsExitCode3) {
    TTempDir dir;
    const std::string settings = WriteTestSettings(dir);
    const std::vector<std::vector<std::string>> commands{
        {"identify", "--port", CNoPort},
        {"scan", "--port", CNoPort, "--first", "1", "--last", "1"},
        {"read", "--port", CNoPort, "--addr", "1", "--reg", "0"},
        {"write", "--port", CNoPort, "--addr", "1", "--reg", "0", "1"},
        {"comm", "read", "--port", CNoPort, "--addr", "1", "--baud-reg", "4"},
        {"comm", "write", "--port", CNoPort, "--addr", "1", "--baud-reg", "4", "--baud-val", "1"},
    };
    for (const auto &cmd : commands) {
        SCOPED_TRACE(cmd[0]);
        const TRunResult r = RunCliWith(settings, cmd);
        EXPECT_EQ(r.ExitCode, 3) << r.Err;
        EXPECT_TRUE(Contains(
            r.Err, CNoPort + ": Unable to open com port (Error: 2) - No such file or directory"))
            << r.Err;
        EXPECT_FALSE(Contains(r.Err, "dialout"));
    }
}

TEST(CliUsage, GlobalOptionsMayFollowTheCommand) {
    TTempDir dir;
    const std::string settings = WriteTestSettings(dir);
    const TRunResult r = RunCliWith(settings, {"info", "--json", dir.File("none.cod")});
    EXPECT_EQ(r.ExitCode, 1);
    const auto j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j["command"], "info");
    EXPECT_EQ(j["ok"], false);
    EXPECT_EQ(j["error"], dir.File("none.cod") + ": No such file or directory");
}

TEST(CliUsage, PermissionErrorTellsHowToGetAccess) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv missing";
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    // The pseudo-terminal belongs to this (root) user and its group; an
    // unprivileged user may not open it.
    ASSERT_EQ(chmod(name, 0660), 0);
    struct stat st {};
    ASSERT_EQ(stat(name, &st), 0);
    const TRunResult r = RunProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", VELDRA_CLI_PATH, "--json", "read", "--port",
                                     name, "--addr", "1", "--reg", "0"});
    close(slave);
    close(master);
    if (r.ExitCode == 127 || Contains(r.Err, "setpriv:")) GTEST_SKIP() << r.Err;
    EXPECT_EQ(r.ExitCode, 3) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "Permission denied")) << r.Err;
    // The hint names the group the device belongs to ("tty" for a
    // pseudo-terminal), not "dialout" whatever the device.
    const struct group *g = getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    if (st.st_gid != 0) {
        EXPECT_TRUE(Contains(r.Err, std::string("usermod -aG ") + g->gr_name + " ")) << r.Err;
    } else {
        EXPECT_TRUE(Contains(r.Err, "belongs to the group 'root'")) << r.Err;
    }
    if (std::string(g->gr_name) != "dialout") {
        EXPECT_FALSE(Contains(r.Err, "dialout")) << r.Err;
    }
    const auto j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j["errno"], EACCES);
}

TEST(CliUsage, PortsListsVirtualPortsInNaturalOrder) {
    TTempDir dir;
    const std::string settings = WriteTestSettings(dir);
    const std::string a = dir.Write("ttyV10", ""), b = dir.Write("ttyV9", "");
    const TRunResult r = RunCliWith(settings, {"ports"}, "", {"VELDRA_EXTRA_PORTS=" + a + ":" + b});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const auto lines = SplitLines(r.Out);
    const auto pa = std::find(lines.begin(), lines.end(), a + "\tVirtual port (" + a + ")");
    const auto pb = std::find(lines.begin(), lines.end(), b + "\tVirtual port (" + b + ")");
    ASSERT_NE(pa, lines.end()) << r.Out;
    ASSERT_NE(pb, lines.end()) << r.Out;
    EXPECT_LT(pb - lines.begin(), pa - lines.begin());

    const TRunResult j = RunCliWith(settings, {"--json", "ports"}, "", {"VELDRA_EXTRA_PORTS=" + a});
    ASSERT_EQ(j.ExitCode, 0);
    const auto ports = nlohmann::json::parse(j.Out)["ports"];
    EXPECT_TRUE(std::any_of(ports.begin(), ports.end(), [&](const nlohmann::json &p) {
        return p["device_id"] == a && p["description"] == "Virtual port (" + a + ")";
    })) << j.Out;
}

}  // namespace
