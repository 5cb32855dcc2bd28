// The setup window's watch page driven by object name against the simulated
// Modbus line: values and statistics, a row that fails while the others go
// on, Stop, a port that goes away, the CSV log, the chart's picture, the
// list file and the window's close during a watch.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "TempDir.h"
#include "devsetup/DevSetupForm.h"
#include "devsetup/NumberEdit.h"
#include "devsetup/WatchPage.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"
#include "widgets/HotPlugWatcher.h"
#include "widgets/MsgBox.h"
#include "widgets/StripChart.h"

inline void PrintTo(const QString &Text, std::ostream *Os) {
    *Os << '"' << Text.toStdString() << '"';
}

namespace {

const char SimPortText[] = "Simulated line (pty)";

// Address 20: 4242 at register 0, the float 1.0 at 110. Address 99 is not
// on the line.
const char RegisterFile[] = R"({"devices": [
  {"address": 20, "profile": "plain", "holding": {"0": [4242], "110": [16256, 0]}},
  {"address": 21, "profile": "plain", "holding": {"0": [7]}}
]})";

// The table's columns (WatchPage.cpp).
enum {
    cLabel,
    cValue,
    cMin,
    cMax,
    cMean,
    cLastRead,
    cErrors,
    cReason,
    cAddress,
    cRegister,
    cType,
    cOrder,
    cCount,
    cScale,
    cOffset,
    cUnit
};

struct TMsg {
    TMsgKind Kind;
    QString Text;
};

std::vector<std::string> Lines(const std::string &Text) {
    std::vector<std::string> Out;
    std::stringstream S(Text);
    for (std::string L; std::getline(S, L);) Out.push_back(L);
    return Out;
}

std::vector<std::string> Cells(const std::string &Line) {
    std::vector<std::string> Out(1);
    for (char C : Line) {
        if (C == ',')
            Out.emplace_back();
        else
            Out.back() += C;
    }
    return Out;
}

bool WaitFor(const std::function<bool()> &Done, int Ms = 60000) {
    QElapsedTimer Clock;
    Clock.start();
    while (!Done() && Clock.elapsed() < Ms)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return Done();
}

class WatchPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMsgPresenter([this](TMsgKind Kind, const QString &, const QString &Text) {
            Msgs.push_back({Kind, Text});
            return Kind == TMsgKind::YesNo ? mrYes : mrOk;
        });
        SetPortQuery([this](std::vector<TComListData> &Ports) {
            if (Sim && SimListed) Ports.push_back({Sim->PtyPath(), SimPortText});
        });
        SetWatchFilePicker([this](QWidget *, TWatchFile Kind) { return Picked[Kind]; });
    }
    void TearDown() override {
        Form.reset();
        if (Sim) Sim->Stop();
        SetWatchFilePicker({});
        SetPortQuery(nullptr);
        SetMsgPresenter(nullptr);
    }

    void StartSim(std::vector<std::string> Extra = {}) {
        const std::string Regs = Dir.Write("registers.json", RegisterFile);
        std::vector<std::string> Args{"modbus", "--registers", Regs};
        Args.insert(Args.end(), Extra.begin(), Extra.end());
        Sim = std::make_unique<TSimProcess>(Args);
        ASSERT_TRUE(Sim->Start());
    }

    void OpenForm() {
        Form = std::make_unique<TDevSetupForm>(nullptr);
        Form->show();
        auto *Ports = Find<QComboBox>("cbCOMPort");
        Ports->setCurrentIndex(Ports->findText(SimPortText));
        Find<QSpinBox>("edTimeout")->setValue(100);
        Find<QTabWidget>("PageControl1")->setCurrentWidget(Find<QWidget>("WatchPage"));
        Page = Find<TWatchPage>("WatchPage");
        Table = Find<QTableWidget>("LVWatch");
    }

    template <class T>
    T *Find(const char *Name) {
        T *W = Form->findChild<T *>(QString::fromLatin1(Name));
        if (!W) ADD_FAILURE() << "no widget " << Name;
        return W;
    }
    void Click(const char *Name) { Find<QAbstractButton>(Name)->click(); }
    QString Cell(int Row, int Col) {
        const QTableWidgetItem *Item = Table->item(Row, Col);
        return Item ? Item->text() : QStringLiteral("(none)");
    }

    // The rows of the test: two on the line, one at an address nobody has.
    void ThreeRows() {
        TWatchRow Plain{20, 0, rdtInt, woMSWF, 1, "Counts", 1, 0, ""};
        TWatchRow Temp{20, 110, rdtFloat, woMSWF, 2, "Temperature", 10, 1, "°C"};
        TWatchRow Absent{99, 0, rdtInt, woMSWF, 1, "", 1, 0, ""};
        Page->SetRows({Plain, Temp, Absent});
    }

    // Starts the watch and waits for Polls rounds.
    void WatchFor(long Polls) {
        Find<QSpinBox>("edWatchInterval")->setValue(100);
        Click("btnWatchStart");
        ASSERT_TRUE(Form->IsWatching());
        ASSERT_TRUE(WaitFor([&] { return Page->Stats(0).Good + Page->Stats(0).Errors >= Polls; }));
    }
    void StopAndWait() {
        Click("btnWatchStop");
        ASSERT_TRUE(WaitFor([&] { return !Form->IsBusy(); }));
        EXPECT_FALSE(Form->IsWatching());
    }
    void ExpectIdle() {
        for (const char *Name :
             {"cbCOMPort", "cbBitrate", "edTimeout", "btnWatchStart", "btnWatchAdd", "btnWatchLoad",
              "btnWatchSave", "btnWatchCsv", "edWatchInterval", "btnClose", "btnScan"})
            EXPECT_TRUE(Find<QWidget>(Name)->isEnabled()) << Name;
        EXPECT_FALSE(Find<QWidget>("btnWatchStop")->isEnabled());
    }

    TTempDir Dir;
    std::unique_ptr<TSimProcess> Sim;
    std::unique_ptr<TDevSetupForm> Form;
    TWatchPage *Page = nullptr;
    QTableWidget *Table = nullptr;
    std::vector<TMsg> Msgs;
    std::map<TWatchFile, QString> Picked;
    bool SimListed = true;
};

TEST_F(WatchPageTest, ValuesStatsAFailedRowAndTheLogCellByCell) {
    StartSim();
    OpenForm();
    ThreeRows();
    const std::string Csv = Dir.File("watch.csv");
    Picked[TWatchFile::CsvLog] = QString::fromStdString(Csv);
    Click("btnWatchCsv");
    EXPECT_EQ(Find<QLabel>("lblWatchCsv")->text(), "Log: watch.csv");
    WatchFor(3);

    // While watching only Stop (and Close) start nothing new.
    for (const char *Name :
         {"cbCOMPort", "cbBitrate", "edTimeout", "btnWatchStart", "btnWatchAdd", "btnWatchRemove",
          "btnWatchLoad", "btnWatchSave", "btnWatchCsv", "edWatchInterval", "btnScan"})
        EXPECT_FALSE(Find<QWidget>(Name)->isEnabled()) << Name;
    EXPECT_TRUE(Find<QWidget>("btnWatchStop")->isEnabled());
    EXPECT_TRUE(Find<QWidget>("btnClose")->isEnabled());
    // The page stays: another one would start a second job.
    Find<QTabWidget>("PageControl1")->setCurrentIndex(0);
    EXPECT_EQ(Find<QTabWidget>("PageControl1")->currentWidget(), Page);
    // The window answers meanwhile (the polls come from the worker).
    EXPECT_TRUE(WaitFor([&] { return Page->Stats(2).Errors >= 3; }));
    StopAndWait();
    ExpectIdle();
    EXPECT_TRUE(Msgs.empty()) << Msgs.front().Text.toStdString();

    const struct {
        int Row;
        const char *Value, *Min, *Max, *Mean, *Errors, *Reason;
    } Expected[] = {
        {0, "4242", "4242", "4242", "4242", "0", ""},
        {1, "11 °C", "11 °C", "11 °C", "11 °C", "0", ""},
        {2, "", "", "", "", nullptr, "No answer within the time-out"},
    };
    for (const auto &E : Expected) {
        SCOPED_TRACE(E.Row);
        EXPECT_EQ(Cell(E.Row, cValue), QString::fromUtf8(E.Value));
        EXPECT_EQ(Cell(E.Row, cMin), QString::fromUtf8(E.Min));
        EXPECT_EQ(Cell(E.Row, cMax), QString::fromUtf8(E.Max));
        EXPECT_EQ(Cell(E.Row, cMean), QString::fromUtf8(E.Mean));
        if (E.Errors) {
            EXPECT_EQ(Cell(E.Row, cErrors), E.Errors);
        }
        EXPECT_EQ(Cell(E.Row, cReason), E.Reason);
        EXPECT_EQ(Cell(E.Row, cLastRead).isEmpty(), E.Row == 2);
    }
    // The failed row counted every round; the others read every round.
    const long Polls = Page->Stats(0).Good;
    EXPECT_GE(Polls, 3);
    EXPECT_EQ(Page->Stats(1).Good, Polls);
    EXPECT_EQ(Page->Stats(2).Errors, Polls);
    EXPECT_EQ(Cell(2, cErrors), QString::number(Polls));
    EXPECT_EQ(Cell(2, cLabel), "99:0");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"))
                    .match(Cell(0, cLastRead))
                    .hasMatch())
        << Cell(0, cLastRead).toStdString();

    // The log, written by the window: header, one line per round.
    const std::vector<std::string> Log = Lines(ReadFileText(Csv));
    ASSERT_EQ(Log.size(), static_cast<size_t>(6 + Polls)) << ReadFileText(Csv);
    EXPECT_EQ(Log[0].rfind("# veldra-update ", 0), 0u) << Log[0];
    EXPECT_EQ(Log[1], "# port " + Sim->PtyPath() + ", 19200 baud, parity Even, 1 stop bit(s)");
    EXPECT_EQ(Log[2], "# Counts: address 20, register 0, int");
    EXPECT_EQ(Log[3], "# Temperature: address 20, register 110, float, °C");
    EXPECT_EQ(Log[4], "# 99:0: address 99, register 0, int");
    EXPECT_EQ(Log[5], "time,Counts,Temperature,99:0,errors");
    const QRegularExpression Iso(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    for (size_t I = 6; I < Log.size(); ++I) {
        SCOPED_TRACE(Log[I]);
        const std::vector<std::string> C = Cells(Log[I]);
        ASSERT_EQ(C.size(), 5u);
        EXPECT_TRUE(Iso.match(QString::fromStdString(C[0])).hasMatch());
        EXPECT_EQ(C[1], "4242");
        EXPECT_EQ(C[2], "11");
        EXPECT_EQ(C[3], "");
        EXPECT_EQ(C[4], "99:0: No answer within the time-out");
        if (I > 6) {
            EXPECT_LT(Cells(Log[I - 1])[0], C[0]);
        }
    }
    // A log holds one watch: the next one asks again.
    EXPECT_EQ(Find<QLabel>("lblWatchCsv")->text(), "No log");
}

// Registers that change with time (the simulator's sine and triangle):
// the statistics spread, every round reaches the chart, and the page is
// pictured as the README shows it.
TEST_F(WatchPageTest, ChangingValuesSpreadTheStatisticsAndTheChart) {
    Sim = std::make_unique<TSimProcess>(std::vector<std::string>{"modbus"});
    ASSERT_TRUE(Sim->Start());
    OpenForm();
    Page->SetRows({{1, 1002, rdtFloat, woMSWF, 2, "Temperature", 0.1, 20, "°C"},
                   {1, 1001, rdtInt, woMSWF, 1, "Flow", 1, 0, "l/min"}});
    Find<QComboBox>("cbWatchSpan")->setCurrentIndex(0);
    WatchFor(80);
    StopAndWait();
    for (int Row = 0; Row < 2; ++Row) {
        const TWatchStats &S = Page->Stats(Row);
        EXPECT_EQ(S.Errors, 0) << Row;
        ASSERT_TRUE(S.Min && S.Max) << Row;
        EXPECT_LT(*S.Min, *S.Max) << Row;
        EXPECT_EQ(Page->Chart().SampleCount(Row), S.Good) << Row;
    }
    // The sine of amplitude 100, scaled by 0.1 around 20.
    EXPECT_GE(*Page->Stats(0).Min, 10.0);
    EXPECT_LE(*Page->Stats(0).Max, 30.0);

    Form->resize(760, 560);
    QApplication::processEvents();
    const QString Shots = QStringLiteral(VELDRA_BINARY_DIR "/screenshots");
    QDir().mkpath(Shots);
    EXPECT_TRUE(Form->grab().save(Shots + "/devsetup-watch.png"));
}

// Each way a read fails marks its row with its own reason and counts it;
// the good row reads every round.
TEST_F(WatchPageTest, FailedReadsSayWhyRowByRow) {
    StartSim({"--bad-crc", "21"});
    OpenForm();
    Page->SetRows({{20, 0, rdtInt, woMSWF, 1, "Good", 1, 0, ""},
                   {21, 0, rdtInt, woMSWF, 1, "Damaged", 1, 0, ""},
                   {20, 9000, rdtInt, woMSWF, 1, "Nowhere", 1, 0, ""},
                   {99, 0, rdtInt, woMSWF, 1, "Silent", 1, 0, ""}});
    WatchFor(2);
    ASSERT_TRUE(WaitFor([&] { return Page->Stats(3).Errors >= 2; }));
    StopAndWait();
    const char *Reasons[] = {"", "Damaged answer (CRC error)",
                             "Modbus exception 2 (illegal data address)",
                             "No answer within the time-out"};
    for (int R = 0; R < 4; ++R) {
        SCOPED_TRACE(R);
        EXPECT_EQ(Cell(R, cReason), Reasons[R]);
        EXPECT_EQ(Page->Stats(R).Good > 0, R == 0);
        EXPECT_EQ(Page->Stats(R).Errors == 0, R == 0);
        EXPECT_EQ(Cell(R, cErrors), QString::number(Page->Stats(R).Errors));
    }
    EXPECT_TRUE(Msgs.empty());
}

TEST_F(WatchPageTest, APortThatGoesAwayEndsTheWatchWithItsReasonAndKeepsTheData) {
    StartSim();
    OpenForm();
    ThreeRows();
    WatchFor(2);
    Sim->Stop();
    ASSERT_TRUE(WaitFor([&] { return !Form->IsBusy(); }));
    ASSERT_EQ(Msgs.size(), 1u);
    EXPECT_EQ(Msgs[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Msgs[0].Text, "Port Disconnected.");
    EXPECT_EQ(Cell(0, cValue), "4242");
    EXPECT_EQ(Cell(1, cMax), QString::fromUtf8("11 °C"));
    EXPECT_GE(Page->Stats(0).Good, 2);
    ExpectIdle();
    EXPECT_TRUE(Form->close());
}

// An adapter unplugged between two rounds of a long interval ends the watch
// at the hot-plug event, not at the next round.
TEST_F(WatchPageTest, AnAdapterUnpluggedBetweenRoundsEndsTheWatchAtOnce) {
    StartSim();
    OpenForm();
    ThreeRows();
    Find<QSpinBox>("edWatchInterval")->setValue(3600 * 1000);
    Click("btnWatchStart");
    ASSERT_TRUE(WaitFor([&] { return Page->Stats(0).Good >= 1; }));
    // Another port coming or going leaves the watch alone.
    Form->findChild<THotPlugWatcher *>()->PostReload();
    QApplication::processEvents();
    EXPECT_TRUE(Form->IsWatching());
    SimListed = false;
    Form->findChild<THotPlugWatcher *>()->PostReload();
    ASSERT_TRUE(WaitFor([&] { return !Form->IsBusy(); }, 30000));
    ASSERT_EQ(Msgs.size(), 1u);
    EXPECT_EQ(Msgs[0].Text, "Port Disconnected.");
    EXPECT_EQ(Cell(0, cValue), "4242");
    ExpectIdle();
}

TEST_F(WatchPageTest, ClosingTheWindowStopsTheWatch) {
    StartSim();
    OpenForm();
    ThreeRows();
    WatchFor(1);
    // Refused for now; the window goes once the watch has ended.
    EXPECT_FALSE(Form->close());
    ASSERT_TRUE(WaitFor([&] { return !Form->IsBusy() && !Form->isVisible(); }));
    EXPECT_TRUE(Msgs.empty());
}

TEST_F(WatchPageTest, WhatStopsAWatchFromStarting) {
    StartSim();
    OpenForm();
    // No rows: the list's own words.
    Click("btnWatchStart");
    EXPECT_FALSE(Form->IsBusy());
    ASSERT_EQ(Msgs.size(), 1u);
    EXPECT_EQ(Msgs[0].Text, "The watch list cannot be used:\na list holds 1 to 64 rows");
    Msgs.clear();
    // A cell that is no number: the row and the field.
    ThreeRows();
    Table->item(1, cRegister)->setText("x1");
    Click("btnWatchStart");
    EXPECT_FALSE(Form->IsBusy());
    ASSERT_EQ(Msgs.size(), 1u);
    EXPECT_EQ(Msgs[0].Text,
              "The watch list cannot be used:\nrow 2: \"register\" must be a whole "
              "number 0..65535");
    Msgs.clear();
    Table->item(1, cRegister)->setText("110");
    // A log that cannot be written: nothing starts.
    const QString Bad = QString::fromStdString(Dir.File("no-such-folder/watch.csv"));
    Picked[TWatchFile::CsvLog] = Bad;
    Click("btnWatchCsv");
    Click("btnWatchStart");
    EXPECT_FALSE(Form->IsBusy());
    ASSERT_EQ(Msgs.size(), 1u);
    EXPECT_EQ(Msgs[0].Text, "The log file " + Bad +
                                " cannot be written. Choose another file with \"Log to CSV...\".");
    ExpectIdle();
}

TEST_F(WatchPageTest, ListSavedAndLoadedAndABadFileRefused) {
    OpenForm();
    // A row from the register page's block, edited in place.
    Find<QSpinBox>("edUpdAddr")->setValue(7);
    Find<TNumberEdit>("edUpdStartReg")->setText("120");
    Find<QComboBox>("cbUpdDataType")->setCurrentText("uint32");
    Find<QComboBox>("cbUpdDataOrder")->setCurrentText("LSWF");
    Click("btnWatchAdd");
    Click("btnWatchAdd");  // the same block again: a label of its own
    ASSERT_EQ(Table->rowCount(), 2);
    EXPECT_EQ(Cell(0, cType), "uint32");
    EXPECT_EQ(Cell(0, cOrder), "LSWF");
    EXPECT_EQ(Cell(0, cCount), "2");
    EXPECT_EQ(Cell(0, cLabel), "7:120");
    EXPECT_EQ(Cell(1, cLabel), "7:120 (2)");
    Table->item(1, cType)->setText("string");
    Table->item(1, cCount)->setText("8");
    Table->item(1, cUnit)->setText("mbar");
    Table->item(0, cScale)->setText("0.5");
    const TWatchListRead Before = Page->Rows();
    ASSERT_TRUE(Before.Ok()) << Before.Error;
    EXPECT_EQ(Before.Rows[1].Type, rdtString);
    EXPECT_EQ(Before.Rows[1].Order, woMSWF);  // a string has none

    const std::string File = Dir.File("list.json");
    Picked[TWatchFile::SaveList] = QString::fromStdString(File);
    Click("btnWatchSave");
    EXPECT_EQ(ParseWatchList(ReadFileText(File)).Rows, Before.Rows);
    Page->SetRows({});
    Picked[TWatchFile::OpenList] = QString::fromStdString(File);
    Click("btnWatchLoad");
    EXPECT_EQ(Page->Rows().Rows, Before.Rows);
    EXPECT_TRUE(Msgs.empty());

    // A bad file: the list's reason, the table as it was.
    const std::string Bad = Dir.Write("bad.json", R"({"watch": [{"address": 0, "register": 1}]})");
    Picked[TWatchFile::OpenList] = QString::fromStdString(Bad);
    Click("btnWatchLoad");
    ASSERT_EQ(Msgs.size(), 1u);
    EXPECT_EQ(Msgs[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Msgs[0].Text.toStdString(), "The watch list cannot be loaded:\n" + Bad +
                                              ": row 1: \"address\" must be a whole number 1..247");
    EXPECT_EQ(Page->Rows().Rows, Before.Rows);

    // Remove takes the chosen row.
    Table->setCurrentCell(0, cLabel);
    Click("btnWatchRemove");
    ASSERT_EQ(Table->rowCount(), 1);
    EXPECT_EQ(Cell(0, cLabel), "7:120 (2)");
}

TEST_F(WatchPageTest, ChartSpanPauseAndPicture) {
    OpenForm();
    auto *Span = Find<QComboBox>("cbWatchSpan");
    const struct {
        int Index;
        qint64 Ms;
    } Spans[] = {{0, 60000}, {1, 600000}, {2, 3600000}, {3, 86400000}};
    for (const auto &S : Spans) {
        Span->setCurrentIndex(S.Index);
        EXPECT_EQ(Page->Chart().SpanMs(), S.Ms) << S.Index;
    }
    Click("btnWatchPause");
    EXPECT_TRUE(Page->Chart().Paused());
    EXPECT_EQ(Find<QPushButton>("btnWatchPause")->text(), "Res&ume");
    Click("btnWatchPause");
    EXPECT_FALSE(Page->Chart().Paused());
    EXPECT_EQ(Find<QPushButton>("btnWatchPause")->text(), "Pa&use");

    const std::string Png = Dir.File("chart.png");
    Picked[TWatchFile::Png] = QString::fromStdString(Png);
    Click("btnWatchPng");
    EXPECT_TRUE(Msgs.empty());
    QFile F(QString::fromStdString(Png));
    ASSERT_TRUE(F.open(QIODevice::ReadOnly));
    EXPECT_EQ(F.read(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    // A place that cannot be written says so.
    Picked[TWatchFile::Png] = QString::fromStdString(Dir.File("no-such-folder/chart.png"));
    Click("btnWatchPng");
    ASSERT_EQ(Msgs.size(), 1u);
    EXPECT_TRUE(Msgs[0].Text.startsWith("The picture cannot be saved to "))
        << Msgs[0].Text.toStdString();
}

TEST_F(WatchPageTest, TheWatchPageHasRoomAndTheOthersKeepTheirSize) {
    OpenForm();
    EXPECT_GE(Form->width(), 560);
    EXPECT_GE(Form->height(), 460);
    Find<QTabWidget>("PageControl1")->setCurrentIndex(0);
    EXPECT_EQ(Form->size(), QSize(394, 372));
    // Every tab stays in view (a long title shortened when the fonts make
    // them too wide for the window).
    auto *Tabs = Find<QTabWidget>("PageControl1");
    for (int I = 0; I < Tabs->count(); ++I)
        EXPECT_LE(Tabs->tabBar()->tabRect(I).right(), Tabs->tabBar()->width())
            << I << " " << Tabs->tabText(I).toStdString() << " "
            << Tabs->tabBar()->tabRect(I).width() << " of " << Tabs->tabBar()->width();
}

}  // namespace
