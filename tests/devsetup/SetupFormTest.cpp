// The setup window driven by object name against the simulated Modbus line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FaultyLink.h"
#include "PortMaster.h"
#include "Ser2Net.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "devsetup/DevSetupForm.h"
#include "devsetup/NumberEdit.h"
#include "jobs/PortsJob.h"
#include "modbus/ModbusRTU.h"
#include "serial/ComPort.h"
#include "serial/LinkFactory.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"
#include "widgets/HotPlugWatcher.h"
#include "widgets/MsgBox.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString &Text, std::ostream *Os) {
    *Os << '"' << Text.toStdString() << '"';
}

namespace {

const char SimPortText[] = "Simulated line (pty)";

// Register contents of the test devices beyond the demo line (addresses 1..5).
const char RegisterFile[] = R"({"devices": [
  {"address": 1, "profile": "map18", "holding": {"56": [9600, 3, 12, 300]}},
  {"address": 6, "profile": "plain", "text": {"18": ["WWW.veldrasens.com", 32]}},
  {"address": 7, "profile": "map18", "holding": {"15": 6661}},
  {"address": 20, "profile": "plain",
   "holding": {"0": [4242], "100": [65535, 65535], "110": [16256, 0], "120": [2384, 4772],
               "130": [16706, 17152, 4660, 22136], "140": [0, 0, 0, 0],
               "150": [32704, 0, 32640, 0, 65408, 0]},
   "inputs": {"1": [1, 0, 0, 0]}}
]})";

struct TMsg {
    TMsgKind Kind;
    QString Title;
    QString Text;
};

class SetupFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string Ini = Dir.Write("catalogue.ini", "[SENSORS]\n7=Probe A\n1042=Probe B\n");
        Catalogue = std::make_unique<TSettings>(Ini);
        Settings = Catalogue.get();
        SetMsgPresenter([this](TMsgKind Kind, const QString &Title, const QString &Text) {
            Msgs.push_back({Kind, Title, Text});
            return Kind == TMsgKind::YesNo ? mrYes : mrOk;
        });
        SetPortQuery([this](std::vector<TComListData> &Ports) {
            ++QueryCalls;
            if (Form) QueriedWhileScanning |= !Find<QPushButton>("btnScan")->isEnabled();
            if (Sim) Ports.push_back({Sim->PtyPath(), SimPortText});
            if (ExtraPort) Ports.push_back({"/dev/ttyVELDRA9", "Extra adapter (/dev/ttyVELDRA9)"});
        });
    }

    void TearDown() override {
        Form.reset();
        SetLinkMaker({});
        if (Sim) Sim->Stop();
        SetPortQuery(nullptr);
        SetMsgPresenter(nullptr);
        Settings = nullptr;
    }

    void StartSim(std::vector<std::string> Extra = {}) {
        const std::string Regs = Dir.Write("registers.json", RegisterFile);
        std::vector<std::string> Args{"modbus", "--log", "--profiles", "--registers", Regs};
        Args.insert(Args.end(), Extra.begin(), Extra.end());
        Sim = std::make_unique<TSimProcess>(Args);
        ASSERT_TRUE(Sim->Start());
    }

    // A fresh window on the simulated line with a generous time-out.
    void OpenForm(bool ChoosePort = true, int TimeoutMs = 400) {
        Form = std::make_unique<TDevSetupForm>(Catalogue.get());
        Form->show();
        if (ChoosePort)
            Find<QComboBox>("cbCOMPort")
                ->setCurrentIndex(Find<QComboBox>("cbCOMPort")->findText(SimPortText));
        Find<QSpinBox>("edTimeout")->setValue(TimeoutMs);
    }

    template <class T>
    T *Find(const char *Name) {
        T *W = Form->findChild<T *>(QString::fromLatin1(Name));
        if (!W) ADD_FAILURE() << "no widget " << Name;
        return W;
    }
    TNumberEdit *Num(const char *Name) { return Find<TNumberEdit>(Name); }
    // Clicks a button and, when that started a job, waits until it has
    // ended. OnEnd runs the moment it ends, before anything else queued.
    void Click(const char *Name, const std::function<void()> &OnEnd = {}) {
        const bool WasBusy = Form->IsBusy();
        bool Ended = false;
        const auto C = QObject::connect(Form.get(), &TDevSetupForm::JobFinished, [&] {
            Ended = true;
            if (OnEnd) OnEnd();
        });
        Find<QAbstractButton>(Name)->click();
        if (!WasBusy && Form->IsBusy()) {
            QElapsedTimer Clock;
            Clock.start();
            while (!Ended && Clock.elapsed() < 180000)
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
            EXPECT_TRUE(Ended) << Name;
        }
        QObject::disconnect(C);
    }

    // Next request the line saw, as "REQ <hex> -> <outcome>".
    std::string NextRequest() {
        std::string Line;
        if (!Sim->WaitForLine("REQ ", Line, 10000)) return "(none)";
        return Line;
    }
    // Hex bytes of the next request, without the CRC.
    static std::string Hex(const std::vector<uint8_t> &Bytes) {
        std::string S;
        char B[4];
        for (uint8_t V : Bytes) {
            std::snprintf(B, sizeof B, S.empty() ? "%02X" : " %02X", V);
            S += B;
        }
        return S;
    }
    void ExpectNextRequest(const std::string &Prefix) {
        const std::string Line = NextRequest();
        EXPECT_EQ(Line.rfind("REQ " + Prefix, 0), 0u) << "expected " << Prefix << ", got " << Line;
    }
    // Proves the line saw nothing more from the window: a request of our
    // own must be the next one logged.
    void ExpectNothingMoreSent() {
        TPortMaster Probe(1);
        TPortParams P;
        P.Timeout = 1000;
        ASSERT_TRUE(Probe.Open(Sim->PtyPath(), P));
        TModbusRegisters R(1);
        EXPECT_TRUE(Probe.ReadHoldingRegs(63, R));
        Probe.Close();
        ExpectNextRequest("01 03 00 3F 00 01");
    }

    void ExpectOneMsg(TMsgKind Kind, const QString &Text) {
        ASSERT_EQ(Msgs.size(), 1u) << (Msgs.empty() ? "no message" : Msgs[0].Text.toStdString());
        EXPECT_EQ(Msgs[0].Kind, Kind);
        EXPECT_EQ(Msgs[0].Title, AppTitle());
        EXPECT_EQ(Msgs[0].Text, Text);
    }

    // Clicks Scan; Hook runs every time the scan serves the event queue.
    void RunScan(int First, int Last, std::function<void()> Hook = {}) {
        Find<QSpinBox>("edScanFirstA")->setValue(First);
        Find<QSpinBox>("edScanLastA")->setValue(Last);
        QTimer Timer;
        Timer.setInterval(0);
        if (Hook) {
            QObject::connect(&Timer, &QTimer::timeout, Hook);
            Timer.start();
        }
        Click("btnScan", [&] { Timer.stop(); });
        Timer.stop();
    }

    std::vector<std::vector<QString>> ScanRows() {
        std::vector<std::vector<QString>> Rows;
        auto *LV = Find<QTreeWidget>("LVScan");
        for (int i = 0; i < LV->topLevelItemCount(); ++i) {
            auto *It = LV->topLevelItem(i);
            Rows.push_back({It->text(0), It->text(1), It->text(2)});
        }
        return Rows;
    }

    void ExpectIdle() {
        for (const char *Name : {"cbCOMPort", "btnReload", "cbBitrate", "cbParity", "cbStopBits",
                                 "edTimeout", "edScanFirstA", "edScanLastA", "btnScan", "btnClose"})
            EXPECT_TRUE(Find<QWidget>(Name)->isEnabled()) << Name;
        EXPECT_FALSE(Find<QWidget>("btnStopScan")->isEnabled());
        EXPECT_EQ(Find<QProgressBar>("pbScanProgress")->value(), 0);
        // Idle, the empty bar would pass for a text field: it is not shown.
        EXPECT_TRUE(Find<QProgressBar>("pbScanProgress")->isHidden());
    }

    static void SaveShot(QWidget *W, const char *Name) {
        const QString DirPath = QStringLiteral(VELDRA_BINARY_DIR "/screenshots");
        QDir().mkpath(DirPath);
        EXPECT_TRUE(W->grab().save(DirPath + "/" + Name));
    }

    TTempDir Dir;
    std::unique_ptr<TSettings> Catalogue;
    std::unique_ptr<TSimProcess> Sim;
    std::unique_ptr<TDevSetupForm> Form;
    std::vector<TMsg> Msgs;
    int QueryCalls = 0;
    bool QueriedWhileScanning = false;
    bool ExtraPort = false;
};

// ---- Frame -------------------------------------------------------------

TEST_F(SetupFormTest, OpensWithDefaults) {
    OpenForm(false);
    Form->setParent(nullptr);
    EXPECT_EQ(Form->windowTitle(), "Setup");
    EXPECT_EQ(Form->size(), QSize(394, 372));

    auto *Pages = Find<QTabWidget>("PageControl1");
    EXPECT_EQ(Pages->currentWidget(), Find<QWidget>("TabSheet1"));
    EXPECT_EQ(Pages->tabText(0), "Scan for sensors");
    EXPECT_EQ(Pages->tabText(1), "Comm setup");
    EXPECT_EQ(Pages->tabText(2), "Regs check/update");

    EXPECT_EQ(Find<QComboBox>("cbCOMPort")->currentIndex(), -1);
    EXPECT_EQ(Find<QComboBox>("cbCOMPort")->count(), 0);  // no simulator running
    struct TList {
        const char *Name;
        QStringList Items;
        QString Chosen;
    };
    const TList Lists[] = {
        {"cbBitrate", {"2400", "4800", "9600", "19200", "38400", "57600"}, "19200"},
        {"cbParity", {"None", "Even", "Odd"}, "Even"},
        {"cbStopBits", {"1", "2"}, "1"},
        {"cbUpdDataType", {"float", "int", "uint16", "BCD", "uint32", "string", "bit"}, "int"},
        {"cbUpdDataOrder", {"LSWF", "MSWF"}, "MSWF"},
    };
    for (const TList &L : Lists) {
        auto *C = Find<QComboBox>(L.Name);
        QStringList Items;
        for (int i = 0; i < C->count(); ++i) Items << C->itemText(i);
        EXPECT_EQ(Items, L.Items) << L.Name;
        EXPECT_EQ(C->currentText(), L.Chosen) << L.Name;
    }
    struct TSpin {
        const char *Name;
        int Min, Max, Value;
    };
    const TSpin Spins[] = {{"edScanFirstA", 1, 247, 1},
                           {"edScanLastA", 1, 247, 247},
                           {"edCommAddr", 1, 247, 1},
                           {"edUpdAddr", 1, 247, 1},
                           {"edNumRegs", 1, 123, 1}};
    for (const TSpin &S : Spins) {
        auto *B = Find<QSpinBox>(S.Name);
        EXPECT_EQ(B->minimum(), S.Min) << S.Name;
        EXPECT_EQ(B->maximum(), S.Max) << S.Name;
        EXPECT_EQ(B->value(), S.Value) << S.Name;
    }
    auto *Timeout = Find<QSpinBox>("edTimeout");
    EXPECT_EQ(Timeout->minimum(), 100);
    EXPECT_EQ(Timeout->maximum(), 3000);

    for (const char *Name : {"edCommBRReg", "edCommBRVal", "edCommPDSReg", "edCommPDSVal",
                             "edCommAdrReg", "edCommAdrVal", "edUpdStartReg"})
        EXPECT_TRUE(Num(Name)->IsEmpty()) << Name;
    EXPECT_EQ(Find<QLabel>("lblFound")->text(), "Scanned: 0, found: 0");
    EXPECT_FALSE(Find<QWidget>("btnStopScan")->isEnabled());
    // The stop button says what it does, with an icon.
    EXPECT_EQ(Find<QToolButton>("btnStopScan")->text().remove(QLatin1Char('&')), "Stop");
    EXPECT_FALSE(Find<QToolButton>("btnStopScan")->icon().isNull());
    EXPECT_EQ(Find<QToolButton>("btnStopScan")->toolTip(), "Stop scan");
    auto *LV = Find<QTreeWidget>("LVScan");
    ASSERT_EQ(LV->columnCount(), 3);
    EXPECT_EQ(LV->headerItem()->text(0), "Address");
    EXPECT_EQ(LV->headerItem()->text(1), "Device Code");
    EXPECT_EQ(LV->headerItem()->text(2), "FW Version");
    EXPECT_FALSE(LV->header()->sectionsClickable());

    // Register page on "int": one register, MSWF locked, the number edit.
    EXPECT_EQ(Find<QSpinBox>("edNumRegs")->value(), 1);
    EXPECT_FALSE(Find<QWidget>("edNumRegs")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("cbUpdDataOrder")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("edUpdValueNum")->isHidden());
    EXPECT_TRUE(Find<QWidget>("edUpdValueStr")->isHidden());
    EXPECT_FALSE(Num("edUpdValueNum")->RealValue().has_value());

    Form->setFixedSize(394, 372);
}

TEST_F(SetupFormTest, PortParamsFollowTheSharedControls) {
    OpenForm(false);
    struct TCase {
        const char *Baud, *Parity, *Stop;
        int Timeout;
        TBaudRate ExpBaud;
        TParityBits ExpParity;
        TStopBits ExpStop;
    };
    const TCase Cases[] = {
        {"19200", "Even", "1", 100, br19200, prEven, sbOneStopBit},
        {"2400", "None", "2", 3000, br2400, prNone, sbTwoStopBits},
        {"4800", "Odd", "1", 250, br4800, prOdd, sbOneStopBit},
        {"9600", "Even", "2", 100, br9600, prEven, sbTwoStopBits},
        {"38400", "None", "1", 100, br38400, prNone, sbOneStopBit},
        {"57600", "Odd", "2", 100, br57600, prOdd, sbTwoStopBits},
    };
    for (const TCase &C : Cases) {
        Find<QComboBox>("cbBitrate")->setCurrentText(C.Baud);
        Find<QComboBox>("cbParity")->setCurrentText(C.Parity);
        Find<QComboBox>("cbStopBits")->setCurrentText(C.Stop);
        Find<QSpinBox>("edTimeout")->setValue(C.Timeout);
        const TPortParams P = Form->GetPortParams();
        EXPECT_EQ(P.BaudRate, C.ExpBaud) << C.Baud;
        EXPECT_EQ(P.ParityBits, C.ExpParity) << C.Parity;
        EXPECT_EQ(P.StopBits, C.ExpStop) << C.Stop;
        EXPECT_EQ(P.Timeout, C.Timeout);
    }
}

TEST_F(SetupFormTest, ReloadKeepsTheChosenPortWhileItIsThere) {
    StartSim();
    struct TCase {
        const char *Name;
        bool ChooseSim;
        bool ExtraAfter;
        bool StopSimBefore;
        QString ChosenAfter;  // empty: nothing chosen
    };
    const TCase Cases[] = {
        {"kept", true, true, false, SimPortText},
        {"none chosen stays none", false, true, false, ""},
        {"gone", true, false, true, ""},
    };
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Name);
        ExtraPort = false;
        OpenForm(C.ChooseSim);
        ExtraPort = C.ExtraAfter;
        std::unique_ptr<TSimProcess> Keep;
        if (C.StopSimBefore) Keep = std::move(Sim);  // the query no longer lists it
        Click("btnReload");
        auto *Combo = Find<QComboBox>("cbCOMPort");
        if (C.ChosenAfter.isEmpty()) {
            EXPECT_EQ(Combo->currentIndex(), -1);
        } else {
            EXPECT_EQ(Combo->currentText(), C.ChosenAfter);
        }
        EXPECT_EQ(Combo->count(), (Sim ? 1 : 0) + (C.ExtraAfter ? 1 : 0));
        if (Keep) Sim = std::move(Keep);
        Form.reset();
    }
    // A hot-plug notification reloads from the event queue, not at once.
    OpenForm(true);
    ExtraPort = true;
    const int Before = QueryCalls;
    Form->findChild<THotPlugWatcher *>()->PostReload();
    EXPECT_EQ(QueryCalls, Before);
    QApplication::processEvents();
    EXPECT_EQ(QueryCalls, Before + 1);
    EXPECT_EQ(Find<QComboBox>("cbCOMPort")->count(), 2);
    EXPECT_EQ(Find<QComboBox>("cbCOMPort")->currentText(), SimPortText);
}

TEST_F(SetupFormTest, MinimisingTakesTheWholeApplication) {
    QWidget Owner;
    Owner.show();
    Form = std::make_unique<TDevSetupForm>(Catalogue.get(), &Owner);
    Form->show();
    Form->showMinimized();
    QApplication::processEvents();
    EXPECT_TRUE(Owner.windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(Form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(Form->windowFlags() & Qt::WindowMaximizeButtonHint);
    Form.reset();
}

// ---- Scan page ---------------------------------------------------------

TEST_F(SetupFormTest, ScanListsAndIdentifiesTheDevices) {
    StartSim();
    OpenForm();
    std::vector<int> Progress;
    RunScan(1, 10, [&] {
        const int P = Find<QProgressBar>("pbScanProgress")->value();
        if (Progress.empty() || Progress.back() != P) Progress.push_back(P);
    });
    EXPECT_TRUE(Msgs.empty());
    const std::vector<std::vector<QString>> Expected{
        {"1", "7 (0x00000007) Probe A", "1.05"},     // vendor text at 18
        {"2", "1042 (0x00000412) Probe B", "2.10"},  // at 300, after 18 did not match
        {"3", "Unknown", "3.02"},                    // at 800, not in the catalogue
        {"4", "N/A", "N/A"},                         // no vendor text
        {"5", "N/A", "N/A"},                         // probe answered with a wrong CRC
        {"6", "N/A", "N/A"},                         // vendor text in the wrong case
        {"7", "7 (0x00000007) Probe A", "N/A"},      // version 0x1A05 is no BCD
    };
    EXPECT_EQ(ScanRows(), Expected);
    EXPECT_EQ(Find<QLabel>("lblFound")->text(), "Scanned: 10, found: 7");
    EXPECT_EQ(Progress.back(), 100);
    ExpectIdle();
    SaveShot(Form.get(), "devsetup-scan-finished.png");
}

// A line behind ser2net (RFC 2217), named in [PORTS] of the settings file:
// listed after the local port, scanned as the local line is, and still
// listed and chosen after a hot-plug reload.
TEST_F(SetupFormTest, ScanOnANetworkPortOfTheSettingsFile) {
    StartSim();
    TSer2Net Server({{TSer2Net::TMode::Rfc2217, Sim->PtyPath()}});
    ASSERT_TRUE(Server.Start());
    const std::string Ini =
        Dir.Write("ports.ini",
                  "[SENSORS]\n7=Probe A\n1042=Probe B\n[PORTS]\nCabinet 3=" + Server.Url(0) + "\n");
    Catalogue = std::make_unique<TSettings>(Ini);
    Settings = Catalogue.get();
    UseNetworkPorts(Settings);
    const QString NetText = QString::fromStdString("Cabinet 3 (" + Server.Url(0) + ")");
    OpenForm(false);
    auto *Combo = Find<QComboBox>("cbCOMPort");
    ASSERT_EQ(Combo->count(), 2);
    EXPECT_EQ(Combo->itemText(0), SimPortText);
    EXPECT_EQ(Combo->itemText(1), NetText);
    Combo->setCurrentIndex(1);
    RunScan(1, 3);
    EXPECT_TRUE(Msgs.empty()) << (Msgs.empty() ? "" : Msgs[0].Text.toStdString());
    const std::vector<std::vector<QString>> Expected{
        {"1", "7 (0x00000007) Probe A", "1.05"},
        {"2", "1042 (0x00000412) Probe B", "2.10"},
        {"3", "Unknown", "3.02"},
    };
    EXPECT_EQ(ScanRows(), Expected);
    ExpectIdle();
    Form->findChild<THotPlugWatcher *>()->PostReload();
    QApplication::processEvents();
    EXPECT_EQ(Combo->count(), 2);
    EXPECT_EQ(Combo->currentText(), NetText);
    Form.reset();
    UseNetworkPorts(nullptr);
}

TEST_F(SetupFormTest, ScanRefusesWithoutPortOrWithAnInvertedRange) {
    StartSim();
    struct TCase {
        bool ChoosePort;
        int First, Last;
        const char *Msg;
    };
    const TCase Cases[] = {{false, 1, 10, "COM port not selected"},
                           {true, 5, 4, "Invalid addresses"}};
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Msg);
        Msgs.clear();
        OpenForm(C.ChoosePort);
        auto *LV = Find<QTreeWidget>("LVScan");
        new QTreeWidgetItem(LV, QStringList{"99", "old", "row"});
        Find<QLabel>("lblFound")->setText("Scanned: 9, found: 9");
        RunScan(C.First, C.Last);
        ExpectOneMsg(TMsgKind::Error, C.Msg);
        EXPECT_EQ(LV->topLevelItemCount(), 0);
        EXPECT_EQ(Find<QLabel>("lblFound")->text(), "Scanned: 0, found: 0");
        ExpectIdle();
        Form.reset();
    }
    ExpectNothingMoreSent();
}

TEST_F(SetupFormTest, StopEndsTheScanAfterTheCurrentAddressKeepingTheRows) {
    StartSim();
    OpenForm();
    int Clicks = 0;
    RunScan(1, 247, [&] {
        if (Find<QTreeWidget>("LVScan")->topLevelItemCount() >= 2 && Clicks == 0) {
            ++Clicks;
            Click("btnStopScan");
            EXPECT_FALSE(Find<QWidget>("btnStopScan")->isEnabled());
        }
    });
    EXPECT_EQ(Clicks, 1);
    const auto Rows = ScanRows();
    ASSERT_EQ(Rows.size(), 2u);
    EXPECT_EQ(Rows[1][0], "2");
    EXPECT_EQ(Find<QLabel>("lblFound")->text(), "Scanned: 2, found: 2");
    ExpectIdle();
}

// "Search all line settings": the scan runs the line search, the rows gain
// the settings a device answered at, and those can be taken into the
// connection settings.
TEST_F(SetupFormTest, LineSearchFindsTheSensorAndOffersItsSettings) {
    StartSim({"--device", "17:map18", "--device-line", "17:38400:8O1"});
    OpenForm();
    // A loaded machine must not make the simulator miss a probe.
    Form->SetProbeTimeout(100);
    auto *Line = Find<QTreeWidget>("LVScan");
    EXPECT_EQ(Line->columnCount(), 3);
    Find<QCheckBox>("chkSearchAll")->setChecked(true);
    int MostProgress = 0;
    RunScan(15, 18, [&] {
        MostProgress = std::max(MostProgress, Find<QProgressBar>("pbScanProgress")->value());
    });
    ASSERT_EQ(Line->columnCount(), 4);
    EXPECT_EQ(Line->headerItem()->text(3), "Line settings");
    ASSERT_EQ(Line->topLevelItemCount(), 1);
    const QTreeWidgetItem *Row = Line->topLevelItem(0);
    EXPECT_EQ(Row->text(0), "17");
    EXPECT_EQ(Row->text(1), "7 (0x00000007) Probe A");
    EXPECT_EQ(Row->text(2), "1.05");
    EXPECT_EQ(Row->text(3), "38400 8O1");
    // The window's 19200 8E1 first, then 9600 (three parities), 19200 (the
    // two left), 38400 8E1, 8N1, 8O1: nine settings of four addresses.
    EXPECT_EQ(Find<QLabel>("lblFound")->text(), "Scanned: 36, found: 1");
    EXPECT_GE(MostProgress, 40);
    ExpectOneMsg(TMsgKind::YesNo,
                 "Found at 38400 8O1. Use these line settings for the connection?");
    EXPECT_EQ(Find<QComboBox>("cbBitrate")->currentText(), "38400");
    EXPECT_EQ(Find<QComboBox>("cbParity")->currentData().toString(), "Odd");
    EXPECT_EQ(Find<QComboBox>("cbStopBits")->currentText(), "1");
    ExpectIdle();
    EXPECT_TRUE(Find<QCheckBox>("chkSearchAll")->isEnabled());

    // Nobody there: one box says so. A plain scan then looks as before.
    Msgs.clear();
    Find<QComboBox>("cbBitrate")->setCurrentText("19200");
    RunScan(30, 31);
    EXPECT_EQ(Line->topLevelItemCount(), 0);
    ExpectOneMsg(TMsgKind::Info, "No device answered at any of the line settings tried.");
    Msgs.clear();
    Find<QCheckBox>("chkSearchAll")->setChecked(false);
    RunScan(1, 1);
    EXPECT_EQ(Line->columnCount(), 3);
    EXPECT_EQ(Line->topLevelItemCount(), 1);
    EXPECT_TRUE(Msgs.empty());
}

// A line whose settings are its server's cannot be searched: said before
// anything is sent.
TEST_F(SetupFormTest, LineSearchRefusesALineWhoseSettingsAreItsServers) {
    SetPortQuery([](std::vector<TComListData> &Ports) {
        Ports.push_back({"tcp://127.0.0.1:9", "Server (tcp://127.0.0.1:9)"});
    });
    Form = std::make_unique<TDevSetupForm>(Catalogue.get());
    Form->show();
    Find<QComboBox>("cbCOMPort")->setCurrentIndex(0);
    Find<QCheckBox>("chkSearchAll")->setChecked(true);
    RunScan(1, 247);
    ExpectOneMsg(TMsgKind::Error,
                 "The line settings of tcp://127.0.0.1:9 are its server's and cannot be changed "
                 "from here: search on a local port or through rfc2217://.");
    EXPECT_EQ(Find<QTreeWidget>("LVScan")->topLevelItemCount(), 0);
}

TEST_F(SetupFormTest, CloseAndPageChangeAreRefusedWhileScanning) {
    StartSim();
    OpenForm();
    auto *Pages = Find<QTabWidget>("PageControl1");
    bool Tried = false;
    RunScan(8, 10, [&] {  // absent addresses: each waits for the time-out
        if (Tried) return;
        Tried = true;
        EXPECT_FALSE(Form->close());
        Form->reject();
        Click("btnClose");  // disabled: nothing
        Pages->setCurrentIndex(1);
        Pages->tabBar()->setCurrentIndex(2);
        EXPECT_TRUE(Form->isVisible());
        EXPECT_EQ(Pages->currentIndex(), 0);
    });
    EXPECT_TRUE(Tried);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Pages->currentIndex(), 0);
    EXPECT_EQ(Find<QLabel>("lblFound")->text(), "Scanned: 3, found: 0");

    // Idle again: both are allowed.
    Pages->setCurrentIndex(2);
    EXPECT_EQ(Pages->currentIndex(), 2);
    EXPECT_TRUE(Form->close());
    EXPECT_FALSE(Form->isVisible());
}

TEST_F(SetupFormTest, HotPlugReloadDuringAScanWaitsForItsEnd) {
    StartSim();
    OpenForm();
    const int Before = QueryCalls;
    int Posts = 0;
    RunScan(1, 4, [&] {
        if (Posts < 2) {  // two notifications, one reload
            ++Posts;
            ExtraPort = true;
            Form->findChild<THotPlugWatcher *>()->PostReload();
        }
    });
    EXPECT_EQ(Posts, 2);
    EXPECT_FALSE(QueriedWhileScanning);
    EXPECT_EQ(QueryCalls, Before + 1);
    EXPECT_EQ(ScanRows().size(), 4u);
    auto *Combo = Find<QComboBox>("cbCOMPort");
    EXPECT_EQ(Combo->count(), 2);
    EXPECT_EQ(Combo->currentText(), SimPortText);
    ExpectIdle();
}

// A port error in the middle of a device's identification: its row is
// finished and the counts add up before the message comes.
TEST_F(SetupFormTest, PortErrorDuringIdentificationLeavesAWholeRowAndTrueCounts) {
    // Address 1 takes four requests (probe, vendor text, ID, version); the
    // line answers the probe of address 2 and hangs up at its vendor read.
    StartSim({"--hangup-after", "5"});
    OpenForm();
    std::vector<std::vector<QString>> RowsAtMessage;
    QString CountsAtMessage;
    SetMsgPresenter([&](TMsgKind Kind, const QString &Title, const QString &Text) {
        Msgs.push_back({Kind, Title, Text});
        RowsAtMessage = ScanRows();
        CountsAtMessage = Find<QLabel>("lblFound")->text();
        return mrOk;
    });
    RunScan(1, 10);
    ExpectOneMsg(TMsgKind::Error, "Port Disconnected.");
    const std::vector<std::vector<QString>> Expected{
        {"1", "7 (0x00000007) Probe A", "1.05"},
        {"2", "N/A", "N/A"},
    };
    EXPECT_EQ(RowsAtMessage, Expected);
    EXPECT_EQ(CountsAtMessage, "Scanned: 2, found: 2");
    EXPECT_EQ(ScanRows(), Expected);
    EXPECT_EQ(Find<QLabel>("lblFound")->text(), "Scanned: 2, found: 2");
    ExpectIdle();
}

TEST_F(SetupFormTest, PortErrorEndsTheScanAndReachesTheDefaultHandler) {
    // The line hangs up after the probe and the first vendor read of address 1.
    StartSim({"--hangup-after", "2"});
    OpenForm();
    RunScan(1, 10);
    ASSERT_EQ(Msgs.size(), 1u);
    EXPECT_EQ(Msgs[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Msgs[0].Text, "Port Disconnected.");
    EXPECT_LE(ScanRows().size(), 1u);
    ExpectIdle();
    EXPECT_TRUE(Form->close());
}

// Something that is neither a port, a file nor a standard error escapes the
// scan job: the page is put back as after any end (controls enabled, Stop
// disabled) and the error says what was raised.
TEST_F(SetupFormTest, AnyErrorRaisedByTheScanEndsItAndFreesThePage) {
    struct TOddFault {};
    struct TRow {
        int RaiseAtWrite;  // the first write is address 1's probe
        std::function<void()> Raise;
        const char *Shown;
    };
    const TRow Rows[] = {
        {1, [] { throw 42; }, "Unknown error (exception of type int)"},
        {6, [] { throw TOddFault{}; }, "TOddFault"},
    };
    StartSim();
    for (const TRow &R : Rows) {
        int Writes = 0;
        SetLinkMaker([&](const std::string &) {
            return std::make_unique<TFaultyLink>(std::make_unique<TComPort>(), [&] {
                if (++Writes == R.RaiseAtWrite) R.Raise();
            });
        });
        OpenForm();
        RunScan(1, 10);
        ASSERT_EQ(Msgs.size(), 1u) << R.Shown;
        EXPECT_EQ(Msgs[0].Kind, TMsgKind::Error);
        EXPECT_TRUE(Msgs[0].Text.contains(QString::fromLatin1(R.Shown)))
            << Msgs[0].Text.toStdString();
        Msgs.clear();
        ExpectIdle();
        EXPECT_FALSE(Form->IsBusy());
        EXPECT_TRUE(Form->close()) << R.Shown;
        Form.reset();
    }
    SetLinkMaker({});
}

// ---- Comm setup page ---------------------------------------------------

TEST_F(SetupFormTest, CommReadFillsTheRowsThatHaveARegister) {
    StartSim();
    OpenForm();
    struct TCase {
        const char *Name;
        int Addr;
        const char *Regs[3];
        const char *Values[3];          // after the read
        std::vector<std::string> Sent;  // requests, without CRC
    };
    const TCase Cases[] = {
        {"address row only", 1, {"", "", "58"}, {"", "", "12"}, {"01 03 00 3A 00 01"}},
        {"all rows",
         1,
         {"56", "57", "58"},
         {"9600", "3", "12"},
         {"01 03 00 38 00 01", "01 03 00 39 00 01", "01 03 00 3A 00 01"}},
        {"address value brought into 1..247",
         1,
         {"", "", "59"},
         {"", "", "247"},
         {"01 03 00 3B 00 01"}},
        {"unreachable device",
         30,
         {"56", "57", "58"},
         {"", "", ""},
         {"1E 03 00 38 00 01", "1E 03 00 39 00 01", "1E 03 00 3A 00 01"}},
        {"no register given", 1, {"", "", ""}, {"", "", ""}, {}},
        {"register 0", 20, {"0", "", ""}, {"4242", "", ""}, {"14 03 00 00 00 01"}},
    };
    const char *RegBoxes[] = {"edCommBRReg", "edCommPDSReg", "edCommAdrReg"};
    const char *ValBoxes[] = {"edCommBRVal", "edCommPDSVal", "edCommAdrVal"};
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Name);
        Msgs.clear();
        Find<QSpinBox>("edCommAddr")->setValue(C.Addr);
        for (int i = 0; i < 3; ++i) {
            Num(RegBoxes[i])->setText(C.Regs[i]);
            Num(ValBoxes[i])->setText("123");  // must be emptied
        }
        Click("btnCommRead");
        EXPECT_TRUE(Msgs.empty());
        for (int i = 0; i < 3; ++i) EXPECT_EQ(Num(ValBoxes[i])->text(), C.Values[i]) << ValBoxes[i];
        for (const std::string &Req : C.Sent) ExpectNextRequest(Req);
        ExpectNothingMoreSent();
    }
}

TEST_F(SetupFormTest, CommWriteSendsTheCompleteRows) {
    StartSim();
    OpenForm();
    struct TCase {
        const char *Name;
        const char *Regs[3];
        const char *Values[3];
        std::vector<std::string> Sent;
        std::optional<TMsg> Msg;
    };
    const TMsg Saved{TMsgKind::Info, AppTitle(),
                     "The changes will take effect after restart of the sensor."};
    // The first row's reason: the simulated sensor refuses register 200.
    const TMsg Failed{TMsgKind::Error, AppTitle(),
                      "Error writing data.\nModbus exception 2 (illegal data address)"};
    const TCase Cases[] = {
        {"one row", {"4", "", ""}, {"3", "", ""}, {"01 06 00 04 00 03"}, Saved},
        {"row without value skipped", {"4", "5", ""}, {"", "2", ""}, {"01 06 00 05 00 02"}, Saved},
        // A value no register holds is refused with the range, never sent
        // wrapped (70000 as 4464), also when the other rows fit.
        {"70000 refused",
         {"4", "5", ""},
         {"70000", "2", ""},
         {},
         TMsg{TMsgKind::Error, AppTitle(), "Value out of range (0 to 65535)"}},
        {"-1 refused",
         {"", "5", ""},
         {"", "-1", ""},
         {},
         TMsg{TMsgKind::Error, AppTitle(), "Value out of range (0 to 65535)"}},
        {"65535 sent", {"4", "", ""}, {"65535", "", ""}, {"01 06 00 04 FF FF"}, Saved},
        {"first fails, third succeeds",
         {"200", "", "6"},
         {"1", "", "1"},
         {"01 06 00 C8 00 01", "01 06 00 06 00 01"},
         Saved},
        {"all rows fail",
         {"200", "201", ""},
         {"1", "2", ""},
         {"01 06 00 C8 00 01", "01 06 00 C9 00 02"},
         Failed},
        {"no complete row", {"", "5", ""}, {"7", "", ""}, {}, std::nullopt},
    };
    const char *RegBoxes[] = {"edCommBRReg", "edCommPDSReg", "edCommAdrReg"};
    const char *ValBoxes[] = {"edCommBRVal", "edCommPDSVal", "edCommAdrVal"};
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Name);
        Msgs.clear();
        for (int i = 0; i < 3; ++i) {
            Num(RegBoxes[i])->setText(C.Regs[i]);
            Num(ValBoxes[i])->setText(C.Values[i]);
        }
        Click("btnCommWrite");
        if (C.Msg) {
            ExpectOneMsg(C.Msg->Kind, C.Msg->Text);
        } else {
            EXPECT_TRUE(Msgs.empty());
        }
        for (const std::string &Req : C.Sent) ExpectNextRequest(Req);
        ExpectNothingMoreSent();
    }
}

TEST_F(SetupFormTest, ActionsWithoutAPortSendNothing) {
    StartSim();
    OpenForm(false);
    Num("edCommBRReg")->setText("4");
    Num("edCommBRVal")->setText("5");
    Num("edUpdStartReg")->setText("100");
    Num("edUpdValueNum")->SetRealValue(42);
    for (const char *Button : {"btnCommRead", "btnCommWrite", "btnUpdRead", "btnUpdWrite"}) {
        SCOPED_TRACE(Button);
        Msgs.clear();
        Click(Button);
        ExpectOneMsg(TMsgKind::Error, "COM port not selected");
        EXPECT_EQ(Num("edCommBRVal")->text(), "5");
        EXPECT_EQ(Num("edUpdValueNum")->RealValue(), 42.0);
    }
    ExpectNothingMoreSent();
}

// ---- Register check/update page ----------------------------------------

TEST_F(SetupFormTest, DataTypeSetsUpThePage) {
    OpenForm(false);
    struct TCase {
        const char *From;  // type chosen before; count 5 and LSWF set where it allows
        const char *Type;
        int NumRegs;
        bool NumRegsEnabled;
        const char *Order;
        bool OrderEnabled;
        bool NumericVisible;
        bool TextReadOnly;
        bool WriteEnabled;
        int Decimals;
    };
    const TCase Cases[] = {
        {"uint32", "float", 2, false, "LSWF", true, true, false, true, 3},
        {"string", "int", 1, false, "MSWF", false, true, false, true, 0},
        {"string", "uint16", 1, false, "MSWF", false, true, false, true, 0},
        {"string", "BCD", 1, false, "MSWF", false, true, false, true, 0},
        {"float", "uint32", 2, false, "LSWF", true, true, false, true, 0},
        {"bit", "string", 5, true, "MSWF", false, false, false, true, 0},
        {"string", "bit", 1, true, "MSWF", false, false, true, false, 0},
        {"bit", "float", 2, false, "MSWF", true, true, false, true, 3},  // Write enabled again
    };
    auto *Type = Find<QComboBox>("cbUpdDataType");
    auto *Count = Find<QSpinBox>("edNumRegs");
    auto *Order = Find<QComboBox>("cbUpdDataOrder");
    auto *Str = Find<QLineEdit>("edUpdValueStr");
    for (const TCase &C : Cases) {
        SCOPED_TRACE(std::string(C.From) + " -> " + C.Type);
        Type->setCurrentText(C.From);
        if (Count->isEnabled()) Count->setValue(5);
        if (Order->isEnabled()) Order->setCurrentText("LSWF");
        Str->setText("old");
        Num("edUpdValueNum")->SetRealValue(7);

        Type->setCurrentText(C.Type);
        EXPECT_EQ(Str->text(), "");
        EXPECT_FALSE(Num("edUpdValueNum")->RealValue().has_value());
        EXPECT_EQ(Num("edUpdValueNum")->text(), "");
        EXPECT_EQ(Count->value(), C.NumRegs);
        EXPECT_EQ(Count->isEnabled(), C.NumRegsEnabled);
        EXPECT_EQ(Order->currentText(), C.Order);
        EXPECT_EQ(Order->isEnabled(), C.OrderEnabled);
        EXPECT_EQ(!Find<QWidget>("edUpdValueNum")->isHidden(), C.NumericVisible);
        EXPECT_EQ(!Str->isHidden(), !C.NumericVisible);
        if (C.NumericVisible) {
            EXPECT_EQ(Num("edUpdValueNum")->decimals(), C.Decimals);
        } else {
            EXPECT_EQ(Str->isReadOnly(), C.TextReadOnly);
        }
        EXPECT_EQ(Find<QWidget>("btnUpdWrite")->isEnabled(), C.WriteEnabled);
    }
}

TEST_F(SetupFormTest, RegisterReadShowsTheTypedValue) {
    StartSim();
    OpenForm();
    Find<QSpinBox>("edUpdAddr")->setValue(20);
    struct TCase {
        const char *Type;
        const char *Order;
        int NumRegs;  // for string and bit
        const char *Start;
        const char *Shown;  // in the visible value edit
        const char *Error;  // message, "" for none
        std::string Sent;
    };
    const TCase Cases[] = {
        {"int", "MSWF", 0, "100", "-1", "", "14 03 00 64 00 01"},
        {"uint16", "MSWF", 0, "100", "65535", "", "14 03 00 64 00 01"},
        {"float", "MSWF", 0, "110", "1.000", "", "14 03 00 6E 00 02"},
        {"float", "LSWF", 0, "110", "0.000", "", "14 03 00 6E 00 02"},  // a tiny number
        {"uint32", "MSWF", 0, "100", "-1", "", "14 03 00 64 00 02"},
        {"BCD", "MSWF", 0, "120", "950", "", "14 03 00 78 00 01"},
        {"BCD", "MSWF", 0, "121", "", "Invalid BCD value read", "14 03 00 79 00 01"},
        {"string", "MSWF", 4, "130", "ABC", "", "14 03 00 82 00 04"},
        {"bit", "MSWF", 4, "1", "0001", "", "14 02 00 01 00 04"},
        {"float", "MSWF", 0, "150", "NaN", "", "14 03 00 96 00 02"},
        {"float", "MSWF", 0, "152", "Inf", "", "14 03 00 98 00 02"},
        {"float", "MSWF", 0, "154", "-Inf", "", "14 03 00 9A 00 02"},
        {"uint16", "MSWF", 0, "0", "4242", "", "14 03 00 00 00 01"},  // register 0 too
        // The sensor refuses an unknown register; the box says so.
        {"uint16", "MSWF", 0, "5000", "",
         "Error reading data.\nModbus exception 2 (illegal data address)", "14 03 13 88 00 01"},
        {"bit", "MSWF", 4, "5000", "",
         "Error reading data.\nModbus exception 2 (illegal data address)", "14 02 13 88 00 04"},
    };
    for (const TCase &C : Cases) {
        SCOPED_TRACE(std::string(C.Type) + " " + C.Order + " at " + C.Start);
        Msgs.clear();
        Find<QComboBox>("cbUpdDataType")->setCurrentText(C.Type);
        Find<QComboBox>("cbUpdDataOrder")->setCurrentText(C.Order);
        if (C.NumRegs) Find<QSpinBox>("edNumRegs")->setValue(C.NumRegs);
        Num("edUpdStartReg")->setText(C.Start);
        // A value from an earlier read goes before the new one is asked for.
        Find<QLineEdit>("edUpdValueStr")->setText("stale");
        Num("edUpdValueNum")->SetRealValue(99);
        Click("btnUpdRead");
        const bool Numeric = !Find<QWidget>("edUpdValueNum")->isHidden();
        const QString Shown =
            Numeric ? Num("edUpdValueNum")->text() : Find<QLineEdit>("edUpdValueStr")->text();
        EXPECT_EQ(Shown, C.Shown);
        if (*C.Error) {
            ExpectOneMsg(TMsgKind::Error, C.Error);
        } else {
            EXPECT_TRUE(Msgs.empty());
        }
        ExpectNextRequest(C.Sent);
    }
    ExpectNothingMoreSent();
}

TEST_F(SetupFormTest, RegisterWriteEncodesAndSends) {
    StartSim();
    OpenForm();
    Find<QSpinBox>("edUpdAddr")->setValue(20);
    struct TCase {
        const char *Type;
        const char *Order;
        int NumRegs;  // for string
        const char *Start;
        const char *Value;
        std::string Sent;  // "" for nothing
        TMsgKind Kind;
        const char *Msg;
        const char *ValueAfter;  // string edit after the click
    };
    const char *SavedText = "Changes have been saved successfully";
    const TCase Cases[] = {
        {"int", "MSWF", 0, "140", "-1", "14 06 00 8C FF FF", TMsgKind::Info, SavedText, ""},
        {"uint16", "MSWF", 0, "140", "65535", "14 06 00 8C FF FF", TMsgKind::Info, SavedText, ""},
        {"BCD", "MSWF", 0, "140", "950", "14 06 00 8C 09 50", TMsgKind::Info, SavedText, ""},
        {"float", "MSWF", 0, "140", "1", "14 10 00 8C 00 02 04 3F 80 00 00", TMsgKind::Info,
         SavedText, ""},
        {"float", "LSWF", 0, "140", "1", "14 10 00 8C 00 02 04 00 00 3F 80", TMsgKind::Info,
         SavedText, ""},
        {"uint32", "MSWF", 0, "140", "4294967295", "14 10 00 8C 00 02 04 FF FF FF FF",
         TMsgKind::Info, SavedText, ""},
        {"int", "MSWF", 0, "140", "-32768", "14 06 00 8C 80 00", TMsgKind::Info, SavedText, ""},
        {"BCD", "MSWF", 0, "140", "9999", "14 06 00 8C 99 99", TMsgKind::Info, SavedText, ""},
        // Numbers the type cannot hold: an error box with the range, nothing sent.
        {"int", "MSWF", 0, "140", "70000", "", TMsgKind::Error,
         "Value out of range (-32768 to 32767)", ""},
        {"int", "MSWF", 0, "140", "32768", "", TMsgKind::Error,
         "Value out of range (-32768 to 32767)", ""},
        {"uint16", "MSWF", 0, "140", "-1", "", TMsgKind::Error, "Value out of range (0 to 65535)",
         ""},
        {"uint16", "MSWF", 0, "140", "65536", "", TMsgKind::Error,
         "Value out of range (0 to 65535)", ""},
        {"BCD", "MSWF", 0, "140", "10000", "", TMsgKind::Error, "Value out of range (0 to 9999)",
         ""},
        {"uint32", "MSWF", 0, "140", "4294967296", "", TMsgKind::Error,
         "Value out of range (0 to 4294967295)", ""},
        {"uint32", "MSWF", 0, "140", "-1", "", TMsgKind::Error,
         "Value out of range (0 to 4294967295)", ""},
        {"string", "MSWF", 2, "140", " ABC\t", "14 10 00 8C 00 02 04 41 42 43 00", TMsgKind::Info,
         SavedText, "ABC"},
        {"string", "MSWF", 1, "140", "AB", "14 10 00 8C 00 01 02 41 42", TMsgKind::Info, SavedText,
         "AB"},
        {"string", "MSWF", 1, "140", "  ABC  ", "", TMsgKind::Error,
         "Insufficient number of registers", "ABC"},
        {"string", "MSWF", 1, "140", " \t ", "", TMsgKind::Error, "Value not specified", ""},
        {"int", "MSWF", 0, "140", "", "", TMsgKind::Error, "Value not specified", ""},
        {"int", "MSWF", 0, "", "5", "", TMsgKind::Error, "Register not specified", ""},
        // Conversion errors reach the default handler with their own text.
        {"BCD", "MSWF", 0, "140", "-5", "", TMsgKind::Error, "'$-5' is not a valid integer value.",
         ""},
        {"float", "MSWF", 0, "140", "1e39", "", TMsgKind::Error, "Floating point overflow.", ""},
        {"uint16", "MSWF", 0, "5000", "1", "14 06 13 88 00 01", TMsgKind::Error,
         "Error writing data.\nModbus exception 2 (illegal data address)", ""},
    };
    for (const TCase &C : Cases) {
        SCOPED_TRACE(std::string(C.Type) + " " + C.Order + " '" + C.Value + "'");
        Msgs.clear();
        Find<QComboBox>("cbUpdDataType")->setCurrentText(C.Type);
        Find<QComboBox>("cbUpdDataOrder")->setCurrentText(C.Order);
        if (C.NumRegs) Find<QSpinBox>("edNumRegs")->setValue(C.NumRegs);
        Num("edUpdStartReg")->setText(C.Start);
        if (QString(C.Type) == "string")
            Find<QLineEdit>("edUpdValueStr")->setText(C.Value);
        else
            Num("edUpdValueNum")->setText(C.Value);
        Click("btnUpdWrite");
        ExpectOneMsg(C.Kind, C.Msg);
        if (QString(C.Type) == "string") {
            EXPECT_EQ(Find<QLineEdit>("edUpdValueStr")->text(), C.ValueAfter);
        } else {
            EXPECT_EQ(Num("edUpdValueNum")->text(), C.Value);  // a write leaves it
        }
        if (!C.Sent.empty()) {
            ExpectNextRequest(C.Sent);
        }
        ExpectNothingMoreSent();
    }
}

// The number boxes keep to what one request can carry and to the range a
// register holds: no count or value that can never work reaches a job.
TEST_F(SetupFormTest, NumberBoxesKeepToWhatARequestCarries) {
    OpenForm(false);
    auto *Type = Find<QComboBox>("cbUpdDataType");
    auto *Count = Find<QSpinBox>("edNumRegs");
    struct TCase {
        const char *Type;
        int Max;  // registers (inputs for bit)
    };
    const TCase Cases[] = {{"string", 123}, {"bit", 2000}, {"string", 123}};
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Type);
        Type->setCurrentText(C.Type);
        EXPECT_EQ(Count->maximum(), C.Max);
        Count->setFocus();
        Count->selectAll();
        QTest::keyClicks(Count, "65535");
        Count->interpretText();
        EXPECT_LE(Count->value(), C.Max);
        Count->setValue(C.Max);
        EXPECT_EQ(Count->value(), C.Max);
    }
    // The comm page's address value box keeps a typed number in 1..247.
    TNumberEdit *AdrVal = Num("edCommAdrVal");
    AdrVal->setFocus();
    QTest::keyClicks(AdrVal, "70000");
    ASSERT_TRUE(AdrVal->WholeValue().has_value());
    EXPECT_GE(*AdrVal->WholeValue(), 1);
    EXPECT_LE(*AdrVal->WholeValue(), 247);
}

// While a read waits for a slow sensor, every input it was started from is
// locked and Write stays disabled; a value is shown only under the inputs
// it was read for (0xFFFF read as "int" must never show -1 under "uint16").
TEST_F(SetupFormTest, RegisterInputsStayLockedWhileAJobRuns) {
    StartSim({"--delay-ms", "1500"});
    OpenForm(true, 3000);
    Find<QTabWidget>("PageControl1")->setCurrentIndex(2);
    Find<QSpinBox>("edUpdAddr")->setValue(20);
    Find<QComboBox>("cbUpdDataType")->setCurrentText("int");
    Num("edUpdStartReg")->setText("100");
    const char *Inputs[] = {"edUpdAddr",      "edUpdStartReg", "cbUpdDataType", "edNumRegs",
                            "cbUpdDataOrder", "edUpdValueNum", "edUpdValueStr", "btnUpdRead",
                            "btnUpdWrite",    "edCommAddr",    "edCommBRReg",   "edCommBRVal"};
    std::vector<std::string> EnabledDuring;
    bool Switched = false, WriteDuring = false;
    QTimer Beat;
    QObject::connect(&Beat, &QTimer::timeout, [&] {
        if (!Form->IsBusy()) return;
        for (const char *Name : Inputs)
            if (Find<QWidget>(Name)->isEnabled()) EnabledDuring.push_back(Name);
        if (!Switched) {
            // What a click on the list would do, were it not locked.
            Find<QComboBox>("cbUpdDataType")->setCurrentText("uint16");
            Switched = true;
        }
        WriteDuring |= Find<QWidget>("btnUpdWrite")->isEnabled();
    });
    Beat.start(100);
    Click("btnUpdRead", [&] { Beat.stop(); });
    Beat.stop();
    ExpectNextRequest("14 03 00 64 00 01");

    EXPECT_TRUE(Switched);
    EXPECT_TRUE(EnabledDuring.empty()) << EnabledDuring.front();
    EXPECT_FALSE(WriteDuring);
    EXPECT_EQ(Find<QComboBox>("cbUpdDataType")->currentText(), "uint16");
    EXPECT_EQ(Num("edUpdValueNum")->text(), "");  // not -1 under "uint16"
    EXPECT_TRUE(Msgs.empty());
    // Afterwards each input is as the type sets it up.
    for (const char *Name : {"edUpdAddr", "edUpdStartReg", "cbUpdDataType", "edUpdValueNum",
                             "btnUpdRead", "btnUpdWrite", "edCommBRVal"})
        EXPECT_TRUE(Find<QWidget>(Name)->isEnabled()) << Name;
    EXPECT_FALSE(Find<QWidget>("edNumRegs")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("cbUpdDataOrder")->isEnabled());

    // The same read as "uint16" shows what it read under "uint16".
    Click("btnUpdRead");
    ExpectNextRequest("14 03 00 64 00 01");
    EXPECT_EQ(Num("edUpdValueNum")->text(), "65535");
}

TEST_F(SetupFormTest, ScreenshotsOfThePages) {
    StartSim();
    OpenForm();
    auto *Pages = Find<QTabWidget>("PageControl1");
    const char *Files[] = {"devsetup-scan.png", "devsetup-comm.png", "devsetup-regs.png"};
    for (int i = 0; i < 3; ++i) {
        Pages->setCurrentIndex(i);
        QApplication::processEvents();
        SaveShot(Form.get(), Files[i]);
    }
    // The pages after a read, as the README shows them (the Comm page of a
    // sensor the settings file describes is CommCatalogueTest's picture).
    Pages->setCurrentIndex(1);
    Find<QSpinBox>("edCommAddr")->setValue(1);
    Num("edCommBRReg")->setText("56");
    Num("edCommPDSReg")->setText("57");
    Num("edCommAdrReg")->setText("58");
    Click("btnCommRead");
    EXPECT_EQ(Num("edCommBRVal")->text(), "9600");
    SaveShot(Form.get(), "devsetup-comm-read-by-number.png");
    Pages->setCurrentIndex(2);
    Find<QSpinBox>("edUpdAddr")->setValue(20);
    Num("edUpdStartReg")->setText("110");
    Find<QComboBox>("cbUpdDataType")->setCurrentIndex(0);  // float
    Click("btnUpdRead");
    EXPECT_EQ(Num("edUpdValueNum")->RealValue(), 1.0);
    SaveShot(Form.get(), "devsetup-regs-read.png");
    EXPECT_TRUE(Msgs.empty());
}

// Enter in a field presses the action of its page, never a hidden default
// (the reload button, Scan from another page, Close).
TEST_F(SetupFormTest, EnterInAFieldPressesTheActionOfItsPage) {
    OpenForm(false);
    Form->activateWindow();
    struct TRow {
        int Page;
        const char *Field;
        const char *Pressed;  // "" for nothing
    };
    const TRow Rows[] = {
        {0, "cbCOMPort", ""},
        {0, "cbBitrate", ""},
        {0, "edTimeout", ""},
        {0, "edScanFirstA", "btnScan"},
        {0, "edScanLastA", "btnScan"},
        {0, "LVScan", ""},
        {1, "edCommAddr", "btnCommRead"},
        {1, "edCommBRReg", "btnCommRead"},
        {1, "edCommAdrVal", "btnCommRead"},
        {2, "edUpdAddr", "btnUpdRead"},
        {2, "edUpdStartReg", "btnUpdRead"},
        {2, "cbUpdDataType", "btnUpdRead"},
        {2, "cbUpdDataOrder", "btnUpdRead"},
        {2, "edUpdValueNum", ""},  // a Read would overwrite the value typed
    };
    std::string Pressed;
    for (QPushButton *B : Form->findChildren<QPushButton *>())
        QObject::connect(B, &QPushButton::clicked,
                         [&Pressed, B] { Pressed = B->objectName().toStdString(); });
    QObject::connect(Find<QToolButton>("btnReload"), &QToolButton::clicked,
                     [&] { Pressed = "btnReload"; });
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Field);
        Find<QTabWidget>("PageControl1")->setCurrentIndex(R.Page);
        QWidget *Field = Find<QWidget>(R.Field);
        Field->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        Pressed.clear();
        Msgs.clear();
        QTest::keyClick(Field, Qt::Key_Return);
        EXPECT_EQ(Pressed, R.Pressed);
        EXPECT_TRUE(Form->isVisible());
    }
}

// A read that waits three seconds for a silent sensor runs beside the
// window: its event loop keeps turning (timers fire, the window paints and
// moves), the read buttons stay disabled and closing is refused, and the
// error comes when the wait is over.
TEST_F(SetupFormTest, TheWindowKeepsRunningDuringASilentRead) {
    StartSim();
    OpenForm(true, 3000);
    Find<QTabWidget>("PageControl1")->setCurrentIndex(2);
    Find<QSpinBox>("edUpdAddr")->setValue(9);  // nobody there
    Num("edUpdStartReg")->SetWholeValue(1);

    int Ticks = 0;
    bool Painted = true, Disabled = true, Refused = true;
    QTimer Beat;
    QObject::connect(&Beat, &QTimer::timeout, [&] {
        ++Ticks;
        Painted &= !Form->grab().isNull();
        Form->move(Form->pos() + QPoint(Ticks % 2 ? 1 : -1, 0));
        Disabled &=
            !Find<QWidget>("btnUpdRead")->isEnabled() && !Find<QWidget>("btnCommRead")->isEnabled();
        Refused &= !Form->close() && Form->isVisible();
    });
    Beat.start(50);
    QElapsedTimer Clock;
    Clock.start();
    Click("btnUpdRead", [&] { Beat.stop(); });
    const qint64 Took = Clock.elapsed();

    EXPECT_GE(Took, 2900);
    // Twenty beats a second while the read waits; a fifth of that is plenty
    // even on a loaded machine, and none at all is what a blocked loop gives.
    EXPECT_GE(Ticks, 12) << "the event loop stood still for " << Took << " ms";
    EXPECT_TRUE(Painted);
    EXPECT_TRUE(Disabled);
    EXPECT_TRUE(Refused);
    ExpectOneMsg(TMsgKind::Error, "Error reading data.\nNo answer within the time-out");
    EXPECT_TRUE(Find<QWidget>("btnUpdRead")->isEnabled());
    EXPECT_TRUE(Form->isVisible());
}

// The busy cursor while transactions wait; the arrow over a message box;
// nothing left behind on any way out.
TEST_F(SetupFormTest, BusyCursorWhileTransactionsWaitAndRestoredAfterwards) {
    StartSim();
    OpenForm();
    std::vector<Qt::CursorShape> AtMessage;
    SetMsgPresenter([&](TMsgKind Kind, const QString &Title, const QString &Text) {
        Msgs.push_back({Kind, Title, Text});
        const QCursor *C = QGuiApplication::overrideCursor();
        AtMessage.push_back(C ? C->shape() : Qt::ArrowCursor);
        return mrOk;
    });
    auto Shape = [] {
        const QCursor *C = QGuiApplication::overrideCursor();
        return C ? C->shape() : Qt::ArrowCursor;
    };

    // The scan: busy (Stop stays clickable) while it runs.
    std::vector<Qt::CursorShape> During;
    bool BarShown = true;
    RunScan(1, 2, [&] {
        During.push_back(Shape());
        BarShown &= Find<QProgressBar>("pbScanProgress")->isVisible();
    });
    ASSERT_FALSE(During.empty());
    EXPECT_EQ(During.front(), Qt::BusyCursor);
    EXPECT_TRUE(BarShown);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // Register read that fails in the middle: its box has the arrow on top
    // of the hourglass, and the hourglass goes afterwards.
    Find<QTabWidget>("PageControl1")->setCurrentIndex(2);
    Find<QSpinBox>("edUpdAddr")->setValue(9);  // nobody there
    Num("edUpdStartReg")->SetWholeValue(1);
    Find<QSpinBox>("edTimeout")->setValue(100);
    Click("btnUpdRead");
    ExpectOneMsg(TMsgKind::Error, "Error reading data.\nNo answer within the time-out");
    ASSERT_EQ(AtMessage.size(), 1u);
    EXPECT_EQ(AtMessage[0], Qt::ArrowCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // The comm page's write, with its box after the transactions.
    Msgs.clear();
    AtMessage.clear();
    Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    Find<QSpinBox>("edCommAddr")->setValue(9);
    Num("edCommBRReg")->SetWholeValue(56);
    Num("edCommBRVal")->SetWholeValue(9600);
    Click("btnCommWrite");
    ExpectOneMsg(TMsgKind::Error, "Error writing data.\nNo answer within the time-out");
    EXPECT_EQ(AtMessage, std::vector<Qt::CursorShape>{Qt::ArrowCursor});
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace

// ---- A port that cannot be used ----------------------------------------

// Every action on a port the window cannot open keeps its own first words
// and adds a paragraph saying why and what to do: a device that is not
// there, one another program holds, one the user may not open. The scan
// still counts its addresses, then shows that one box instead of a silent
// "found: 0"; nothing reaches the line.
TEST_F(SetupFormTest, APortThatCannotBeOpenedSaysWhyInEveryAction) {
    StartSim();
    ExtraPort = true;
    const QString Pty = QString::fromStdString(Sim->PtyPath());
    struct TFault {
        const char *Name;
        QString Choose;      // list entry
        QString Reason;      // the paragraph, or its start
        bool Whole;          // Reason is the whole paragraph
        bool NeedsOrdinary;  // root would open the port anyway
    };
    const TFault Faults[] = {
        {"missing", "Extra adapter (/dev/ttyVELDRA9)",
         "The port /dev/ttyVELDRA9 is not there: its adapter is disconnected.\n"
         "Connect the adapter, choose its port again, then try again.",
         true, false},
        {"busy", SimPortText,
         "The port " + Pty +
             " is in use by another program.\nClose the program that uses it, then try again.",
         true, false},
        {"permission", SimPortText,
         "Your user may not open the port " + Pty +
             " (permission denied).\nTo get access, add your user to the '",
         false, true},
    };
    struct TAction {
        const char *Name;
        const char *Button;
        QString First;
    };
    const TAction Actions[] = {
        {"scan", "btnScan", "The scan found nothing: the port could not be opened."},
        {"comm read", "btnCommRead", "Error reading data."},
        {"comm write", "btnCommWrite", "Error writing data."},
        {"register read", "btnUpdRead", "Error reading data."},
        {"register write", "btnUpdWrite", "Error writing data."},
    };
    struct stat Mode {};
    ASSERT_EQ(::stat(Sim->PtyPath().c_str(), &Mode), 0);
    for (const TFault &F : Faults) {
        SCOPED_TRACE(F.Name);
        if (F.NeedsOrdinary && ::geteuid() == 0) continue;  // root opens any device
        std::unique_ptr<TComPort> Holder;
        if (std::string(F.Name) == "busy") {
            Holder = std::make_unique<TComPort>();
            TLinkSettings S;
            S.Port = Sim->PtyPath();
            ASSERT_FALSE(Holder->Open(S));
        }
        // The port's mode comes back however the case ends.
        const std::unique_ptr<const char, std::function<void(const char *)>> Restore(
            F.NeedsOrdinary ? Sim->PtyPath().c_str() : nullptr,
            [&](const char *Path) { ::chmod(Path, Mode.st_mode & 07777); });
        if (F.NeedsOrdinary) {
            ASSERT_EQ(::chmod(Sim->PtyPath().c_str(), 0), 0);
        }
        OpenForm(false);
        auto *Combo = Find<QComboBox>("cbCOMPort");
        Combo->setCurrentIndex(Combo->findText(F.Choose));
        ASSERT_EQ(Combo->currentText(), F.Choose);
        Find<QSpinBox>("edScanFirstA")->setValue(1);
        Find<QSpinBox>("edScanLastA")->setValue(3);
        const char *CommBoxes[] = {"edCommBRReg", "edCommBRVal", "edCommPDSReg", "edCommPDSVal"};
        const char *CommTexts[] = {"56", "9600", "57", "3"};
        Find<QSpinBox>("edUpdAddr")->setValue(20);
        Find<QComboBox>("cbUpdDataType")->setCurrentText("int");
        Num("edUpdStartReg")->setText("140");
        Num("edUpdValueNum")->setText("5");
        for (const TAction &A : Actions) {
            SCOPED_TRACE(A.Name);
            Msgs.clear();
            // A read empties the value boxes: each action gets its rows.
            for (int I = 0; I < 4; ++I) Num(CommBoxes[I])->setText(CommTexts[I]);
            Num("edUpdValueNum")->setText("5");
            Click(A.Button);
            ASSERT_EQ(Msgs.size(), 1u);
            EXPECT_EQ(Msgs[0].Kind, TMsgKind::Error);
            const QString Expected = A.First + "\n\n" + F.Reason;
            if (F.Whole)
                EXPECT_EQ(Msgs[0].Text, Expected);
            else
                EXPECT_TRUE(Msgs[0].Text.startsWith(Expected)) << Msgs[0].Text.toStdString();
            if (F.NeedsOrdinary) {
                EXPECT_TRUE(Msgs[0].Text.contains("sudo usermod -aG ") ||
                            Msgs[0].Text.contains("ask the administrator"))
                    << Msgs[0].Text.toStdString();
            }
        }
        EXPECT_EQ(Find<QLabel>("lblFound")->text(), "Scanned: 3, found: 0");
        EXPECT_TRUE(ScanRows().empty());
        ExpectIdle();
        Form.reset();
    }
    ExpectNothingMoreSent();
}

// A port that opens for some addresses and not for others is no port
// fault of the scan: it ends as it always has, without a box.
TEST_F(SetupFormTest, AScanWhosePortOpensOnlySometimesShowsNoBox) {
    class TRefuseSecond : public TFaultyLink {
    public:
        TRefuseSecond(int &Opens) : TFaultyLink(std::make_unique<TComPort>(), {}), FOpens(Opens) {}
        std::optional<EComPort> Open(const TLinkSettings &Settings) override {
            if (++FOpens == 2) return EComPort(CError_OpenFailed, EBUSY);
            return TFaultyLink::Open(Settings);
        }

    private:
        int &FOpens;
    };
    StartSim();
    int Opens = 0;
    SetLinkMaker([&](const std::string &) { return std::make_unique<TRefuseSecond>(Opens); });
    OpenForm();
    RunScan(1, 3);
    EXPECT_TRUE(Msgs.empty()) << (Msgs.empty() ? "" : Msgs[0].Text.toStdString());
    EXPECT_EQ(Opens, 3);
    const std::vector<std::vector<QString>> Expected{{"1", "7 (0x00000007) Probe A", "1.05"},
                                                     {"3", "Unknown", "3.02"}};
    EXPECT_EQ(ScanRows(), Expected);
    EXPECT_EQ(Find<QLabel>("lblFound")->text(), "Scanned: 3, found: 2");
    SetLinkMaker({});
}
