// The windows find their settings file through QStandardPaths, the command
// line through the core's lookup: both must pick the same file. The main
// window reads it and the About box names it.

#include <sys/stat.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "GuiSupport.h"
#include "TempDir.h"
#include "app/AboutForm.h"
#include "app/MainForm.h"
#include "settings/Settings.h"
#include "settings/SettingsLookup.h"
#include "widgets/SettingsLocation.h"

namespace fs = std::filesystem;

namespace {

class TScopedEnv {
public:
    TScopedEnv(const char *Name, const std::string &Value) : FName(Name) {
        if (const char *Old = std::getenv(Name)) FOld = Old;
        ::setenv(Name, Value.c_str(), 1);
    }
    ~TScopedEnv() {
        if (FOld)
            ::setenv(FName, FOld->c_str(), 1);
        else
            ::unsetenv(FName);
    }

private:
    const char *FName;
    std::optional<std::string> FOld;
};

void WriteFile(const std::string &Path, const std::string &Content) {
    fs::create_directories(fs::path(Path).parent_path());
    std::ofstream(Path, std::ios::binary) << Content;
}

TEST(SettingsLocation, WindowsAndCommandLineFindTheSameFile) {
    TTempDir Dir;
    const std::string U = Dir.File("user"), S1 = Dir.File("sys1"), S2 = Dir.File("sys2");
    WriteFile(SettingsFileIn(S2), "[SENSORS]\n7=S2\n");
    fs::create_directories(SettingsFileIn(S1));  // a folder named like the file
    // A file that only a relative "rel" would find, from the working folder.
    WriteFile(SettingsFileIn(Dir.File("rel")), "[SENSORS]\n7=relative\n");
    const fs::path OldCwd = fs::current_path();
    fs::current_path(Dir.Path());
    struct TRow {
        const char *Name;
        std::string ConfigHome, ConfigDirs, Home;
        std::string Expected;
    };
    const TRow Rows[] = {
        {"user's folder from HOME, system folders", "", S1 + ":" + S2, Dir.Path(),
         SettingsFileIn(S2)},
        {"relative entries ignored", "rel", "rel:" + S1 + "::" + S2 + "/", Dir.Path(),
         SettingsFileIn(S2)},
        {"only folders without the file", U, S1, Dir.Path(), ""},
        {"user's file first", U, S1 + ":" + S2, Dir.Path(), SettingsFileIn(U)},
        {"user's file through HOME", "", S2, Dir.File("home"),
         SettingsFileIn(Dir.File("home/.config"))},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        if (R.Expected == SettingsFileIn(U)) WriteFile(SettingsFileIn(U), "[SENSORS]\n7=U\n");
        if (R.Expected == SettingsFileIn(Dir.File("home/.config")))
            WriteFile(R.Expected, "[SENSORS]\n7=H\n");
        TScopedEnv Home("HOME", R.Home);
        TScopedEnv ConfigHome("XDG_CONFIG_HOME", R.ConfigHome);
        TScopedEnv ConfigDirs("XDG_CONFIG_DIRS", R.ConfigDirs);
        ASSERT_FALSE(IsSettingsFile(DefaultSettingsFileName()))
            << "a file lies beside the test program";
        const QString Windows = LocateSettingsFile();
        EXPECT_EQ(Windows.toStdString(), R.Expected);
        EXPECT_EQ(FindSettingsFile(), R.Expected);
    }
    fs::current_path(OldCwd);
}

TEST(SettingsLocation, MainWindowReadsItAndTheAboutBoxNamesIt) {
    TTempDir Dir;
    const std::string File = SettingsFileIn(Dir.File("conf"));
    TScopedEnv ConfigHome("XDG_CONFIG_HOME", Dir.File("conf"));
    TScopedEnv ConfigDirs("XDG_CONFIG_DIRS", Dir.File("none"));
    TMsgRecorder Msgs;
    struct TRow {
        const char *Name;
        bool WithFile;
        QString Expected;
    };
    const TRow Rows[] = {
        {"no settings file", false, QStringLiteral("Settings: none")},
        {"file in the user's folder", true,
         QStringLiteral("Settings: ") + QString::fromStdString(File)},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        if (R.WithFile) WriteFile(File, "[SENSORS]\n7=Probe A\n");
        TMainForm Main;
        ASSERT_NE(Settings, nullptr);
        EXPECT_EQ(Settings->SensorIDToName(7), R.WithFile ? "7 (0x00000007) Probe A" : "Unknown");
        Main.show();
        QString Shown, Tip;
        OnModal([&](QWidget *W) {
            auto *Label = Child<QLabel>(W, "lblSettings");
            if (Label) {
                Shown = Label->text();
                Tip = Label->toolTip();
            }
            QTest::keyClick(W, Qt::Key_Escape);
        });
        Child<QPushButton>(&Main, "btnAbout")->click();
        EXPECT_EQ(Tip, R.Expected);
        // A long path is shortened in the middle and keeps the file's name.
        EXPECT_TRUE(Shown.startsWith(QStringLiteral("Settings: "))) << Shown.toStdString();
        EXPECT_EQ(Shown.right(4), R.Expected.right(4));
    }
}

TEST(SettingsLocation, AboutBoxShortensALongPath) {
    TAboutForm About;
    const QString Long = QStringLiteral("/home/technician/") + QString(200, QLatin1Char('x')) +
                         QStringLiteral("/veldra-update/veldra-update.ini");
    About.SetSettingsFile(Long);
    auto *Label = Child<QLabel>(&About, "lblSettings");
    ASSERT_NE(Label, nullptr);
    EXPECT_LE(Label->fontMetrics().horizontalAdvance(Label->text()), Label->width());
    EXPECT_TRUE(Label->text().endsWith(QStringLiteral("update.ini")))
        << Label->text().toStdString();
    EXPECT_EQ(Label->toolTip(), QStringLiteral("Settings: ") + Long);
}

}  // namespace
