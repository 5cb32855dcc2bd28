// The History window: the records newest first, the filters of veldra-cli
// history, the CSV export (the same bytes as history --csv) and a refresh.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "GuiSupport.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "app/HistoryForm.h"
#include "app/MainForm.h"
#include "jobs/UpdateRecord.h"
#include "settings/Settings.h"

namespace {

TUpdateRecord Record(const char *Start, const char *Port, uint16_t Sensor, const char *Result) {
    TUpdateRecord R;
    R.Source = "flash";
    R.StartUtc = R.EndUtc = Start;
    R.Port = Port;
    R.SensorID = Sensor;
    R.SensorName = "Probe Q";
    R.VersionBefore = "2.00";
    R.VersionInFile = "2.05";
    R.FileName = "/fw/a, \"b\".cod";
    R.Result = Result;
    R.Reason = "Firmware update successful";
    return R;
}

class HistoryFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        Path = Dir.File("updates.jsonl");
        for (const TUpdateRecord &R :
             {Record("2026-01-05T10:00:00.000Z", "/dev/ttyUSB0", 17, "ok"),
              Record("2026-02-01T09:30:00.000Z", "/dev/ttyUSB1", 7, "failed"),
              Record("2026-03-01T00:00:00.000Z", "/dev/ttyUSB0", 17, "ok")})
            ASSERT_EQ(AppendUpdateRecord(Path, R), "");
    }
    void TearDown() override { SetHistoryFilePicker({}); }

    std::vector<QString> Column(QTreeWidget *List, int C) {
        std::vector<QString> Out;
        for (int I = 0; I < List->topLevelItemCount(); ++I)
            Out.push_back(List->topLevelItem(I)->text(C));
        return Out;
    }

    TTempDir Dir;
    std::string Path;
};

TEST_F(HistoryFormTest, ListsFiltersAndExports) {
    THistoryForm Form(nullptr, nullptr, Path);
    Form.show();
    auto *List = Child<QTreeWidget>(&Form, "LVHistory");
    auto *Status = Child<QLabel>(&Form, "lblHistoryStatus");
    // Newest first.
    EXPECT_EQ(Column(List, 0), (std::vector<QString>{QStringLiteral("2026-03-01 00:00:00"),
                                                     QStringLiteral("2026-02-01 09:30:00"),
                                                     QStringLiteral("2026-01-05 10:00:00")}));
    EXPECT_EQ(List->topLevelItem(1)->text(2), QStringLiteral("7 Probe Q"));
    EXPECT_EQ(List->topLevelItem(1)->text(5), QStringLiteral("a, \"b\".cod"));
    // Sortable: the oldest first at a click on the header.
    List->sortByColumn(0, Qt::AscendingOrder);
    EXPECT_EQ(List->topLevelItem(0)->text(0), QStringLiteral("2026-01-05 10:00:00"));

    auto *Since = Child<QLineEdit>(&Form, "edHistorySince");
    auto *Sensor = Child<QLineEdit>(&Form, "edHistorySensor");
    auto *Port = Child<QComboBox>(&Form, "cbHistoryPort");
    auto *Result = Child<QComboBox>(&Form, "cbHistoryResult");
    struct TCase {
        QString Since, Sensor, Port, Result;
        int Rows;
    } Cases[] = {
        {{}, {}, {}, {}, 3},
        {QStringLiteral("2026-02-01"), {}, {}, {}, 2},
        {{}, QStringLiteral("17"), {}, {}, 2},
        {{}, {}, QStringLiteral("/dev/ttyUSB1"), {}, 1},
        {{}, {}, {}, QStringLiteral("failed"), 1},
        {QStringLiteral("2026-02-02"), QStringLiteral("17"), QStringLiteral("/dev/ttyUSB0"),
         QStringLiteral("ok"), 1},
        {{}, QStringLiteral("7"), QStringLiteral("/dev/ttyUSB0"), {}, 0},
    };
    for (const TCase &C : Cases) {
        Since->setText(C.Since);
        Sensor->setText(C.Sensor);
        Port->setCurrentIndex(std::max(0, Port->findData(C.Port)));
        Result->setCurrentIndex(std::max(0, Result->findData(C.Result)));
        EXPECT_EQ(List->topLevelItemCount(), C.Rows)
            << C.Since.toStdString() << "|" << C.Sensor.toStdString();
        EXPECT_EQ(static_cast<int>(Form.Shown().size()), C.Rows);
    }
    EXPECT_EQ(Status->text(), QStringLiteral("No records match."));
    EXPECT_FALSE(Child<QPushButton>(&Form, "btnHistoryExport")->isEnabled());
    Since->setText(QStringLiteral("March"));
    EXPECT_TRUE(Status->text().contains(QStringLiteral("The date is not understood")));

    // The export writes what veldra-cli history --csv prints for the same
    // filter.
    Since->clear();
    Sensor->setText(QStringLiteral("17"));
    Port->setCurrentIndex(0);
    Result->setCurrentIndex(0);
    const std::string Csv = Dir.File("out.csv");
    SetHistoryFilePicker([&](QWidget *) { return QString::fromStdString(Csv); });
    Child<QPushButton>(&Form, "btnHistoryExport")->click();
    const TRunResult Cli =
        RunProgram({VELDRA_CLI_PATH, "history", "--csv", "--records", Path, "--sensor", "17"});
    ASSERT_EQ(Cli.ExitCode, 0) << Cli.Err;
    EXPECT_EQ(ReadFileText(Csv), Cli.Out);
    EXPECT_EQ(std::count(Cli.Out.begin(), Cli.Out.end(), '\n'), 3);

    // Refresh reads what was added since, and a damaged line is counted.
    {
        std::ofstream Out(Path, std::ios::app);
        Out << "{\"start_utc\": \"2026-04\n";
    }
    ASSERT_EQ(
        AppendUpdateRecord(Path, Record("2026-05-01T00:00:00.000Z", "/dev/ttyUSB2", 17, "ok")), "");
    Child<QPushButton>(&Form, "btnHistoryRefresh")->click();
    EXPECT_EQ(List->topLevelItemCount(), 3);
    EXPECT_TRUE(Status->text().contains(QStringLiteral("Damaged lines skipped: 1.")))
        << Status->text().toStdString();
    EXPECT_GE(Port->findData(QStringLiteral("/dev/ttyUSB2")), 0);
}

TEST_F(HistoryFormTest, MissingAndUnreadableFiles) {
    THistoryForm Missing(nullptr, nullptr, Dir.File("none.jsonl"));
    EXPECT_TRUE(Child<QLabel>(&Missing, "lblHistoryStatus")
                    ->text()
                    .startsWith(QStringLiteral("No records yet")));
    THistoryForm Folder(nullptr, nullptr, Dir.Path());
    EXPECT_TRUE(Child<QLabel>(&Folder, "lblHistoryStatus")
                    ->text()
                    .contains(QStringLiteral("cannot be read")));
    EXPECT_EQ(Child<QTreeWidget>(&Folder, "LVHistory")->topLevelItemCount(), 0);
}

// The main window opens it; it reads where the settings put the records.
TEST_F(HistoryFormTest, OpensFromTheMainWindow) {
    TMsgRecorder Msgs;
    TMainForm Main;
    // The main window made its own settings; its History reads the state
    // folder of this run (XDG_STATE_HOME): no records there.
    bool Seen = false;
    OnModal([&](QWidget *Modal) {
        if (auto *History = qobject_cast<THistoryForm *>(Modal)) {
            Seen = true;
            EXPECT_EQ(History->objectName(), QStringLiteral("HistoryForm"));
        }
        Modal->close();
    });
    Child<QPushButton>(&Main, "btnHistory")->click();
    EXPECT_TRUE(Seen);
    EXPECT_TRUE(Msgs.Take().empty());
}

}  // namespace
