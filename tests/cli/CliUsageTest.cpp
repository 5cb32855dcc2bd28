// The command line's own rules: usage errors (exit 2) found before any port
// is opened, help and version, ports that cannot be opened (exit 3), and
// the port list.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <pty.h>
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
        {"register above 65535", {"write", "--port", CNoPort, "--addr", "1", "--reg", "65536", "1"}, "--reg"},
        {"unknown type", {"read", "--port", CNoPort, "--addr", "1", "--reg", "1", "--type", "double"}, "--type"},
        {"unknown order", {"read", "--port", CNoPort, "--addr", "1", "--reg", "1", "--order", "BE"}, "--order"},
        {"count of a fixed-size type", {"read", "--port", CNoPort, "--addr", "1", "--reg", "1", "--type", "float", "--count", "4"},
         "always uses 2 registers"},
        {"writing inputs", {"write", "--port", CNoPort, "--addr", "1", "--reg", "1", "--type", "bit", "1"}, "only be read"},
        {"write without value", {"write", "--port", CNoPort, "--addr", "1", "--reg", "1"}, "VALUE"},
        {"empty value", {"write", "--port", CNoPort, "--addr", "1", "--reg", "1", ""}, "Value not specified"},
        {"missing port", {"read", "--addr", "1", "--reg", "1"}, "--port"},
        {"unknown bit rate", {"read", "--port", CNoPort, "--addr", "1", "--reg", "1", "--baud", "12345"}, "--baud"},
        {"unknown parity", {"scan", "--port", CNoPort, "--parity", "mark"}, "--parity"},
        {"stop bits 1.5", {"scan", "--port", CNoPort, "--stop-bits", "1.5"}, "--stop-bits"},
        {"first above last", {"scan", "--port", CNoPort, "--first", "5", "--last", "4"}, "Invalid addresses"},
        {"comm read of nothing", {"comm", "read", "--port", CNoPort, "--addr", "1"}, "--baud-reg"},
        {"register without value", {"comm", "write", "--port", CNoPort, "--addr", "1", "--baud-reg", "4"}, "--baud-val"},
        {"value without register", {"comm", "write", "--port", CNoPort, "--addr", "1", "--framing-val", "4"},
         "--framing-reg"},
        {"address value out of range", {"comm", "write", "--port", CNoPort, "--addr", "1", "--addr-reg", "6", "--addr-val", "248"},
         "--addr-val"},
        {"same port twice", {"flash", "--port", CNoPort, "--port", CNoPort, "--yes", "x.cod"}, "more than once"},
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
        EXPECT_TRUE(Contains(r.Err, CNoPort + ": Unable to open com port (Error: 2) - No such file or directory"))
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
    struct stat st{};
    ASSERT_EQ(stat(name, &st), 0);
    const TRunResult r = RunProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                     VELDRA_CLI_PATH, "--json", "read", "--port", name, "--addr", "1", "--reg", "0"});
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
