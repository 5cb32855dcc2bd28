// Which settings file the command line reads: --settings, then the user's
// and the system's XDG folders, then beside the executable. --version and
// every JSON object name the file read.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "CliTestUtil.h"
#include "CodFixtures.h"
#include "Version.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string &Path, const std::string &Content) {
    fs::create_directories(fs::path(Path).parent_path());
    std::ofstream(Path, std::ios::binary) << Content;
}

TEST(CliSettings, LookupOrderShownByVersionAndJson) {
    TTempDir Dir;
    // A copy of the program, so that a file can lie beside it.
    const std::string Cli = Dir.File("bin/veldra-cli");
    fs::create_directories(Dir.File("bin"));
    fs::copy_file(VELDRA_CLI_PATH, Cli);
    const std::string Firmware = Dir.Write("fw.cod", MakeCod16(7, 2, 5, "PIC", MakeImage(64)));

    const std::string User = Dir.File("user/veldra-update/veldra-update.ini");
    const std::string System = Dir.File("sys2/veldra-update/veldra-update.ini");
    const std::string Beside = Dir.File("bin/veldra-cli.ini");
    const std::string Named = Dir.File("named.ini");
    const std::vector<std::string> Env{
        "XDG_CONFIG_HOME=" + Dir.File("user"),
        "XDG_CONFIG_DIRS=" + Dir.File("sys1") + ":" + Dir.File("sys2"), "HOME=" + Dir.File("home")};
    const auto Label = [&](const std::string &F) {
        return F == User ? "user" : F == System ? "system" : F == Beside ? "beside" : "named";
    };
    struct TRow {
        const char *Name;
        std::vector<std::string> Files;  // made before the run, each naming sensor 7 after itself
        bool UseNamed;
        std::string Expected;  // "" for none
    };
    const TRow Rows[] = {
        {"no file", {}, false, ""},
        {"beside the executable", {Beside}, false, Beside},
        {"system folder before the executable", {Beside, System}, false, System},
        {"user's folder before all", {Beside, System, User}, false, User},
        {"--settings before all", {Beside, System, User, Named}, true, Named},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        for (const std::string &F : {User, System, Beside, Named}) fs::remove(F);
        for (const std::string &F : R.Files)
            WriteFile(F, std::string("[SENSORS]\n7=") + Label(F) + "\n");
        std::vector<std::string> Global{Cli};
        if (R.UseNamed) Global.insert(Global.end(), {"--settings", Named});

        auto Argv = Global;
        Argv.push_back("--version");
        const TRunResult V = RunProgram(Argv, "", Env);
        EXPECT_EQ(V.ExitCode, 0) << V.Err;
        EXPECT_EQ(V.Out, std::string(veldra::kVersion) +
                             "\nSettings: " + (R.Expected.empty() ? "none" : R.Expected) + "\n");

        Argv = Global;
        Argv.insert(Argv.end(), {"--json", "info", Firmware});
        const TRunResult I = RunProgram(Argv, "", Env);
        EXPECT_EQ(I.ExitCode, 0) << I.Err;
        const auto J = nlohmann::json::parse(I.Out, nullptr, false);
        ASSERT_FALSE(J.is_discarded()) << I.Out;
        EXPECT_EQ(J["settings_file"],
                  R.Expected.empty() ? nlohmann::json(nullptr) : nlohmann::json(R.Expected));
        const std::string Name =
            R.Expected.empty() ? "Unknown" : std::string("7 (0x00000007) ") + Label(R.Expected);
        EXPECT_TRUE(Contains(I.Out, Name)) << I.Out;
    }
}

// A settings file that exists but could not be read is named with the
// reason: a warning on standard error, settings_file null and
// settings_error in JSON, and in --version.
TEST(CliSettings, UnreadableFileIsReportedWithTheReason) {
    TTempDir Dir;
    const std::string Firmware = Dir.Write("fw.cod", MakeCod16(7, 2, 5, "PIC", MakeImage(64)));
    struct TRow {
        const char *Name;
        std::string Path;
        std::string Reason;
    };
    std::vector<TRow> Rows;
    const std::string Big = Dir.Write("big.ini", "[SENSORS]\n7=Big\n");
    fs::resize_file(Big, 17 * 1024 * 1024);
    Rows.push_back({"oversized", Big, "larger than 16 MiB"});
    if (::geteuid() != 0) {  // root reads every file
        const std::string Closed = Dir.Write("closed.ini", "[SENSORS]\n7=Closed\n");
        fs::permissions(Closed, fs::perms::none);
        Rows.push_back({"mode 000", Closed, "Permission denied"});
    }
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        const std::string Warning = "Settings file " + R.Path + " could not be read (" + R.Reason +
                                    "): the defaults are used and no sensor has a name";
        const TRunResult J =
            RunProgram({VELDRA_CLI_PATH, "--settings", R.Path, "--json", "info", Firmware});
        EXPECT_EQ(J.ExitCode, 0) << J.Err;
        EXPECT_EQ(J.Err, "Warning: " + Warning + "\n");
        const auto O = nlohmann::json::parse(J.Out, nullptr, false);
        ASSERT_FALSE(O.is_discarded()) << J.Out;
        EXPECT_EQ(O["settings_file"], nullptr);
        EXPECT_EQ(O["settings_error"], Warning);
        EXPECT_EQ(O["device"], "Unknown");

        const TRunResult T = RunProgram({VELDRA_CLI_PATH, "--settings", R.Path, "info", Firmware});
        EXPECT_TRUE(Contains(T.Err, Warning)) << T.Err;
        const TRunResult V = RunProgram({VELDRA_CLI_PATH, "--settings", R.Path, "--version"});
        EXPECT_TRUE(Contains(V.Out, "Settings: " + R.Path + " (could not be read: " + R.Reason))
            << V.Out;
    }
}

// --version checks --settings like every command does.
TEST(CliSettings, VersionWithAMissingNamedFileIsAUsageError) {
    const TRunResult R =
        RunProgram({VELDRA_CLI_PATH, "--settings", "/nonexistent/veldra.ini", "--version"});
    EXPECT_EQ(R.ExitCode, 2) << R.Out;
    EXPECT_TRUE(Contains(R.Err, "--settings")) << R.Err;
}

}  // namespace
