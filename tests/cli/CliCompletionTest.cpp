// The bash completion of veldra-cli (packaging/veldra-cli.bash-completion),
// run by bash with bash-completion's helpers as an interactive shell runs
// it: the words of the line split as bash splits them, the completion
// function called, COMPREPLY read back. Its option lists are checked
// against the real --help, so that a new option cannot be left out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <set>

#include "CliTestUtil.h"

namespace {

const std::string CHelpers = "/usr/share/bash-completion/bash_completion";

// The words of a command line as bash hands them to a completion function:
// split at blanks, and the characters of COMP_WORDBREAKS that are no blanks
// ('"'"'><=;|&(:) as words of their own. A line ending in a blank has an
// empty last word.
std::vector<std::string> CompWords(const std::string &Line) {
    static const std::string breaks = "\"'><=;|&(:";
    std::vector<std::string> words;
    std::string word;
    bool inBreak = false;
    auto flush = [&] {
        if (!word.empty()) words.push_back(word);
        word.clear();
    };
    for (char c : Line) {
        if (c == ' ') {
            flush();
            continue;
        }
        const bool isBreak = breaks.find(c) != std::string::npos;
        if (!word.empty() && isBreak != inBreak) flush();
        inBreak = isBreak;
        word += c;
    }
    flush();
    if (Line.empty() || Line.back() == ' ') words.emplace_back();
    return words;
}

// What completing the end of Line offers, with veldra-cli the built one.
std::set<std::string> Complete(const std::string &Line, const std::vector<std::string> &Env = {}) {
    std::vector<std::string> words = CompWords(Line);
    if (words.front() == "veldra-cli") words.front() = VELDRA_CLI_PATH;
    std::string line = Line;
    if (line.rfind("veldra-cli", 0) == 0) line.replace(0, 10, VELDRA_CLI_PATH);
    const std::string script =
        "source " + CHelpers + " || exit 99\n" + "source " + std::string(VELDRA_SOURCE_DIR) +
        "/packaging/veldra-cli.bash-completion || exit 98\n"
        "COMP_LINE=$1; shift; COMP_POINT=${#COMP_LINE}\n"
        "COMP_WORDS=(\"$@\"); COMP_CWORD=$(( $# - 1 ))\n"
        "_veldra_cli \"$1\" \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\"\n"
        "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    std::vector<std::string> argv{"/bin/bash", "-c", script, "bash", line};
    argv.insert(argv.end(), words.begin(), words.end());
    const TRunResult r = RunProgram(argv, "", Env);
    EXPECT_EQ(r.ExitCode, 0) << Line << "\n" << r.Err;
    std::set<std::string> offered;
    for (const std::string &w : SplitLines(r.Out))
        if (!w.empty()) offered.insert(w);
    return offered;
}

// The options a command's --help names: long ones, and the short ones of
// its "-p,--port" lines.
std::set<std::string> HelpOptions(const std::vector<std::string> &Command) {
    std::vector<std::string> argv{VELDRA_CLI_PATH};
    argv.insert(argv.end(), Command.begin(), Command.end());
    argv.push_back("--help");
    const TRunResult r = RunProgram(argv);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    std::set<std::string> options;
    static const std::regex longOption("--[A-Za-z0-9][A-Za-z0-9-]*");
    for (std::sregex_iterator it(r.Out.begin(), r.Out.end(), longOption), end; it != end; ++it)
        options.insert(it->str());
    static const std::regex shortOption(R"((?:^|\n)\s+(-[A-Za-z]),--)");
    for (std::sregex_iterator it(r.Out.begin(), r.Out.end(), shortOption), end; it != end; ++it)
        options.insert((*it)[1].str());
    return options;
}

class CliCompletion : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(CHelpers.c_str(), R_OK) != 0)
            GTEST_SKIP() << "bash-completion is not installed (" << CHelpers << ")";
    }
};

TEST_F(CliCompletion, OffersCommandsAndTheValuesOfListOptions) {
    const struct {
        const char *Line;
        std::set<std::string> Expected;
    } cases[] = {
        {"veldra-cli ",
         {"ports", "info", "identify", "flash", "station", "history", "scan", "find", "watch",
          "read", "write", "comm"}},
        {"veldra-cli --json ",
         {"ports", "info", "identify", "flash", "station", "history", "scan", "find", "watch",
          "read", "write", "comm"}},
        {"veldra-cli station --interval ", {}},
        {"veldra-cli i", {"info", "identify"}},
        {"veldra-cli comm ", {"read", "write"}},
        {"veldra-cli read --p", {"--port", "--parity"}},
        {"veldra-cli comm write --f", {"--framing-reg", "--framing-val"}},
        {"veldra-cli read -b 1152", {"115200"}},
        {"veldra-cli read --baud=192", {"19200"}},
        {"veldra-cli scan -P ", {"none", "even", "odd"}},
        {"veldra-cli scan --stop-bits ", {"1", "2"}},
        {"veldra-cli write -t u", {"uint16", "uint32"}},
        {"veldra-cli read --order ", {"MSWF", "LSWF"}},
        // Numbers: nothing to offer (not the commands, not files).
        {"veldra-cli read -a ", {}},
        {"veldra-cli find --bauds ", {}},
        {"veldra-cli watch --interval ", {}},
        {"veldra-cli comm write --baud-val ", {}},
        {"veldra-cli history --result f", {"failed"}},
        {"veldra-cli history --sensor ", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Line);
        EXPECT_EQ(Complete(c.Line), c.Expected);
    }
}

// Every option of every command's --help is offered after that command,
// and nothing else: the completion's lists follow the parser.
TEST_F(CliCompletion, OffersExactlyTheOptionsOfTheHelp) {
    const std::vector<std::vector<std::string>> commands{
        {},          {"ports"},   {"info"},         {"identify"},      {"flash"},
        {"station"}, {"history"}, {"scan"},         {"find"},          {"watch"},
        {"read"},    {"write"},   {"comm", "read"}, {"comm", "write"}, {"comm"}};
    for (const auto &command : commands) {
        std::string line = "veldra-cli ";
        for (const std::string &w : command) line += w + " ";
        SCOPED_TRACE(line);
        EXPECT_EQ(Complete(line + "-"), HelpOptions(command));
    }
}

// Port names: the local ports that discovery lists and the [PORTS] entries
// of the settings file named on the line (by URL, what --port takes); a
// URL's colons do not break the word.
TEST_F(CliCompletion, OffersThePortsOfDiscoveryAndOfTheSettingsFile) {
    TTempDir dir;
    const std::string settings = dir.Write("ports.ini",
                                           "[PORTS]\nCabinet 3=rfc2217://127.0.0.1:2001\n"
                                           "Pump house=modbus-tcp://127.0.0.1\n");
    const std::string local = dir.Write("ttyV7", "");
    const std::vector<std::string> env{"VELDRA_EXTRA_PORTS=" + local};

    const std::set<std::string> all =
        Complete("veldra-cli --settings " + settings + " read -p ", env);
    for (const std::string &port :
         {local, std::string("rfc2217://127.0.0.1:2001"), std::string("modbus-tcp://127.0.0.1")})
        EXPECT_TRUE(all.count(port)) << port << " not offered";

    // After the command, and for flash too.
    EXPECT_TRUE(Complete("veldra-cli flash --settings=" + settings + " --port ", env).count(local));
    EXPECT_EQ(Complete("veldra-cli identify -p " + dir.File("ttyV"), env),
              std::set<std::string>{local});
    EXPECT_EQ(Complete("veldra-cli scan --settings " + settings + " -p rfc", env),
              std::set<std::string>{"rfc2217://127.0.0.1:2001"});
    // Past a colon, bash replaces only what follows the word's last colon.
    EXPECT_EQ(Complete("veldra-cli scan --settings " + settings + " -p rfc2217://127", env),
              std::set<std::string>{"//127.0.0.1:2001"});
    EXPECT_EQ(Complete("veldra-cli read --settings " + settings + " -p modbus-tcp:", env),
              std::set<std::string>{"//127.0.0.1"});
    // Without that settings file, no network port.
    EXPECT_EQ(Complete("veldra-cli read -p rfc", env), std::set<std::string>{});
}

// Firmware files: .cod (any letter case) and folders to look into, nothing
// else; the settings file: any file.
TEST_F(CliCompletion, OffersFirmwareFilesAndFolders) {
    TTempDir dir;
    const std::string a = dir.Write("a.cod", ""), b = dir.Write("B.COD", "");
    dir.Write("notes.txt", "");
    const std::string sub = dir.File("sub");
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    const std::set<std::string> cod{a, b, sub};
    EXPECT_EQ(Complete("veldra-cli info " + dir.Path() + "/"), cod);
    EXPECT_EQ(Complete("veldra-cli flash -p /dev/ttyUSB0 " + dir.Path() + "/"), cod);
    EXPECT_EQ(Complete("veldra-cli --settings " + dir.Path() + "/n"),
              std::set<std::string>{dir.File("notes.txt")});
}

}  // namespace
