// Version information of the program's own executable and of other files.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "SimProcess.h"
#include "TempDir.h"
#include "Version.h"
#include "app/VersionInfo.h"

namespace {

TEST(VersionInfo, OwnExecutableCarriesTheBuildVersion) {
    TFileVersionInfo Info;
    ReadFileVersionInfo(QCoreApplication::applicationFilePath(), Info);
    EXPECT_EQ(Info.FileVersion, QStringLiteral("2.0.0.5"));
    EXPECT_EQ(Info.FileVersion, QString::fromLatin1(veldra::kVersion));
    EXPECT_EQ(Info.ProductName, QStringLiteral("Veldra-Update"));
    EXPECT_EQ(Info.FileFunction, QStringLiteral("Application"));
    EXPECT_FALSE(Info.FileType.isEmpty());
    EXPECT_FALSE(Info.PreRelease);
    EXPECT_FALSE(Info.Patched);
}

TEST(VersionInfo, OtherFilesGiveOnlyTheirTypeName) {
    TTempDir Dir;
    const std::string Doc = Dir.Write("notes.txt", "plain text\n");
    TFileVersionInfo Info;
    Info.FileVersion = QStringLiteral("stale");
    Info.DebugBuild = true;
    ReadFileVersionInfo(QString::fromStdString(Doc), Info);
    EXPECT_FALSE(Info.FileType.isEmpty());
    EXPECT_TRUE(Info.FileVersion.isEmpty());
    EXPECT_TRUE(Info.CompanyName.isEmpty());
    EXPECT_TRUE(Info.FileFunction.isEmpty());
    EXPECT_FALSE(Info.DebugBuild);

    // Another executable (the shell) has no version information here either.
    TFileVersionInfo Sh;
    ReadFileVersionInfo(QStringLiteral("/bin/sh"), Sh);
    EXPECT_TRUE(Sh.FileVersion.isEmpty());

    TFileVersionInfo Missing;
    ReadFileVersionInfo(QString::fromStdString(Dir.File("absent.bin")), Missing);
    EXPECT_TRUE(Missing.FileType.isEmpty());
}

TEST(VersionInfo, FileFunctionTexts) {
    struct TRow {
        uint32_t Type, Subtype;
        const char *Text;
    };
    const TRow Rows[] = {
        {0, 9, "Unknown"},
        {1, 0, "Application"},
        {2, 5, "DLL"},
        {3, 0, "Unknown Driver"},
        {3, 8, "InstallableDriver"},
        {3, 10, "Communications Driver"},
        {3, 11, ""},
        {4, 3, "Truetype Font"},
        {4, 4, ""},
        {5, 0x1A2B, "Virtual Defice Identifier = 00001A2B"},
        {6, 0, ""},
        {7, 1, "Static-link Library"},
        {8, 0, ""},
    };
    for (const TRow &R : Rows) {
        TFixedFileInfo F;
        F.FileType = R.Type;
        F.FileSubtype = R.Subtype;
        EXPECT_EQ(FileFunctionText(F), QString::fromLatin1(R.Text)) << R.Type << "/" << R.Subtype;
    }
}

// --help and --version answer on a terminal without a display, print to
// standard output and open no window (before, the missing display aborted).
TEST(VersionInfo, HelpAndVersionNeedNoDisplay) {
    const struct {
        const char *Arg;
        std::string Starts;
    } Rows[] = {
        {"--help", "Usage: veldra-update [OPTION]..."},
        {"-h", "Usage: veldra-update [OPTION]..."},
        {"--version", std::string("veldra-update ") + veldra::kVersion + "\n"},
        {"-v", std::string("veldra-update ") + veldra::kVersion + "\n"},
    };
    for (const auto &R : Rows) {
        SCOPED_TRACE(R.Arg);
        const TRunResult Run = RunProgram({"env", "-u", "QT_QPA_PLATFORM", "-u", "DISPLAY", "-u",
                                           "WAYLAND_DISPLAY", VELDRA_UPDATE_PATH, R.Arg});
        EXPECT_EQ(Run.ExitCode, 0) << Run.Err;
        EXPECT_EQ(Run.Out.rfind(R.Starts, 0), 0u) << Run.Out;
        EXPECT_EQ(Run.Err, "");
    }
}

}  // namespace
