// The station window offscreen, against simulated sensors on
// pseudo-terminals: a file chosen once, a row per port with its result, the
// totals, Start and Stop, and closing in the middle of an upload.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <chrono>
#include <memory>

#include "CodFixtures.h"
#include "GuiSupport.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "fwupdate/FWUpdateForm.h"
#include "fwupdate/StationForm.h"
#include "settings/Settings.h"

namespace {

class StationFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSettings = std::make_unique<TSettings>(
            FDir.Write("veldra.ini",
                       "[SETTINGS]\nMAX_RETRY=3\nMAX_FAILS=5\nTIMEOUT=500\n"
                       "[SENSORS]\n17=Probe Q\n"));
    }
    void TearDown() override { SetFirmwareFilePicker({}); }

    std::unique_ptr<TSimProcess> Sim(std::vector<std::string> Args) {
        Args.insert(Args.begin(), {"bootloader", "--quiet"});
        auto S = std::make_unique<TSimProcess>(Args);
        EXPECT_TRUE(S->Start());
        return S;
    }
    // The window on Ports, with File picked.
    std::unique_ptr<TStationForm> Window(std::vector<std::string> Ports, const std::string &File) {
        auto W = std::make_unique<TStationForm>(FSettings.get(), nullptr, std::string());
        W->SetPortLister([Ports] { return Ports; });
        W->SetInterval(200);
        SetFirmwareFilePicker([File](QWidget *) { return QString::fromStdString(File); });
        W->show();
        Child<QPushButton>(W.get(), "btnStationFile")->click();
        return W;
    }
    static QString Cell(TStationForm &W, const std::string &Port, int Column) {
        auto *List = Child<QTreeWidget>(&W, "LVStation");
        for (int I = 0; I < List->topLevelItemCount(); ++I)
            if (List->topLevelItem(I)->text(0) == QString::fromStdString(Port))
                return List->topLevelItem(I)->text(Column);
        return QStringLiteral("(no row)");
    }
    TTempDir FDir;
    std::unique_ptr<TSettings> FSettings;
    TMsgRecorder Msgs;
};

}  // namespace

TEST_F(StationFormTest, UpdatesEverySensorARowPerPortAndTotals) {
    auto Older = Sim({"--sensor-id", "17", "--version", "1.4"});
    auto Current = Sim({"--sensor-id", "17", "--version", "1.5", "--stay"});
    const std::string File = FDir.Write("fw.cod", MakeCod16(17, 1, 5, "AVR", MakeImage(300)));
    auto W = Window({Older->PtyPath(), Current->PtyPath()}, File);
    auto *Start = Child<QPushButton>(W.get(), "btnStationStart");
    auto *Stop = Child<QPushButton>(W.get(), "btnStationStop");
    auto *Totals = Child<QLabel>(W.get(), "lblStationTotals");
    EXPECT_TRUE(Child<QLineEdit>(W.get(), "edStationFile")
                    ->text()
                    .startsWith(QString::fromStdString(File)));
    ASSERT_TRUE(Start->isEnabled());
    EXPECT_FALSE(Stop->isEnabled());
    Start->click();
    EXPECT_TRUE(W->IsRunning());
    EXPECT_TRUE(Stop->isEnabled());
    EXPECT_FALSE(Child<QPushButton>(W.get(), "btnStationFile")->isEnabled());
    ASSERT_TRUE(WaitUntil(
        [&] {
            return Totals->text().startsWith(QStringLiteral("Updated: 1, failed: 0, skipped: 1"));
        },
        60000))
        << Totals->text().toStdString();
    EXPECT_EQ(Cell(*W, Older->PtyPath(), 5), QStringLiteral("Firmware update successful"));
    EXPECT_EQ(Cell(*W, Older->PtyPath(), 4), QStringLiteral("100 %"));
    EXPECT_EQ(Cell(*W, Older->PtyPath(), 2), QStringLiteral("17 (0x00000011) Probe Q"));
    EXPECT_EQ(Cell(*W, Current->PtyPath(), 5),
              QStringLiteral("The sensor already has the file's version"));
    EXPECT_EQ(Cell(*W, Current->PtyPath(), 3), QStringLiteral("1.05"));

    Stop->click();
    ASSERT_TRUE(WaitUntil([&] { return !W->IsRunning(); }, 30000));
    EXPECT_TRUE(Start->isEnabled());
    EXPECT_FALSE(Stop->isEnabled());
    EXPECT_TRUE(Msgs.Take().empty());
}

TEST_F(StationFormTest, ClosingDuringAnUploadStopsItInOrder) {
    auto Slow = Sim({"--sensor-id", "17", "--version", "1.4", "--pace"});
    const std::string File = FDir.Write("fw.cod", MakeCod16(17, 1, 5, "AVR", MakeImage(20000)));
    auto W = Window({Slow->PtyPath()}, File);
    Child<QPushButton>(W.get(), "btnStationStart")->click();
    ASSERT_TRUE(
        WaitUntil([&] { return Cell(*W, Slow->PtyPath(), 4) == QStringLiteral("5 %"); }, 60000));
    const auto Asked = std::chrono::steady_clock::now();
    W->close();
    EXPECT_FALSE(W->IsRunning());
    EXPECT_LT(std::chrono::steady_clock::now() - Asked, std::chrono::seconds(20));
    WaitUntil([] { return false; }, 200);  // the last reports arrive
    EXPECT_EQ(Cell(*W, Slow->PtyPath(), 1), QStringLiteral("stopped"));
}

TEST_F(StationFormTest, InvalidFileIsRefusedAtOnce) {
    std::string Bad = MakeCod16(17, 1, 5, "AVR", MakeImage(300));
    Bad += "x";
    auto W = Window({}, FDir.Write("bad.cod", Bad));
    EXPECT_FALSE(Child<QPushButton>(W.get(), "btnStationStart")->isEnabled());
    const std::vector<QString> Shown = Msgs.Take();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_TRUE(Shown[0].contains(QStringLiteral("Invalid COD file"))) << Shown[0].toStdString();
}
