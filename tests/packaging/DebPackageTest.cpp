// Builds the Debian package with CPack, checks its control data and
// contents, unpacks it into a throw-away root and runs the command line
// from there.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "PackagingSupport.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "Version.h"

namespace fs = std::filesystem;

namespace {

class DebPackageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = std::make_unique<TTempDir>();
        BuildResult = RunProgram({VELDRA_CPACK_COMMAND, "-G", "DEB", "--config",
                                  std::string(VELDRA_BINARY_DIR) + "/CPackConfig.cmake", "-B",
                                  Dir->File("out")});
        for (const auto &F : ListFiles(Dir->File("out")))
            if (F.find('/') == std::string::npos && F.size() > 4 &&
                F.compare(F.size() - 4, 4, ".deb") == 0)
                Debs.push_back(Dir->File("out/" + F));
        if (Debs.size() == 1) {
            Root = Dir->File("root");
            UnpackResult = RunProgram({"dpkg-deb", "-x", Debs[0], Root});
        }
    }
    static void TearDownTestSuite() { Dir.reset(); }

    void SetUp() override {
        ASSERT_EQ(BuildResult.ExitCode, 0) << BuildResult.Out << BuildResult.Err;
        ASSERT_EQ(Debs.size(), 1u) << "expected one package:\n" << BuildResult.Out;
        ASSERT_EQ(UnpackResult.ExitCode, 0) << UnpackResult.Err;
    }

    static std::string Field(const std::string &Name) {
        const TRunResult R = RunProgram({"dpkg-deb", "--field", Debs[0], Name});
        std::string V = R.Out;
        while (!V.empty() && (V.back() == '\n' || V.back() == ' ')) V.pop_back();
        return V;
    }

    static std::unique_ptr<TTempDir> Dir;
    static std::vector<std::string> Debs;
    static std::string Root;
    static TRunResult BuildResult, UnpackResult;
};

std::unique_ptr<TTempDir> DebPackageTest::Dir;
std::vector<std::string> DebPackageTest::Debs;
std::string DebPackageTest::Root;
TRunResult DebPackageTest::BuildResult, DebPackageTest::UnpackResult;

TEST_F(DebPackageTest, ControlDataNamesPackageVersionAndArchitecture) {
    const std::string Arch = RunProgram({"dpkg", "--print-architecture"}).Out;
    const struct {
        const char *Field;
        std::string Expected;
    } Cases[] = {
        {"Package", "veldra-update"},
        {"Version", veldra::kVersion},
        {"Architecture", Arch.substr(0, Arch.find('\n'))},
        {"Section", "electronics"},
    };
    for (const auto &C : Cases) EXPECT_EQ(Field(C.Field), C.Expected) << C.Field;
    EXPECT_FALSE(Field("Maintainer").empty());
    EXPECT_FALSE(Field("Description").empty());
}

// Dependencies come from the libraries the programs link (dpkg-shlibdeps);
// the X11 window system plugin rides along with libqt6gui6 (the window
// icons are PNGs, no SVG icon engine is needed).
TEST_F(DebPackageTest, DependsOnTheSharedLibrariesItUses) {
    std::vector<std::string> Needed{"libc6", "libudev1", "libstdc++6"};
    if (VELDRA_HAVE_GUI) Needed.insert(Needed.end(), {"libqt6widgets6", "libqt6gui6"});
    const std::string Depends = ", " + Field("Depends") + ",";
    for (const auto &Pkg : Needed) {
        const bool Found = Depends.find(", " + Pkg + " ") != std::string::npos ||
                           Depends.find(", " + Pkg + ",") != std::string::npos;
        EXPECT_TRUE(Found) << Pkg << " missing from Depends: " << Depends;
    }
}

// Every dependency names a package that exists: the machine that built the
// package has each of them installed (it linked against them).
TEST_F(DebPackageTest, EveryDependencyIsAnInstalledPackageHere) {
    std::istringstream In(Field("Depends"));
    std::string Clause;
    int Count = 0;
    while (std::getline(In, Clause, ',')) {
        ++Count;
        bool Installed = false;
        std::istringstream Alternatives(Clause);
        std::string Alt;
        while (std::getline(Alternatives, Alt, '|')) {
            std::istringstream Words(Alt);
            std::string Name;
            Words >> Name;
            const TRunResult Q = RunProgram({"dpkg-query", "-W", "-f=${Status}", Name});
            Installed |= Q.Out.find("install ok installed") != std::string::npos;
        }
        EXPECT_TRUE(Installed) << "no installed package for \"" << Clause << "\"";
    }
    EXPECT_GT(Count, 0);
}

TEST_F(DebPackageTest, HoldsTheInstalledFilesUnderUsr) {
    const auto Expected = ExpectedInstallFiles(VELDRA_HAVE_GUI);
    std::set<std::string> InPackage;
    for (const auto &F : ListFiles(Root)) {
        ASSERT_EQ(F.rfind("usr/", 0), 0u) << F << " lies outside /usr";
        InPackage.insert(F.substr(4));
    }
    EXPECT_EQ(InPackage, Expected) << "missing:\n"
                                   << SetDifference(Expected, InPackage) << "unexpected:\n"
                                   << SetDifference(InPackage, Expected);
}

TEST_F(DebPackageTest, CommandLineRunsFromTheUnpackedPackage) {
    const std::string Cli = Root + "/usr/bin/veldra-cli";
    TTempDir Work;
    const std::vector<std::string> Env = NoConfigEnv(Work.Path());
    const TRunResult Version = RunProgram({Cli, "--version"}, "", Env);
    EXPECT_EQ(Version.ExitCode, 0) << Version.Err;
    EXPECT_EQ(Version.Out, std::string(veldra::kVersion) + "\nSettings: none\n");

    const std::string Firmware = Work.Write("probe.cod", MakeFirmwareFile(42, 3, 7));
    Dir->Write("root/usr/bin/veldra-cli.ini", "[SENSORS]\n42=Probe C\n");
    const TRunResult Info = RunProgram({Cli, "info", Firmware}, "", Env);
    fs::remove(Root + "/usr/bin/veldra-cli.ini");
    EXPECT_EQ(Info.ExitCode, 0) << Info.Out << Info.Err;
    EXPECT_NE(Info.Out.find("42 (0x0000002A) Probe C"), std::string::npos) << Info.Out;
    EXPECT_NE(Info.Out.find("3.07"), std::string::npos) << Info.Out;

    const TRunResult Bad = RunProgram({Cli, "info", Work.Write("broken.cod", "not firmware")});
    EXPECT_NE(Bad.ExitCode, 0) << "a damaged file must not be reported as valid:\n" << Bad.Out;
}

TEST_F(DebPackageTest, SimulatorRunsFromTheUnpackedPackage) {
    TTempDir Work;
    TSimProcess Sim({"modbus", "--link", Work.File("ttySIM")}, Root + "/usr/bin/veldra-sim");
    ASSERT_TRUE(Sim.Start());
    EXPECT_TRUE(fs::exists(Work.File("ttySIM")));
    Sim.Stop();
}

}  // namespace
