// Installs the build into a temporary prefix and checks what a technician
// finds there: every file in its place, valid desktop and AppStream data,
// icons of the right size, a man page that covers the real options, and
// programs that run from the prefix with their settings file beside them.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "PackagingSupport.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "Version.h"

namespace fs = std::filesystem;

namespace {

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = std::make_unique<TTempDir>();
        Prefix = Dir->File("usr");
        InstallResult =
            RunProgram({VELDRA_CMAKE_COMMAND, "--install", VELDRA_BINARY_DIR, "--prefix", Prefix});
    }
    static void TearDownTestSuite() { Dir.reset(); }

    void SetUp() override {
        ASSERT_EQ(InstallResult.ExitCode, 0) << InstallResult.Out << InstallResult.Err;
    }

    static std::string P(const std::string &Rel) { return Prefix + "/" + Rel; }

    static std::unique_ptr<TTempDir> Dir;
    static std::string Prefix;
    static TRunResult InstallResult;
};

std::unique_ptr<TTempDir> InstallTest::Dir;
std::string InstallTest::Prefix;
TRunResult InstallTest::InstallResult;

TEST_F(InstallTest, HoldsExactlyTheExpectedFiles) {
    const auto Expected = ExpectedInstallFiles(VELDRA_HAVE_GUI);
    const auto Installed = ListFiles(Prefix);
    EXPECT_EQ(Installed, Expected) << "missing:\n"
                                   << SetDifference(Expected, Installed) << "unexpected:\n"
                                   << SetDifference(Installed, Expected);
}

TEST_F(InstallTest, ProgramsAreExecutableAndDoNotPointIntoTheBuildTree) {
    std::vector<std::string> Programs{"veldra-cli", "veldra-sim"};
    if (VELDRA_HAVE_GUI) Programs.push_back("veldra-update");
    for (const auto &Name : Programs) {
        SCOPED_TRACE(Name);
        struct stat St {};
        ASSERT_EQ(::stat(P("bin/" + Name).c_str(), &St), 0);
        EXPECT_TRUE(St.st_mode & S_IXOTH) << "not executable for everyone";
        // A run path into the build folder would load libraries from there.
        const TRunResult Dyn = RunProgram({"readelf", "-d", P("bin/" + Name)});
        ASSERT_EQ(Dyn.ExitCode, 0) << Dyn.Err;
        EXPECT_EQ(Dyn.Out.find(VELDRA_BINARY_DIR), std::string::npos) << Dyn.Out;
    }
}

TEST_F(InstallTest, ProgramsReportTheBuildVersion) {
    const TRunResult Cli =
        RunProgram({P("bin/veldra-cli"), "--version"}, "", NoConfigEnv(Dir->Path()));
    EXPECT_EQ(Cli.ExitCode, 0) << Cli.Err;
    EXPECT_EQ(Cli.Out, std::string(veldra::kVersion) + "\nSettings: none\n");
    const TRunResult Sim = RunProgram({P("bin/veldra-sim"), "--version"});
    EXPECT_EQ(Sim.ExitCode, 0) << Sim.Err;
    EXPECT_EQ(Sim.Out, std::string(veldra::kVersion) + "\n");
}

// The settings file lies beside the executable that runs, wherever the
// program was installed, also when it is started through a link elsewhere.
TEST_F(InstallTest, CliReadsTheSettingsFileBesideTheInstalledExecutable) {
    TTempDir Work;
    const std::string Firmware = Work.Write("probe.cod", MakeFirmwareFile(7, 2, 5));
    const std::string Link = Work.File("veldra-cli");
    fs::create_symlink(P("bin/veldra-cli"), Link);
    const std::string Ini = P("bin/veldra-cli.ini");

    struct TCase {
        const char *Name;
        bool WithIni;
        std::string Program;
        const char *Expected;
    };
    const TCase Cases[] = {
        {"no settings file", false, P("bin/veldra-cli"), "Unknown"},
        {"settings file beside it", true, P("bin/veldra-cli"), "7 (0x00000007) Probe A"},
        {"started through a link", true, Link, "7 (0x00000007) Probe A"},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Name);
        fs::remove(Ini);
        if (C.WithIni) Dir->Write("usr/bin/veldra-cli.ini", "[SENSORS]\r\n7=Probe A\r\n");
        const TRunResult R =
            RunProgram({C.Program, "info", Firmware}, "", NoConfigEnv(Work.Path()));
        EXPECT_EQ(R.ExitCode, 0) << R.Out << R.Err;
        EXPECT_NE(R.Out.find(C.Expected), std::string::npos) << R.Out;
        EXPECT_NE(R.Out.find("2.05"), std::string::npos) << R.Out;
    }
    fs::remove(Ini);
}

TEST_F(InstallTest, SampleSettingsFileIsReadAsItStands) {
    // The sample, copied beside the program, names at least one sensor kind:
    // show the catalogue through a firmware file of the first ID it lists.
    const std::string Sample = ReadWholeFile(P("share/doc/veldra-update/veldra-update.ini.sample"));
    std::smatch M;
    const std::regex SensorLine(R"(\[SENSORS\][\s\S]*?\n\s*(\d+)\s*=\s*([^\r\n]*))",
                                std::regex::icase);
    ASSERT_TRUE(std::regex_search(Sample, M, SensorLine)) << "the sample lists no sensor kind:\n"
                                                          << Sample;
    const int ID = std::stoi(M[1]);
    ASSERT_LT(ID, 256) << "the test's firmware file holds an 8-bit ID";
    std::string Name = M[2];
    while (!Name.empty() && std::isspace(static_cast<unsigned char>(Name.back()))) Name.pop_back();

    TTempDir Work;
    const std::string Firmware =
        Work.Write("fw.cod", MakeFirmwareFile(static_cast<uint8_t>(ID), 1, 0));
    Dir->Write("usr/bin/veldra-cli.ini", Sample);
    const TRunResult R =
        RunProgram({P("bin/veldra-cli"), "info", Firmware}, "", NoConfigEnv(Work.Path()));
    fs::remove(P("bin/veldra-cli.ini"));
    EXPECT_EQ(R.ExitCode, 0) << R.Err;
    EXPECT_NE(R.Out.find(Name), std::string::npos)
        << "sensor " << ID << " should read as " << Name << ":\n"
        << R.Out;
}

// The --help of the program and of every subcommand, keyed by the command
// words ("" for the program itself, "comm read" for a nested one).
std::map<std::string, std::string> HelpTexts(const std::string &Program) {
    std::map<std::string, std::string> Texts;
    std::vector<std::vector<std::string>> Pending{{}};
    while (!Pending.empty()) {
        const auto Words = Pending.back();
        Pending.pop_back();
        std::vector<std::string> Argv{Program};
        Argv.insert(Argv.end(), Words.begin(), Words.end());
        Argv.push_back("--help");
        const TRunResult R = RunProgram(Argv);
        std::string Key;
        for (const auto &W : Words) Key += (Key.empty() ? "" : " ") + W;
        Texts[Key] = R.ExitCode == 0 ? R.Out : "";
        for (const auto &W : HelpWords(R.Out)) {
            if (W.rfind("--", 0) == 0 || Words.size() >= 3) continue;
            auto Sub = Words;
            Sub.push_back(W);
            Pending.push_back(Sub);
        }
    }
    return Texts;
}

TEST_F(InstallTest, ManPagesCoverEveryOptionAndSubcommandOfTheHelp) {
    for (const std::string Program : {"veldra-cli", "veldra-sim"}) {
        SCOPED_TRACE(Program);
        const TRunResult Man =
            RunProgram({"gzip", "-dc", P("share/man/man1/" + Program + ".1.gz")});
        ASSERT_EQ(Man.ExitCode, 0) << Man.Err;
        const std::string Text = ManPageText(Man.Out);
        std::string Upper = Program;
        for (char &C : Upper) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
        EXPECT_NE(Text.find(".TH " + Upper + " \"1\""), std::string::npos) << Text.substr(0, 400);
        EXPECT_NE(Text.find(veldra::kVersion), std::string::npos)
            << "version missing from the man page";
        // Nothing of the machine that built the page: --version also names a
        // settings file, which must not end up in the page.
        EXPECT_EQ(Text.find("Settings:"), std::string::npos);

        const auto Helps = HelpTexts(P("bin/" + Program));
        ASSERT_GE(Helps.size(), 2u) << "no subcommands found";
        for (const auto &[Command, Help] : Helps) {
            SCOPED_TRACE(Program + " " + Command);
            ASSERT_FALSE(Help.empty()) << "--help failed";
            if (!Command.empty()) {
                EXPECT_NE(Text.find(".SS \"" + Program + " " + Command + "\""), std::string::npos)
                    << "no section";
            }
            for (const auto &W : HelpWords(Help))
                EXPECT_NE(Text.find(W), std::string::npos) << W << " is not in the man page";
        }

        // The page renders without complaints from the formatter.
        const TRunResult Render = RunProgram({"groff", "-man", "-Tutf8", "-ww", "-z"}, Man.Out);
        EXPECT_EQ(Render.ExitCode, 0);
        EXPECT_EQ(Render.Err, "");
    }
}

// The settings lookup is described where users look it up: in the FILES
// section of both man pages, in its order.
TEST_F(InstallTest, ManPagesNameTheSettingsPlacesInOrder) {
    std::vector<std::string> Programs{"veldra-cli"};
    if (VELDRA_HAVE_GUI) Programs.push_back("veldra-update");
    for (const auto &Program : Programs) {
        SCOPED_TRACE(Program);
        const TRunResult Man =
            RunProgram({"gzip", "-dc", P("share/man/man1/" + Program + ".1.gz")});
        ASSERT_EQ(Man.ExitCode, 0) << Man.Err;
        const std::string Text = ManPageText(Man.Out);
        size_t At = Text.find(".SH FILES");
        ASSERT_NE(At, std::string::npos);
        for (const std::string &Place : std::vector<std::string>{
                 "$XDG_CONFIG_HOME/veldra-update/veldra-update.ini",
                 "~/.config/veldra-update/veldra-update.ini", "DIR/veldra-update/veldra-update.ini",
                 "/etc/xdg/veldra-update/veldra-update.ini",
                 "<directory of the program>/" + Program + ".ini"}) {
            const size_t Next = Text.find(Place, At);
            EXPECT_NE(Next, std::string::npos) << Place << " missing or out of order";
            if (Next != std::string::npos) At = Next;
        }
        const TRunResult Render = RunProgram({"groff", "-man", "-Tutf8", "-ww", "-z"}, Man.Out);
        EXPECT_EQ(Render.ExitCode, 0);
        EXPECT_EQ(Render.Err, "");
    }
}

// The changelog is a Debian changelog whose newest entry is this version.
TEST_F(InstallTest, ChangelogParsesAndNamesThisVersion) {
    const TRunResult Text = RunProgram({"gzip", "-dc", P("share/doc/veldra-update/changelog.gz")});
    ASSERT_EQ(Text.ExitCode, 0) << Text.Err;
    TTempDir Work;
    const std::string File = Work.Write("changelog", Text.Out);
    const struct {
        const char *Field;
        std::string Expected;
    } Cases[] = {{"Source", "veldra-update"}, {"Version", veldra::kVersion}};
    for (const auto &C : Cases) {
        const TRunResult R = RunProgram({"dpkg-parsechangelog", "-l", File, "-S", C.Field});
        EXPECT_EQ(R.ExitCode, 0) << R.Err;
        EXPECT_EQ(R.Out, C.Expected + "\n") << C.Field;
    }
}

// The copyright file in the machine-readable format: every licence named in
// a Files paragraph has its own paragraph, and a licence that Debian ships in
// /usr/share/common-licenses is referred to by that path, not copied.
TEST_F(InstallTest, CopyrightIsMachineReadable) {
    const std::string Text = ReadWholeFile(P("share/doc/veldra-update/copyright"));
    ASSERT_EQ(
        Text.rfind("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n",
                   0),
        0u)
        << Text.substr(0, 200);
    // Paragraphs are separated by empty lines; a field's continuation lines
    // start with a blank.
    std::vector<std::map<std::string, std::string>> Paragraphs(1);
    std::string Last;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);) {
        if (Line.empty()) {
            if (!Paragraphs.back().empty()) Paragraphs.emplace_back();
            continue;
        }
        if (Line[0] == ' ') {
            ASSERT_FALSE(Last.empty()) << "continuation without a field: " << Line;
            Paragraphs.back()[Last] += "\n" + Line.substr(1);
            continue;
        }
        const size_t Colon = Line.find(':');
        ASSERT_NE(Colon, std::string::npos) << "not a field: " << Line;
        Last = Line.substr(0, Colon);
        Paragraphs.back()[Last] = Line.substr(Colon + 1);
    }
    std::set<std::string> Named, Defined;
    std::map<std::string, std::string> Texts;
    int FilesParagraphs = 0;
    for (const auto &Par : Paragraphs) {
        if (!Par.count("License")) continue;
        const std::string &Value = Par.at("License");
        std::string Name = Value.substr(0, Value.find('\n'));
        Name.erase(0, Name.find_first_not_of(' '));
        if (Par.count("Files")) {
            ++FilesParagraphs;
            EXPECT_TRUE(Par.count("Copyright")) << "Files:" << Par.at("Files");
            std::istringstream Words(Name);
            for (std::string W; Words >> W;)
                if (W != "and" && W != "or") Named.insert(W);
        } else {
            EXPECT_TRUE(Defined.insert(Name).second) << Name << " defined twice";
            Texts[Name] = Value;
        }
    }
    EXPECT_GT(FilesParagraphs, 0);
    for (const auto &N : Named) EXPECT_TRUE(Defined.count(N)) << "no License paragraph for " << N;
    for (const auto &[Name, Body] : Texts) {
        SCOPED_TRACE(Name);
        std::string Base = Name;
        if (!Base.empty() && Base.back() == '+') Base.pop_back();
        if (fs::exists("/usr/share/common-licenses/" + Base)) {
            EXPECT_NE(Body.find("/usr/share/common-licenses/" + Base), std::string::npos);
            EXPECT_LT(Body.size(), 1000u) << "the licence text is copied instead of referred to";
        }
    }
}

// The udev rule is only read by udev when it is installed, and udev ignores
// what it cannot parse: check its syntax here, and that the two settings it
// exists for are assignments (with "==" they would silently only compare).
TEST_F(InstallTest, UdevRuleParsesAndAssignsWhatItPromises) {
    const std::string Rules = ReadWholeFile(P("share/doc/veldra-update/60-veldra-rs485.rules"));
    ASSERT_FALSE(Rules.empty());
    static const std::set<std::string> Keys{
        "ACTION", "SUBSYSTEM", "SUBSYSTEMS", "KERNEL", "KERNELS", "DRIVER", "DRIVERS", "ATTR",
        "ATTRS",  "ENV",       "GOTO",       "LABEL",  "MODE",    "GROUP",  "TAG",     "RUN"};
    const std::regex Pair(
        R"re(^\s*([A-Z]+)(\{[A-Za-z0-9_]+\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$))re");
    std::set<std::string> Assigned;
    std::istringstream In(Rules);
    std::string Line;
    int LineNo = 0;
    while (std::getline(In, Line)) {
        ++LineNo;
        if (Line.find_first_not_of(" \t") == std::string::npos ||
            Line[Line.find_first_not_of(" \t")] == '#')
            continue;
        std::string Rest = Line;
        std::smatch M;
        while (!Rest.empty() && Rest.find_first_not_of(" \t") != std::string::npos) {
            ASSERT_TRUE(std::regex_search(Rest, M, Pair))
                << "line " << LineNo << " does not parse at: " << Rest;
            EXPECT_TRUE(Keys.count(M[1])) << "line " << LineNo << ": unknown key " << M[1];
            if (M[3] == "=") Assigned.insert(M[1].str() + M[2].str() + "=" + M[4].str());
            Rest = M.suffix();
        }
    }
    for (const char *Expected : {"ENV{ID_MM_DEVICE_IGNORE}=1", "ATTR{latency_timer}=1"})
        EXPECT_TRUE(Assigned.count(Expected)) << Expected << " is never assigned";
}

#if VELDRA_HAVE_GUI

TEST_F(InstallTest, IconsHaveTheSizeOfTheirFolder) {
    for (int Size : IconSizes()) {
        const std::string Dim = std::to_string(Size) + "x" + std::to_string(Size);
        SCOPED_TRACE(Dim);
        int W = 0, H = 0;
        ASSERT_TRUE(PngSize(
            ReadWholeFile(P("share/icons/hicolor/" + Dim + "/apps/veldra-update.png")), W, H));
        EXPECT_EQ(W, Size);
        EXPECT_EQ(H, Size);
    }
    const std::string Svg = ReadWholeFile(P("share/icons/hicolor/scalable/apps/veldra-update.svg"));
    EXPECT_NE(Svg.find("<svg"), std::string::npos);
}

TEST_F(InstallTest, DesktopEntryIsValidAndPointsAtInstalledFiles) {
    const std::string Desktop = P("share/applications/veldra-update.desktop");
    const TRunResult R = RunProgram({"desktop-file-validate", Desktop});
    EXPECT_EQ(R.ExitCode, 0) << R.Out << R.Err;
    EXPECT_EQ(R.Out + R.Err, "") << "hints or warnings from desktop-file-validate";

    const std::string Entry = ReadWholeFile(Desktop);
    std::smatch M;
    ASSERT_TRUE(std::regex_search(Entry, M, std::regex(R"((?:^|\n)Exec=([^\s]+))")));
    const std::string Exec = M[1];
    EXPECT_TRUE(Exec == "veldra-update" || Exec == P("bin/veldra-update")) << "Exec=" << Exec;
    ASSERT_TRUE(std::regex_search(Entry, M, std::regex(R"((?:^|\n)Icon=([^\r\n]+))")));
    EXPECT_EQ(M[1].str(), "veldra-update") << "the theme icon's name";

    // German menus show German words, and the menus file it where the
    // software centres do (the AppStream categories).
    for (const char *Key : {"Name[de]=", "GenericName[de]=", "Comment[de]=Firmware von"})
        EXPECT_NE(Entry.find(std::string("\n") + Key), std::string::npos) << Key;
    ASSERT_TRUE(std::regex_search(Entry, M, std::regex(R"((?:^|\n)Categories=([^\r\n]+))")));
    const std::string Categories = M[1];
    const std::string Xml =
        ReadWholeFile(P("share/metainfo/com.veldrasensors.VeldraUpdate.metainfo.xml"));
    const std::regex Category(R"(<category>([^<]+)</category>)");
    std::string Listed;
    for (std::sregex_iterator It(Xml.begin(), Xml.end(), Category), End; It != End; ++It)
        Listed += (*It)[1].str() + ";";
    EXPECT_EQ(Categories, Listed);
}

TEST_F(InstallTest, MetainfoIsValidAndNamesInstalledFiles) {
    const std::string Metainfo = P("share/metainfo/com.veldrasensors.VeldraUpdate.metainfo.xml");
    const TRunResult R = RunProgram({"appstreamcli", "validate", "--no-net", "--strict", Metainfo});
    EXPECT_EQ(R.ExitCode, 0) << R.Out << R.Err;

    const std::string Xml = ReadWholeFile(Metainfo);
    std::smatch M;
    ASSERT_TRUE(std::regex_search(Xml, M, std::regex(R"(<launchable type="desktop-id">([^<]+)<)")));
    EXPECT_TRUE(fs::exists(P("share/applications/" + M[1].str()))) << M[1];
    const std::regex Binary(R"(<binary>([^<]+)</binary>)");
    int Binaries = 0;
    for (std::sregex_iterator It(Xml.begin(), Xml.end(), Binary), End; It != End; ++It, ++Binaries)
        EXPECT_TRUE(fs::exists(P("bin/" + (*It)[1].str()))) << (*It)[1];
    EXPECT_GT(Binaries, 0);
    EXPECT_NE(Xml.find(std::string("<release version=\"") + veldra::kVersion + "\""),
              std::string::npos);
}

// The software centres show the README's pictures: each screenshot is an
// absolute https address whose file is one of docs/screenshots, a PNG no
// larger than a window, and one of them is the default.
TEST_F(InstallTest, MetainfoScreenshotsAreTheCommittedOnes) {
    const std::string Xml =
        ReadWholeFile(P("share/metainfo/com.veldrasensors.VeldraUpdate.metainfo.xml"));
    const fs::path Committed = fs::path(VELDRA_SOURCE_DIR) / "docs" / "screenshots";
    const std::regex Image(R"(<image>([^<]+)</image>)");
    int Images = 0;
    for (std::sregex_iterator It(Xml.begin(), Xml.end(), Image), End; It != End; ++It, ++Images) {
        const std::string Url = (*It)[1];
        SCOPED_TRACE(Url);
        EXPECT_EQ(Url.rfind("https://", 0), 0u);
        const std::string Name = Url.substr(Url.rfind('/') + 1);
        int W = 0, H = 0;
        ASSERT_TRUE(PngSize(ReadWholeFile((Committed / Name).string()), W, H));
        EXPECT_GT(W, 0);
        EXPECT_LE(W, 1024);
        EXPECT_LE(H, 768);
    }
    EXPECT_GE(Images, 4);
    size_t Defaults = 0;
    for (size_t At = Xml.find("<screenshot type=\"default\">"); At != std::string::npos;
         At = Xml.find("<screenshot type=\"default\">", At + 1))
        ++Defaults;
    EXPECT_EQ(Defaults, 1u);

    // The README embeds the same pictures by relative links.
    const std::string Readme = ReadWholeFile(VELDRA_SOURCE_DIR "/README.md");
    const std::regex Link(R"(\]\((docs/screenshots/[^)]+)\))");
    int Links = 0;
    for (std::sregex_iterator It(Readme.begin(), Readme.end(), Link), End; It != End; ++It, ++Links)
        EXPECT_TRUE(fs::is_regular_file(fs::path(VELDRA_SOURCE_DIR) / (*It)[1].str())) << (*It)[1];
    EXPECT_GE(Links, Images);
}

#endif

}  // namespace
