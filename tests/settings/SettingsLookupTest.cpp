// Where the settings file is found: the XDG folders, then beside the
// executable; the first regular file wins and is read alone.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "settings/Settings.h"
#include "settings/SettingsLookup.h"

namespace fs = std::filesystem;

namespace {

TEST(SettingsLookup, ConfigFoldersFollowTheXdgRules) {
    struct Row {
        const char *Name;
        TSettingsEnv Env;
        std::vector<std::string> Expected;
    };
    const Row Rows[] = {
        {"nothing set", {"", "", "/home/u", ""}, {"/home/u/.config", "/etc/xdg"}},
        {"both set", {"/c", "/a:/b", "/home/u", ""}, {"/c", "/a", "/b"}},
        {"relative XDG_CONFIG_HOME is ignored", {"rel/c", "", "/home/u", ""}, {"/etc/xdg"}},
        {"empty and relative folders are skipped",
         {"/c", "rel::/a/:", "/home/u", ""},
         {"/c", "/a/"}},
        {"no valid system folder means none", {"/c", ":", "/home/u", ""}, {"/c"}},
        {"no HOME", {"", "", "", ""}, {"/.config", "/etc/xdg"}},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        EXPECT_EQ(ConfigFolders(R.Env), R.Expected);
    }
}

TEST(SettingsLookup, CandidatesInOrderWithTheFileName) {
    const TSettingsEnv Env{"/c/", "/a//:/", "/home/u", "/opt/v/bin/veldra-cli.ini"};
    EXPECT_EQ(SettingsFileCandidates(Env), (std::vector<std::string>{
                                               "/c/veldra-update/veldra-update.ini",
                                               "/a/veldra-update/veldra-update.ini",
                                               "/veldra-update/veldra-update.ini",
                                               "/opt/v/bin/veldra-cli.ini",
                                           }));
}

// The four places in a temporary folder, each either absent or made as
// one kind of file system entry.
enum class TKind { None, File, Folder, Fifo, DanglingLink, LinkToFile };

class SettingsLookupOrder : public ::testing::Test {
protected:
    // The four places below Root: home, sys1, sys2, beside the executable.
    static TSettingsEnv EnvIn(const TTempDir &Root) {
        return {Root.File("home"), Root.File("sys1") + ":" + Root.File("sys2"), Root.File("nohome"),
                Root.File("bin/prog.ini")};
    }

    void Make(const std::string &Path, TKind Kind, const std::string &Content) {
        fs::create_directories(fs::path(Path).parent_path());
        switch (Kind) {
            case TKind::None:
                break;
            case TKind::File:
                std::ofstream(Path, std::ios::binary) << Content;
                break;
            case TKind::Folder:
                fs::create_directory(Path);
                break;
            case TKind::Fifo:
                ASSERT_EQ(::mkfifo(Path.c_str(), 0644), 0);
                break;
            case TKind::DanglingLink:
                fs::create_symlink(Path + ".missing", Path);
                break;
            case TKind::LinkToFile:
                std::ofstream(Path + ".target", std::ios::binary) << Content;
                fs::create_symlink(Path + ".target", Path);
                break;
        }
    }
};

TEST_F(SettingsLookupOrder, FirstRegularFileWins) {
    using K = TKind;
    struct Row {
        const char *Name;
        TKind Home, Sys1, Sys2, Beside;
        int Winner;  // index of the place, -1 for none
    };
    const Row Rows[] = {
        {"no file anywhere", K::None, K::None, K::None, K::None, -1},
        {"only beside the executable", K::None, K::None, K::None, K::File, 3},
        {"system folder before the executable", K::None, K::None, K::File, K::File, 2},
        {"first system folder first", K::None, K::File, K::File, K::File, 1},
        {"user's folder before all", K::File, K::File, K::File, K::File, 0},
        {"user's folder alone", K::File, K::None, K::None, K::None, 0},
        {"a folder named like the file is skipped", K::Folder, K::File, K::None, K::None, 1},
        {"a FIFO is skipped", K::Fifo, K::None, K::None, K::File, 3},
        {"a dangling link is skipped", K::DanglingLink, K::None, K::File, K::None, 2},
        {"a link to a file counts", K::LinkToFile, K::File, K::None, K::None, 0},
    };
    for (const Row &R : Rows) {
        SCOPED_TRACE(R.Name);
        TTempDir Root;
        const std::vector<std::string> At = SettingsFileCandidates(EnvIn(Root));
        ASSERT_EQ(At.size(), 4u);
        const TKind Kinds[] = {R.Home, R.Sys1, R.Sys2, R.Beside};
        for (size_t i = 0; i < 4; ++i)
            Make(At[i], Kinds[i], "[SENSORS]\n7=Place " + std::to_string(i) + "\n");
        const std::string Found = FirstSettingsFile(At);
        EXPECT_EQ(Found, R.Winner < 0 ? std::string() : At[static_cast<size_t>(R.Winner)]);

        // The file found is what the settings hold, and it names itself.
        const TSettings S(Found);
        EXPECT_EQ(S.FileName(), Found);
        EXPECT_EQ(S.SensorIDToName(7),
                  R.Winner < 0 ? "Unknown" : "7 (0x00000007) Place " + std::to_string(R.Winner));
        EXPECT_EQ(SettingsSourceText(S), R.Winner < 0 ? "none" : Found);
    }
}

// Files are not merged: limits missing from the file found take the key
// defaults, not the values of a file further down the list.
TEST_F(SettingsLookupOrder, OnlyTheFirstFileIsRead) {
    TTempDir Root;
    const std::vector<std::string> At = SettingsFileCandidates(EnvIn(Root));
    Make(At[0], TKind::File, "[SENSORS]\n7=Mine\n");
    Make(At[1], TKind::File,
         "[SETTINGS]\nMAX_RETRY=9\nMAX_FAILS=9\nTIMEOUT=9\n[SENSORS]\n8=System\n");
    const TSettings S(FirstSettingsFile(At));
    const TFWUpdSettings L = S.FWUpdSettings();
    EXPECT_EQ(L.MaxRetry, 5);
    EXPECT_EQ(L.MaxFails, 15);
    EXPECT_EQ(L.DefTimeout, 1000);
    EXPECT_EQ(S.SensorIDToName(7), "7 (0x00000007) Mine");
    EXPECT_EQ(S.SensorIDToName(8), "Unknown");
}

// A file the user may not read still is the first file that exists: the
// lookup stops there, the limits are the key defaults and the source says
// so. (Root reads every file, so only an ordinary user sees this.)
TEST_F(SettingsLookupOrder, UnreadableFileStopsTheLookup) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TTempDir Root;
    const std::vector<std::string> At = SettingsFileCandidates(EnvIn(Root));
    Make(At[0], TKind::File, "[SETTINGS]\nTIMEOUT=700\n");
    Make(At[1], TKind::File, "[SENSORS]\n7=System\n");
    ASSERT_EQ(::chmod(At[0].c_str(), 0), 0);
    ASSERT_EQ(FirstSettingsFile(At), At[0]);
    const TSettings S(At[0]);
    EXPECT_TRUE(S.ReadFailed());
    EXPECT_EQ(S.FWUpdSettings().DefTimeout, 1000);
    EXPECT_EQ(S.SensorIDToName(7), "Unknown");
    EXPECT_EQ(SettingsSourceText(S),
              At[0] + " (could not be read: Permission denied; defaults used)");
}

// A named file is taken as it is, also when it does not exist (the command
// line checks that first); a missing file reads as none.
TEST(SettingsLookup, NamedFileComesFirst) {
    TTempDir Dir;
    EXPECT_EQ(FindSettingsFile(Dir.File("given.ini")), Dir.File("given.ini"));
    const TSettings Missing(Dir.File("given.ini"));
    EXPECT_EQ(Missing.FileName(), "");
    EXPECT_EQ(SettingsSourceText(Missing), "none");

    const std::string Fifo = Dir.File("fifo.ini");
    ASSERT_EQ(::mkfifo(Fifo.c_str(), 0644), 0);
    EXPECT_EQ(SettingsSourceText(TSettings(Fifo)),
              Fifo + " (could not be read: not a regular file; defaults used)");
}

// The process's own environment, as the programs see it.
class ScopedEnv {
public:
    ScopedEnv(const char *Name, const std::string &Value) : FName(Name) {
        if (const char *Old = std::getenv(Name)) FOld = Old;
        ::setenv(Name, Value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (FOld)
            ::setenv(FName, FOld->c_str(), 1);
        else
            ::unsetenv(FName);
    }

private:
    const char *FName;
    std::optional<std::string> FOld;
};

TEST(SettingsLookup, DefaultSettingsUseTheProcessEnvironment) {
    TTempDir Dir;
    fs::create_directories(Dir.File("user/veldra-update"));
    fs::create_directories(Dir.File("system/veldra-update"));
    const std::string System = Dir.Write("system/veldra-update/veldra-update.ini",
                                         "[SETTINGS]\nTIMEOUT=700\n[SENSORS]\n9=Sys\n");
    ScopedEnv Home("XDG_CONFIG_HOME", Dir.File("user"));
    ScopedEnv Dirs("XDG_CONFIG_DIRS", Dir.File("system"));
    {
        const TSettings S;
        EXPECT_EQ(S.FileName(), System);
        EXPECT_EQ(S.FWUpdSettings().DefTimeout, 700);
        EXPECT_EQ(S.SensorIDToName(9), "9 (0x00000009) Sys");
    }
    const std::string User =
        Dir.Write("user/veldra-update/veldra-update.ini", "[SENSORS]\n9=User\n");
    {
        const TSettings S;
        EXPECT_EQ(S.FileName(), User);
        EXPECT_EQ(S.FWUpdSettings().DefTimeout, 1000);
        EXPECT_EQ(S.SensorIDToName(9), "9 (0x00000009) User");
    }
}

// Without any file the limits stay 0, as they always did without a file.
TEST(SettingsLookup, NoFileAnywhereReadsNothing) {
    TTempDir Dir;
    ScopedEnv Home("XDG_CONFIG_HOME", Dir.File("user"));
    ScopedEnv Dirs("XDG_CONFIG_DIRS", Dir.File("system"));
    ASSERT_FALSE(IsSettingsFile(DefaultSettingsFileName()))
        << "a file lies beside the test program";
    const TSettings S;
    EXPECT_EQ(S.FileName(), "");
    EXPECT_EQ(S.FWUpdSettings().MaxRetry, 0);
    EXPECT_EQ(S.FWUpdSettings().MaxFails, 0);
    EXPECT_EQ(S.FWUpdSettings().DefTimeout, 0);
    EXPECT_TRUE(S.SensorNames().empty());
}

}  // namespace
