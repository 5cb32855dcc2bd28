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

// A usage error names the mistake, shows the command's usage line with the
// program's name and points to that command's help, without the whole help.
TEST(CliUsage, UsageErrorsShowTheUsageLineAndPointToTheHelp) {
    TTempDir dir;
    const std::string settings = WriteTestSettings(dir);
    struct TCase {
        const char *Name;
        std::vector<std::string> Args;
        std::string Usage, Try;
    } cases[] = {
        {"no command", {}, "Usage: veldra-cli [OPTIONS] SUBCOMMAND", "veldra-cli"},
        {"missing address",
         {"read", "-p", CNoPort, "-r", "1"},
         "Usage: veldra-cli read -p PORT -a ADDR -r REG [OPTIONS]",
         "veldra-cli read"},
        {"refused after parsing",
         {"scan", "--port", CNoPort, "--first", "5", "--last", "4"},
         "Usage: veldra-cli scan -p PORT [OPTIONS]",
         "veldra-cli scan"},
        {"comm without its command",
         {"comm"},
         "Usage: veldra-cli comm [OPTIONS] SUBCOMMAND",
         "veldra-cli comm"},
        {"comm write",
         {"comm", "write", "--port", CNoPort, "--addr", "1", "--baud-reg", "4"},
         "Usage: veldra-cli comm write -p PORT -a ADDR [OPTIONS]",
         "veldra-cli comm write"},
        {"flash",
         {"flash", "x.cod"},
         "Usage: veldra-cli flash -p PORT [-p PORT]... [OPTIONS] FILE",
         "veldra-cli flash"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const TRunResult r = RunCliWith(settings, c.Args);
        EXPECT_EQ(r.ExitCode, 2) << r.Err;
        const auto lines = SplitLines(r.Err);
        ASSERT_EQ(lines.size(), 3u) << r.Err;
        EXPECT_EQ(lines[1], c.Usage);
        EXPECT_EQ(lines[2], "Try '" + c.Try + " --help'.");
    }
}

// The help says what to type in words: the forms of --port, placeholders,
// "required" and the defaults, not the parser's types and checks.
TEST(CliUsage, HelpIsFreeOfTheParsersTypeAnnotations) {
    for (const std::vector<std::string> &cmd : std::vector<std::vector<std::string>>{
             {}, {"identify"}, {"flash"}, {"scan"}, {"read"}, {"write"}, {"comm", "write"}}) {
        std::vector<std::string> argv{VELDRA_CLI_PATH};
        argv.insert(argv.end(), cmd.begin(), cmd.end());
        argv.push_back("--help");
        const TRunResult h = RunProgram(argv);
        SCOPED_TRACE(h.Out);
        ASSERT_EQ(h.ExitCode, 0);
        for (const char *noise : {" TEXT", " INT", "REQUIRED", ":{", " in [", "Needs:", ":FILE"})
            EXPECT_FALSE(Contains(h.Out, noise)) << noise;
        for (const std::string &line : SplitLines(h.Out)) EXPECT_LE(line.size(), 100u) << line;
        if (cmd.empty()) continue;
        for (const char *form : {"/dev/ttyUSB0", "ttyUSB0", "rfc2217://HOST:PORT",
                                 "tcp://HOST:PORT", "modbus-tcp://HOST[:PORT]"})
            EXPECT_TRUE(Contains(h.Out, form)) << form;
        EXPECT_TRUE(Contains(h.Out, "-p,--port PORT")) << "short option and placeholder";
    }
    const TRunResult read = RunProgram({VELDRA_CLI_PATH, "read", "--help"});
    for (const char *part : {"(required)", "(default 19200)", "(default even)", "-o,--timeout MS",
                             "-P,--parity PARITY", "-t,--type TYPE", "-c,--count N", "-r,--reg REG",
                             "-a,--addr ADDR", "-b,--baud RATE", "115200"})
        EXPECT_TRUE(Contains(read.Out, part)) << part << "\n" << read.Out;
    const TRunResult comm = RunProgram({VELDRA_CLI_PATH, "comm", "write", "--help"});
    EXPECT_TRUE(Contains(comm.Out, "(with --baud-val)")) << comm.Out;
}

// Each short option stands for its long one: the same command line either
// way gives the same result (here the JSON of a port that cannot be opened,
// which holds the line settings and the register plan).
TEST(CliUsage, ShortOptionsMeanTheirLongOnes) {
    TTempDir dir;
    const std::string settings = WriteTestSettings(dir);
    const struct {
        std::vector<std::string> Short, Long;
    } cases[] = {
        {{"read", "-p", CNoPort, "-a", "7", "-r", "40", "-t", "string", "-c", "3", "-b", "9600",
          "-P", "none", "-o", "700"},
         {"read", "--port", CNoPort, "--addr", "7", "--reg", "40", "--type", "string", "--count",
          "3", "--baud", "9600", "--parity", "none", "--timeout", "700"}},
        {{"write", "-p", CNoPort, "-a", "2", "-r", "3", "-t", "uint16", "5"},
         {"write", "--port", CNoPort, "--addr", "2", "--reg", "3", "--type", "uint16", "5"}},
        {{"scan", "-p", CNoPort, "-b", "57600", "-P", "odd", "-o", "300"},
         {"scan", "--port", CNoPort, "--baud", "57600", "--parity", "odd", "--timeout", "300"}},
        {{"comm", "read", "-p", CNoPort, "-a", "9", "--baud-reg", "4", "-b", "4800"},
         {"comm", "read", "--port", CNoPort, "--addr", "9", "--baud-reg", "4", "--baud", "4800"}},
        {{"identify", "-p", CNoPort}, {"identify", "--port", CNoPort}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Long[0]);
        std::vector<std::string> s{"--json"}, l{"--json"};
        s.insert(s.end(), c.Short.begin(), c.Short.end());
        l.insert(l.end(), c.Long.begin(), c.Long.end());
        const TRunResult rs = RunCliWith(settings, s), rl = RunCliWith(settings, l);
        EXPECT_EQ(rs.ExitCode, 3) << rs.Err;
        EXPECT_EQ(rs.ExitCode, rl.ExitCode);
        ASSERT_FALSE(rs.Out.empty()) << rs.Err;
        EXPECT_EQ(nlohmann::json::parse(rs.Out), nlohmann::json::parse(rl.Out));
    }
    // A short option's value is checked as the long one's, and named so.
    const TRunResult bad = RunCliWith(settings, {"read", "-p", CNoPort, "-a", "0", "-r", "1"});
    EXPECT_EQ(bad.ExitCode, 2);
    EXPECT_TRUE(Contains(bad.Err, "--addr")) << bad.Err;
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
