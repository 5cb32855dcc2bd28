// The firmware update wizard, driven by object name against the simulated
// bootloader on a pseudo-terminal.

#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "CodFixtures.h"
#include "FaultyLink.h"
#include "GuiSupport.h"
#include "Ser2Net.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "app/Application.h"
#include "bootloader/XComm.h"
#include "fwupdate/FWUpdateForm.h"
#include "fwupdate/FirmwareFolder.h"
#include "jobs/PortsJob.h"
#include "jobs/Sha256.h"
#include "serial/ComPort.h"
#include "serial/LinkFactory.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"
#include "widgets/PortCombo.h"

namespace {

std::string ReadFileBytes(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);

QColor TextColour(QLabel *L) {
    return L->palette().color(QPalette::WindowText);
}

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A time-out that a loaded machine does not hit by chance, short
        // enough for a quick failed Connect; IDs get names.
        const std::string Ini = Dir.Write("veldra.ini",
                                          "[SETTINGS]\nMAX_RETRY=5\nMAX_FAILS=15\nTIMEOUT=1500\n"
                                          "[SENSORS]\n17=Probe A\n18=Probe B\n");
        Settings = new TSettings(Ini);
        SetPortQuery([this](std::vector<TComListData> &P) {
            P.insert(P.end(), Ports.begin(), Ports.end());
        });
        SetFirmwareFilePicker([this](QWidget *) { return NextFile; });
    }

    void TearDown() override {
        Form.reset();
        SetLinkMaker({});
        SetFirmwareFilePicker({});
        SetPortQuery({});
        delete Settings;
        Settings = nullptr;
        Sims.clear();
    }

    // Starts a simulated sensor and lists its port; returns the port's path.
    std::string AddSim(std::vector<std::string> Args) {
        const std::string Link = Dir.File("ttySIM" + std::to_string(Sims.size()));
        Args.insert(Args.begin(), "bootloader");
        Args.insert(Args.end(), {"--link", Link});
        auto Sim = std::make_unique<TSimProcess>(Args);
        EXPECT_TRUE(Sim->Start());
        Sims.push_back(std::move(Sim));
        Ports.push_back({Link, "Simulated sensor (" + Link + ")"});
        return Link;
    }
    TSimProcess &Sim(size_t I = 0) { return *Sims.at(I); }

    void Open() {
        Form = std::make_unique<TFWUpdateForm>(Settings);
        Form->show();
        QApplication::processEvents();
    }

    template <class T>
    T *W(const char *Name) {
        return Child<T>(Form.get(), Name);
    }
    QLabel *L(const char *Name) { return W<QLabel>(Name); }
    QPushButton *B(const char *Name) { return W<QPushButton>(Name); }
    QComboBox *Combo() { return W<QComboBox>("cbCOMPort"); }

    // The user picks the list entry whose port is Path.
    void Choose(const std::string &Path) {
        QComboBox *C = Combo();
        for (int I = 0; I < C->count(); ++I) {
            if (C->itemText(I).contains(QString::fromStdString(Path))) {
                C->setCurrentIndex(I);
                emit C->activated(I);
                return;
            }
        }
        ADD_FAILURE() << "port not listed: " << Path;
    }

    // Clicks a button and, when that started a job (connect, upload),
    // waits until it has ended. OnEnd runs the moment it ends, before
    // anything else the event loop has queued.
    void Press(const char *Name, const std::function<void()> &OnEnd = {}) {
        bool Ended = false;
        const auto C = QObject::connect(Form.get(), &TFWUpdateForm::JobFinished, [&] {
            Ended = true;
            if (OnEnd) OnEnd();
        });
        B(Name)->click();
        if (Form->IsBusy()) {
            EXPECT_TRUE(WaitUntil([&] { return Ended; }, 180000)) << Name;
        }
        QObject::disconnect(C);
    }

    void Connect(const std::string &Path) {
        Choose(Path);
        Press("btnConnect");
    }

    std::string WriteCod(const std::string &Name, uint16_t ID, uint8_t Hi, uint8_t Lo,
                         size_t ImageSize = 200) {
        return Dir.Write(Name,
                         MakeCod16(static_cast<uint8_t>(ID), Hi, Lo, "PIC", MakeImage(ImageSize)));
    }

    void Load(const std::string &Path) {
        NextFile = QString::fromStdString(Path);
        B("btnLoadFile")->click();
    }

    // Connects, loads a newer file and reaches page 3.
    void ReachUploadPage(const std::string &Port, const std::string &File) {
        Connect(Port);
        ASSERT_TRUE(Form->IsConnected());
        Press("btnNext");
        Load(File);
        Press("btnNext");
        ASSERT_EQ(Form->PageIndex(), 2);
    }

    TTempDir Dir;
    TMsgRecorder Msgs;
    std::vector<TComListData> Ports;
    std::vector<std::unique_ptr<TSimProcess>> Sims;
    QString NextFile;
    std::unique_ptr<TFWUpdateForm> Form;
};

TEST_F(WizardTest, StartsOnPageOneWithItsControls) {
    AddSim({"--sensor-id", "17"});
    Open();
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Update firmware"));
    EXPECT_EQ(Form->size(), QSize(460, 246));
    EXPECT_EQ(Form->PageIndex(), 0);
    EXPECT_EQ(Combo()->count(), 1);
    EXPECT_EQ(Combo()->currentIndex(), -1);  // nothing chosen
    EXPECT_EQ(Combo()->width(), 322);
    EXPECT_EQ(L("lblSensorID")->text(), QStringLiteral("N/A"));
    EXPECT_EQ(L("lblSensorVersion")->text(), QStringLiteral("N/A"));
    EXPECT_TRUE(L("lblSensorID")->font().bold());
    EXPECT_FALSE(B("btnPrev")->isEnabled());
    EXPECT_TRUE(B("btnNext")->isEnabled());
    EXPECT_FALSE(B("btnUpdNextDevice")->isVisible());
    EXPECT_EQ(B("btnUpdNextDevice")->pos(), B("btnPrev")->pos());
    EXPECT_EQ(B("btnUpdNextDevice")->size(), QSize(153, 25));
    EXPECT_FALSE(B("btnReload")->icon().isNull());
    EXPECT_EQ(B("btnReload")->height(), Combo()->height() + 2);
    EXPECT_EQ(W<QProgressBar>("ProgressBar1")->maximum(), 1000);
    EXPECT_EQ(W<QProgressBar>("ProgressBar1")->minimum(), 0);
    EXPECT_EQ(W<QStackedWidget>("Notebook1")->count(), 4);

    // No port chosen, no connection: each click says why.
    Press("btnConnect");
    Press("btnNext");
    EXPECT_EQ(Msgs.Take(),
              (std::vector<QString>{QStringLiteral("COM port not selected"),
                                    QStringLiteral("Sensor connection not established")}));
    EXPECT_EQ(Form->PageIndex(), 0);
}

TEST_F(WizardTest, LinkTakesItsLimitsFromTheSettings) {
    struct TRow {
        const char *Ini;  // nullptr: no settings file
        int MaxRetry, MaxFails;
        uint32_t Timeout;
    };
    const TRow Rows[] = {
        {"[SETTINGS]\nMAX_RETRY=7\nMAX_FAILS=20\nTIMEOUT=800\n", 7, 20, 800},
        {"[SETTINGS]\nMAX_RETRY=1\nMAX_FAILS=2\nTIMEOUT=100\n", 3, 5,
         500},  // raised to the minimums
        {nullptr, 3, 5, 500},
    };
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "2.5"});
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Ini ? R.Ini : "no file");
        delete Settings;
        Settings = new TSettings(R.Ini ? Dir.Write("limits.ini", R.Ini) : std::string());
        Open();
        Connect(Port);  // every connect makes its line with the limits
        ASSERT_TRUE(Form->IsConnected());
        EXPECT_EQ(Form->Link().MaxRetry(), R.MaxRetry);
        EXPECT_EQ(Form->Link().MaxFails(), R.MaxFails);
        EXPECT_EQ(Form->Link().DefTimeout(), R.Timeout);
        Form.reset();
    }
}

TEST_F(WizardTest, ConnectsAtBothBaudRates) {
    const std::pair<const char *, int> Rows[] = {{"19200", 19200}, {"57600", 57600}};
    for (auto [Baud, Rate] : Rows) {
        SCOPED_TRACE(Baud);
        const std::string Port = AddSim({"--baud", Baud, "--sensor-id", "17", "--version", "2.5"});
        Open();
        Connect(Port);
        EXPECT_TRUE(Msgs.Take().empty());
        EXPECT_TRUE(Form->IsConnected());
        EXPECT_EQ(Form->Link().BaudRate(), Rate);
        EXPECT_EQ(L("lblSensorID")->text(), QStringLiteral("17 (0x00000011) Probe A"));
        EXPECT_EQ(L("lblSensorVersion")->text(), QStringLiteral("2.05"));
        Form.reset();
    }
}

TEST_F(WizardTest, FailedConnectDropsAnEarlierConnection) {
    const std::string Good = AddSim({"--sensor-id", "17"});
    const std::string Silent = AddSim({"--silent"});
    Open();
    Connect(Good);
    ASSERT_TRUE(Form->IsConnected());
    Connect(Silent);
    EXPECT_EQ(Msgs.Take(), std::vector<QString>{QStringLiteral(
                               "Unable to find sensor or sensor is not in bootloader mode")});
    EXPECT_FALSE(Form->IsConnected());
    EXPECT_EQ(L("lblSensorID")->text(), QStringLiteral("N/A"));
    EXPECT_EQ(L("lblSensorVersion")->text(), QStringLiteral("N/A"));
    Press("btnNext");
    EXPECT_EQ(Msgs.Take(),
              std::vector<QString>{QStringLiteral("Sensor connection not established")});
    EXPECT_EQ(Form->PageIndex(), 0);
}

// A Connect on a port that cannot be opened keeps its words and adds why
// and what to do: a device that is not there, one another program holds,
// one the user may not open. Once the fault is gone the same port connects.
TEST_F(WizardTest, ConnectOnAPortThatCannotBeOpenedSaysWhy) {
    const std::string Port = AddSim({"--sensor-id", "17"});
    const std::string Gone = Dir.File("ttyGONE");
    Ports.push_back({Gone, "Gone adapter (" + Gone + ")"});
    Open();
    const QString First =
        QStringLiteral("Unable to find sensor or sensor is not in bootloader mode\n\n");
    const QString Path = QString::fromStdString(Port);

    Connect(Gone);
    EXPECT_EQ(Msgs.Take(),
              std::vector<QString>{First + "The port " + QString::fromStdString(Gone) +
                                   " is not there: its adapter is disconnected.\n"
                                   "Connect the adapter, choose its port again, then try again."});
    EXPECT_FALSE(Form->IsConnected());
    {
        TComPort Holder;
        TLinkSettings S;
        S.Port = Port;
        ASSERT_FALSE(Holder.Open(S));
        Connect(Port);
        EXPECT_EQ(Msgs.Take(), std::vector<QString>{First + "The port " + Path +
                                                    " is in use by another program.\n"
                                                    "Close the program that uses it, then try "
                                                    "again."});
        EXPECT_FALSE(Form->IsConnected());
    }
    struct stat Mode {};
    ASSERT_EQ(::stat(Port.c_str(), &Mode), 0);
    if (::geteuid() != 0) {  // root opens a device whatever its mode
        ASSERT_EQ(::chmod(Port.c_str(), 0), 0);
        Connect(Port);
        ::chmod(Port.c_str(), Mode.st_mode & 07777);
        const std::vector<QString> Shown = Msgs.Take();
        ASSERT_EQ(Shown.size(), 1u);
        EXPECT_TRUE(Shown[0].startsWith(First + "Your user may not open the port " + Path +
                                        " (permission denied).\n"))
            << Shown[0].toStdString();
        EXPECT_TRUE(Shown[0].contains("then log out and in again.") ||
                    Shown[0].contains("ask the administrator for access."))
            << Shown[0].toStdString();
        EXPECT_FALSE(Form->IsConnected());
    }
    Connect(Port);
    EXPECT_TRUE(Msgs.Take().empty());
    EXPECT_TRUE(Form->IsConnected());
}

// The same in German: the window's words, the reason and the remedy.
TEST_F(WizardTest, ThePortsReasonIsGivenInGerman) {
    const std::string Gone = Dir.File("ttyGONE");
    Ports.push_back({Gone, "Gone adapter (" + Gone + ")"});
    const QByteArray OldAll = qgetenv("LC_ALL"), OldLanguage = qgetenv("LANGUAGE");
    const bool HadAll = qEnvironmentVariableIsSet("LC_ALL");
    qputenv("LC_ALL", "de_DE.UTF-8");
    qputenv("LANGUAGE", "de");
    ASSERT_FALSE(InstallTranslations().isEmpty());
    Open();
    Connect(Gone);
    const std::vector<QString> Shown = Msgs.Take();
    if (HadAll)
        qputenv("LC_ALL", OldAll);
    else
        qunsetenv("LC_ALL");
    qputenv("LANGUAGE", OldLanguage);
    InstallTranslations();
    EXPECT_EQ(Shown, std::vector<QString>{QString::fromStdString(
                         "Sensor nicht gefunden oder nicht im Bootloader-Modus\n\n"
                         "Der Port " +
                         Gone +
                         " ist nicht vorhanden: sein Adapter ist nicht "
                         "angeschlossen.\nSchließen Sie den Adapter an, wählen Sie seinen Port "
                         "erneut und versuchen Sie es dann noch einmal.")});
}

TEST_F(WizardTest, ChoosingAnotherPortDropsTheLinkAndTheSameOneKeepsIt) {
    const std::string A = AddSim({"--sensor-id", "17"});
    const std::string Other = AddSim({"--sensor-id", "18"});
    Open();
    Connect(A);
    ASSERT_TRUE(Form->IsConnected());
    Choose(A);
    EXPECT_TRUE(Form->IsConnected());
    Choose(Other);
    EXPECT_FALSE(Form->IsConnected());
    EXPECT_EQ(Form->Link().COMPort(), "");
    EXPECT_EQ(L("lblSensorID")->text(), QStringLiteral("N/A"));
}

TEST_F(WizardTest, VersionQuestionsOnPageTwo) {
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "2.5"});
    Open();
    Connect(Port);
    Press("btnNext");
    ASSERT_EQ(Form->PageIndex(), 1);
    EXPECT_TRUE(B("btnPrev")->isEnabled());

    const QString Older = QStringLiteral(
        "The firmware version selected is older than the sensor version. Do you want to proceed "
        "with the update?");
    const QString Same = QStringLiteral(
        "The firmware version selected is the same as the sensor version. Do you want to proceed "
        "with the update?");
    struct TRow {
        uint8_t Hi, Lo;
        QString Question;  // empty: none asked
    };
    const TRow Rows[] = {{1, 99, Older}, {2, 4, Older}, {2, 5, Same}, {2, 6, {}}, {3, 0, {}}};
    for (const TRow &R : Rows) {
        SCOPED_TRACE(std::to_string(R.Hi) + "." + std::to_string(R.Lo));
        Load(WriteCod("fw.cod", 17, R.Hi, R.Lo));
        ASSERT_EQ(L("lblFileStatus")->text(), QStringLiteral("Loaded"));
        if (!R.Question.isEmpty()) {
            // No: page 2 stays as it was.
            Msgs.Answers = {mrNo};
            Press("btnNext");
            ASSERT_EQ(Msgs.Shown.size(), 1u);
            EXPECT_EQ(Msgs.Shown[0].Kind, TMsgKind::YesNo);
            // The question as it stands, then both versions.
            char Versions[64];
            std::snprintf(Versions, sizeof Versions,
                          "\n\nThe sensor has 2.05; the file holds %d.%02d.", R.Hi, R.Lo);
            EXPECT_EQ(Msgs.Shown[0].Msg, R.Question + QString::fromLatin1(Versions));
            Msgs.Shown.clear();
            EXPECT_EQ(Form->PageIndex(), 1);
            EXPECT_EQ(Plain(B("btnNext")->text()), QStringLiteral("Next >"));
            EXPECT_EQ(L("lblFileStatus")->text(), QStringLiteral("Loaded"));
            Msgs.Answers = {mrYes};
        }
        Press("btnNext");
        EXPECT_EQ(Msgs.Shown.size(), R.Question.isEmpty() ? 0u : 1u);
        Msgs.Shown.clear();
        ASSERT_EQ(Form->PageIndex(), 2);
        EXPECT_EQ(Plain(B("btnNext")->text()), QStringLiteral("Update"));
        EXPECT_EQ(L("lblUpdatingPage")->text(),
                  QStringLiteral("Please click the \"Update\" button to upload the firmware"));
        EXPECT_EQ(L("lblPercent")->text(), QStringLiteral("0%"));
        // "< Prev" brings the caption back.
        B("btnPrev")->click();
        EXPECT_EQ(Form->PageIndex(), 1);
        EXPECT_EQ(Plain(B("btnNext")->text()), QStringLiteral("Next >"));
    }
    B("btnPrev")->click();
    EXPECT_EQ(Form->PageIndex(), 0);
    EXPECT_FALSE(B("btnPrev")->isEnabled());
}

TEST_F(WizardTest, FileChecksOnPageTwo) {
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "1.0"});
    Open();
    Connect(Port);
    Press("btnNext");

    Press("btnNext");
    EXPECT_EQ(Msgs.Take(), std::vector<QString>{QStringLiteral("Firmware file not loaded")});

    // A file for another sensor is refused before any version question
    // (it is older too).
    // A device code the catalogue does not know keeps its number.
    Load(WriteCod("unknown.cod", 9, 1, 0));
    EXPECT_EQ(L("lblFileID")->text(), QStringLiteral("Unknown (9)"));
    // The folder of the file is remembered for the next dialogue.
    EXPECT_EQ(LastFirmwareFolder(), QString::fromStdString(Dir.Path()));
    Load(WriteCod("other.cod", 18, 0, 5));
    EXPECT_EQ(L("lblFileID")->text(), QStringLiteral("18 (0x00000012) Probe B"));
    EXPECT_EQ(L("lblFileVersion")->text(), QStringLiteral("0.05"));
    EXPECT_EQ(TextColour(L("lblFileStatus")), kGreen);
    Msgs.Answers = {mrYes};
    Press("btnNext");
    ASSERT_EQ(Msgs.Shown.size(), 1u);
    EXPECT_EQ(Msgs.Shown[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Msgs.Shown[0].Msg,
              QStringLiteral("The selected firmware does not match the connected device"));
    Msgs.Shown.clear();
    EXPECT_EQ(Form->PageIndex(), 1);

    // Cancelling the dialogue changes nothing.
    Load("");
    EXPECT_EQ(L("lblFileStatus")->text(), QStringLiteral("Loaded"));

    // A broken file after a good one clears the labels and blocks Next.
    std::string Broken = MakeCod16(17, 2, 0, "PIC", MakeImage(64));
    Broken[15] = static_cast<char>(Broken[15] + 1);
    Load(Dir.Write("broken.cod", Broken));
    EXPECT_EQ(L("lblFileID")->text(), QStringLiteral("N/A"));
    EXPECT_EQ(L("lblFileVersion")->text(), QStringLiteral("N/A"));
    EXPECT_EQ(L("lblFileStatus")->text(), QStringLiteral("Invalid COD file"));
    EXPECT_EQ(TextColour(L("lblFileStatus")), kRed);
    // The line under it says which check refused the file.
    EXPECT_EQ(L("lblFileReason")->text(), QStringLiteral("The header checksum is wrong"));
    EXPECT_EQ(TextColour(L("lblFileReason")), kRed);
    Press("btnNext");
    EXPECT_EQ(Msgs.Take(), std::vector<QString>{QStringLiteral("Firmware file not loaded")});
}

TEST_F(WizardTest, FileTooBigToUploadIsSaidOnPageTwo) {
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "1.0"});
    Open();
    Connect(Port);
    Press("btnNext");
    // 65534 packets of 8 bytes: one more than an upload can carry.
    Load(WriteCod("big.cod", 17, 2, 0, 65534 * 8 - 16));
    EXPECT_EQ(L("lblFileID")->text(), QStringLiteral("N/A"));
    EXPECT_TRUE(L("lblFileStatus")->text().contains(QStringLiteral("too big to upload")))
        << L("lblFileStatus")->text().toStdString();
    EXPECT_EQ(TextColour(L("lblFileStatus")), kRed);
    EXPECT_FALSE(Form->IsLoaded());
    Press("btnNext");
    EXPECT_EQ(Msgs.Take(), std::vector<QString>{QStringLiteral("Firmware file not loaded")});
    // The largest that fits loads.
    Load(WriteCod("fits.cod", 17, 2, 0, 65533 * 8 - 16));
    EXPECT_EQ(L("lblFileStatus")->text(), QStringLiteral("Loaded"));
}

TEST_F(WizardTest, DeviceAndFileTextsAreShownAsPlainText) {
    Open();
    for (const char *Name :
         {"lblSensorID", "lblSensorVersion", "lblFileID", "lblFileVersion", "lblFileStatus"})
        EXPECT_EQ(L(Name)->textFormat(), Qt::PlainText) << Name;
}

// The file is overwritten after it was loaded: the upload sends the bytes
// that were checked when it was loaded.
TEST_F(WizardTest, UploadSendsTheLoadedBytesWhenTheFileChanges) {
    const std::string File = WriteCod("fw.cod", 17, 2, 6);
    const std::string Expect = Dir.Write("expect.cod", ReadFileBytes(File));
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "2.5", "--expect", Expect,
                                     "--reenter-after", "6000", "--quiet"});
    Open();
    ReachUploadPage(Port, File);
    std::string Other = ReadFileBytes(File);
    for (size_t I = 16; I < Other.size(); ++I) Other[I] = static_cast<char>(~Other[I]);
    Dir.Write("fw.cod", Other);
    Press("btnNext");
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Firmware update successful"));
    // The page sums the update up.
    QLabel *Summary = L("lblSummary");
    EXPECT_TRUE(Summary->isVisible());
    EXPECT_TRUE(Summary->text().startsWith(QStringLiteral(
        "Sensor: 17 (0x00000011) Probe A\nVersion: 2.05 \u2192 2.06\nFile: fw.cod\nPackets: ")))
        << Summary->text().toStdString();
    EXPECT_TRUE(Summary->text().contains(QStringLiteral(" sent, 0 repeated, in ")));
    std::string Line;
    EXPECT_TRUE(Sim().WaitForLine("RESULT", Line));
    EXPECT_EQ(Line.rfind("RESULT MATCH", 0), 0u) << Line;
}

// A sensor behind ser2net (RFC 2217), named in [PORTS]: found at 57600
// after the rate switch on the server, and updated byte for byte.
TEST_F(WizardTest, UploadThroughANetworkPortOfTheSettingsFile) {
    const std::string File = WriteCod("fw.cod", 17, 2, 6, 600);
    const std::string Port =
        AddSim({"--baud", "57600", "--sensor-id", "17", "--version", "2.5", "--expect", File});
    TSer2Net Server({{TSer2Net::TMode::Rfc2217, Port}});
    ASSERT_TRUE(Server.Start());
    const TSettings WithPorts(Dir.Write("ports.ini", "[PORTS]\nCabinet 3=" + Server.Url(0) + "\n"));
    UseNetworkPorts(&WithPorts);
    Open();
    ASSERT_EQ(Combo()->count(), 2);
    EXPECT_EQ(Combo()->itemText(1), QString::fromStdString("Cabinet 3 (" + Server.Url(0) + ")"));
    ReachUploadPage(Server.Url(0), File);
    EXPECT_EQ(Form->Link().BaudRate(), 57600);
    Press("btnNext");
    EXPECT_EQ(Form->PageIndex(), 3);
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Firmware update successful"));
    std::string Line;
    EXPECT_TRUE(Sim().WaitForLine("RESULT MATCH", Line, 5000));
    Form.reset();
    UseNetworkPorts(nullptr);
}

TEST_F(WizardTest, SuccessfulUploadThenNextDeviceWithTheSameFile) {
    const std::string File = WriteCod("fw.cod", 17, 2, 6);
    // The sensor comes back well after the upload's final check (2.5 s pause
    // plus one reply time-out), or that check would find it still there.
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "2.5", "--expect", File,
                                     "--reenter-after", "6000", "--quiet"});
    Open();
    ReachUploadPage(Port, File);

    std::vector<int> Percents;
    QTimer Watch;
    QObject::connect(&Watch, &QTimer::timeout, [&] {
        Percents.push_back(W<QProgressBar>("ProgressBar1")->value());
        // Closing is refused while the upload runs, by every way.
        EXPECT_TRUE(Form->IsUpdating());
        Form->close();
        Form->reject();
        EXPECT_TRUE(Form->isVisible());
        EXPECT_FALSE(B("btnClose")->isEnabled());
        EXPECT_FALSE(B("btnPrev")->isEnabled());
        EXPECT_FALSE(B("btnNext")->isEnabled());
        EXPECT_EQ(L("lblUpdatingPage")->text(), QStringLiteral("Updating..."));
    });
    Watch.start(0);
    Press("btnNext", [&] { Watch.stop(); });  // "Update": returns when the upload has ended

    EXPECT_FALSE(Percents.empty());
    EXPECT_EQ(Form->PageIndex(), 3);
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Firmware update successful"));
    EXPECT_EQ(TextColour(L("lblStatus")), kGreen);
    EXPECT_FALSE(L("lblStatusMsg")->isVisible());
    EXPECT_FALSE(L("lblStatusDetail")->isVisible());
    EXPECT_EQ(L("lblPercent")->text(), QStringLiteral("100%"));
    EXPECT_EQ(W<QProgressBar>("ProgressBar1")->value(), 1000);
    EXPECT_FALSE(W<QWidget>("pnlValidating")->isHidden());
    EXPECT_GT(L("lblPacketsSent")->text().toInt(), 0);
    EXPECT_TRUE(B("btnUpdNextDevice")->isVisible());
    EXPECT_FALSE(B("btnPrev")->isVisible());
    EXPECT_FALSE(B("btnNext")->isVisible());
    EXPECT_TRUE(B("btnClose")->isEnabled());
    std::string Line;
    EXPECT_TRUE(Sim().WaitForLine("RESULT", Line));
    EXPECT_EQ(Line.rfind("RESULT MATCH", 0), 0u) << Line;

    // The next sensor: back to page 1, the file stays loaded.
    B("btnUpdNextDevice")->click();
    EXPECT_EQ(Form->PageIndex(), 0);
    EXPECT_FALSE(Form->IsConnected());
    EXPECT_FALSE(Form->IsFinished());
    EXPECT_TRUE(Form->IsLoaded());
    EXPECT_EQ(L("lblSensorID")->text(), QStringLiteral("N/A"));
    EXPECT_EQ(L("lblFileVersion")->text(), QStringLiteral("2.06"));
    EXPECT_FALSE(B("btnUpdNextDevice")->isVisible());
    EXPECT_TRUE(B("btnPrev")->isVisible());
    EXPECT_FALSE(B("btnPrev")->isEnabled());
    EXPECT_EQ(Plain(B("btnNext")->text()), QStringLiteral("Next >"));

    // The simulated sensor comes back in bootloader mode (once the upload's
    // final check has found it gone): no new file needed.
    ASSERT_TRUE(Sim().WaitForLine("ENTERED BOOTLOADER", Line));
    Connect(Port);
    ASSERT_TRUE(Form->IsConnected());
    Press("btnNext");
    Press("btnNext");
    EXPECT_TRUE(Msgs.Take().empty());
    EXPECT_EQ(Form->PageIndex(), 2);
    EXPECT_TRUE(W<QWidget>("pnlValidating")->isHidden());  // page 3 prepared afresh
    EXPECT_EQ(L("lblPacketsSent")->text(), QStringLiteral("0"));

    // After the upload the window closes normally.
    Form->close();
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(Form->Link().COMPort(), "");
}

TEST_F(WizardTest, UploadThatStaysInBootloaderFails) {
    const std::string File = WriteCod("fw.cod", 17, 2, 6);
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "2.5", "--stay", "--quiet"});
    Open();
    ReachUploadPage(Port, File);
    Press("btnNext");
    EXPECT_EQ(Form->PageIndex(), 3);
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Sensor update failed"));
    EXPECT_EQ(TextColour(L("lblStatus")), kRed);
    EXPECT_TRUE(L("lblStatusMsg")->isVisible());
    EXPECT_EQ(L("lblStatusMsg")->text(),
              QStringLiteral("Please reconnect the sensor and try again"));
    EXPECT_FALSE(L("lblStatusDetail")->isVisible());  // nothing more to say
    EXPECT_TRUE(Msgs.Take().empty());                 // a failed update is no error box
}

// 216 bytes are 27 packets: a bootloader that reports the image complete
// after the third holds 24 bytes of it. The failure page says so, with its
// retry hint.
TEST_F(WizardTest, EarlyCompletionEndsOnTheFailurePage) {
    const std::string File = WriteCod("fw.cod", 17, 2, 6);
    const std::string Port =
        AddSim({"--sensor-id", "17", "--version", "2.5", "--complete-at", "3", "--quiet"});
    Open();
    ReachUploadPage(Port, File);
    Press("btnNext");
    EXPECT_EQ(Form->PageIndex(), 3);
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Sensor update failed"));
    EXPECT_EQ(TextColour(L("lblStatus")), kRed);
    EXPECT_TRUE(L("lblStatusMsg")->isVisible());
    EXPECT_EQ(L("lblStatusMsg")->text(),
              QStringLiteral("Please reconnect the sensor and try again"));
    EXPECT_TRUE(L("lblStatusDetail")->isVisible());
    EXPECT_EQ(L("lblStatusDetail")->text(),
              QStringLiteral("The sensor reported the image complete after packet 3 of 27"));
    EXPECT_EQ(L("lblPacketsSent")->text(), QStringLiteral("2"));
    EXPECT_TRUE(Msgs.Take().empty());
    SaveScreenshot(Form.get(), QStringLiteral("wizard-4-early-completion"));
}

// The reasons the jobs give with numbers in them (a file too big to upload,
// an image reported complete too early) are shown in German under a German
// locale, numbers filled in.
TEST_F(WizardTest, ReasonsWithNumbersAreTranslated) {
    struct TGerman {
        std::map<const char *, std::optional<QByteArray>> Old;
        TGerman() {
            for (const char *Var : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"}) {
                Old[Var] =
                    qEnvironmentVariableIsSet(Var) ? std::optional(qgetenv(Var)) : std::nullopt;
                qunsetenv(Var);
            }
            qputenv("LANG", "de_DE.UTF-8");
            Installed = InstallTranslations();
        }
        ~TGerman() {
            for (const auto &[Var, Value] : Old) {
                if (Value)
                    qputenv(Var, *Value);
                else
                    qunsetenv(Var);
            }
            InstallTranslations();
        }
        QString Installed;
    } German;
    ASSERT_EQ(German.Installed, QStringLiteral("de_DE"));

    const std::string Port =
        AddSim({"--sensor-id", "17", "--version", "2.5", "--complete-at", "3", "--quiet"});
    Open();
    Connect(Port);
    Press("btnNext");
    Load(WriteCod("big.cod", 17, 2, 6, 65534 * 8 - 16));
    EXPECT_EQ(
        L("lblFileStatus")->text(),
        QStringLiteral(
            "Die Firmware-Datei ist zu groß für die Übertragung (65534 Pakete, höchstens 65533)"));
    Load(WriteCod("fw.cod", 17, 2, 6));
    Press("btnNext");
    ASSERT_EQ(Form->PageIndex(), 2);
    Press("btnNext");
    ASSERT_EQ(Form->PageIndex(), 3);
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Sensor-Update fehlgeschlagen"));
    EXPECT_EQ(L("lblStatusDetail")->text(),
              QStringLiteral("Der Sensor meldete das Abbild nach Paket 3 von 27 als vollständig"));
}

TEST_F(WizardTest, HotPlugReloadIsPostedAndKeepsOrDropsTheChoice) {
    const std::string Port = AddSim({"--sensor-id", "17"});
    Open();
    Connect(Port);
    ASSERT_TRUE(Form->IsConnected());
    const QString Chosen = Combo()->currentText();

    // Another adapter arrives: listed after the posted reload ran, choice kept.
    Ports.insert(Ports.begin(),
                 TComListData{Dir.File("ttyNEW"), "New adapter (" + Dir.File("ttyNEW") + ")"});
    Form->PostReloadPorts();
    EXPECT_EQ(Combo()->count(), 1);  // nothing rebuilt inside the notification
    ASSERT_TRUE(WaitUntil([&] { return Combo()->count() == 2; }));
    EXPECT_EQ(Combo()->currentText(), Chosen);
    EXPECT_TRUE(Form->IsConnected());

    // The reload button does the same at once.
    B("btnReload")->click();
    EXPECT_EQ(Combo()->currentText(), Chosen);
    EXPECT_TRUE(Form->IsConnected());

    // The chosen adapter leaves: nothing chosen, the link is dropped.
    Ports.pop_back();
    Form->PostReloadPorts();
    ASSERT_TRUE(WaitUntil([&] { return Combo()->count() == 1; }));
    EXPECT_EQ(Combo()->currentIndex(), -1);
    EXPECT_FALSE(Form->IsConnected());
    EXPECT_EQ(Form->Link().COMPort(), "");
    EXPECT_EQ(L("lblSensorID")->text(), QStringLiteral("N/A"));
    EXPECT_EQ(L("lblSensorVersion")->text(), QStringLiteral("N/A"));
    EXPECT_EQ(Form->PageIndex(), 0);
}

TEST_F(WizardTest, UnplugDuringTheUploadEndsAsFailedWithoutACrash) {
    const std::string File = WriteCod("fw.cod", 17, 2, 6, 400);
    // Paced at the line's rate: the upload runs on its own thread, and the
    // window has to see the reload well before the tenth packet.
    const std::string Port = AddSim(
        {"--sensor-id", "17", "--version", "2.5", "--hangup-after", "10", "--pace", "--quiet"});
    Open();
    ReachUploadPage(Port, File);

    // The adapter vanishes from the system while packets are on their way:
    // the hot-plug reload runs while the upload goes on. Looked at from the
    // progress reports, while packets are still being acknowledged.
    bool Posted = false;
    bool ReloadSeen = false;
    const auto Unplug =
        QObject::connect(W<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged, [&] {
            if (!Posted) {
                Ports.clear();
                Form->PostReloadPorts();
                Posted = true;
            } else if (Form->IsUpdating() && Combo()->count() == 0) {
                ReloadSeen = true;
                EXPECT_FALSE(Form->IsConnected());
                EXPECT_EQ(L("lblSensorID")->text(), QStringLiteral("N/A"));
                // The upload still owns its port until it ends: the reload must
                // not pull it away underneath (the adapter's hang-up ends it).
                EXPECT_NE(Form->Link().COMPort(), "");
            }
        });
    Press("btnNext", [&] { QObject::disconnect(Unplug); });

    EXPECT_TRUE(Posted);
    EXPECT_TRUE(ReloadSeen);
    EXPECT_EQ(Form->PageIndex(), 3);
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Sensor update failed"));
    EXPECT_EQ(TextColour(L("lblStatus")), kRed);
    EXPECT_TRUE(L("lblStatusMsg")->isVisible());
    EXPECT_FALSE(Form->IsUpdating());
    EXPECT_TRUE(Form->IsFinished());
    EXPECT_EQ(Form->Link().COMPort(), "");  // closed once the upload had ended
    EXPECT_TRUE(B("btnClose")->isEnabled());
    EXPECT_TRUE(Msgs.Take().empty());
}

TEST_F(WizardTest, MinimisingTheWizardMinimisesTheApplication) {
    AddSim({"--sensor-id", "17"});
    QWidget Owner;
    Owner.show();
    Form = std::make_unique<TFWUpdateForm>(Settings, &Owner);
    Form->show();
    QApplication::processEvents();
    Form->setWindowState(Form->windowState() | Qt::WindowMinimized);
    QApplication::processEvents();
    EXPECT_TRUE(Owner.isMinimized());
    EXPECT_TRUE(Form->isMinimized());
    Form.reset();
}

// After an upload Enter goes on with the next sensor, and after that with
// Connect: never Close, which would end the wizard on a second Enter.
TEST_F(WizardTest, FocusFollowsTheNextStepAfterAnUpload) {
    const std::string File = WriteCod("fw.cod", 17, 2, 6);
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "2.5", "--stay", "--quiet"});
    Open();
    Form->activateWindow();
    ReachUploadPage(Port, File);
    B("btnNext")->setFocus();
    QTest::keyClick(B("btnNext"), Qt::Key_Return);  // "Update"
    ASSERT_TRUE(WaitUntil([&] { return !Form->IsBusy(); }, 180000));
    ASSERT_EQ(Form->PageIndex(), 3);
    EXPECT_EQ(Form->focusWidget(), B("btnUpdNextDevice"));
    EXPECT_TRUE(B("btnUpdNextDevice")->isDefault());

    QTest::keyClick(Form->focusWidget(), Qt::Key_Return);
    EXPECT_EQ(Form->PageIndex(), 0);
    EXPECT_EQ(Form->focusWidget(), B("btnConnect"));
    QTest::keyClick(Form->focusWidget(), Qt::Key_Return);  // connects again
    EXPECT_TRUE(Form->isVisible());
}

// Enter in the port list connects; the reload button beside it is no
// hidden default.
TEST_F(WizardTest, EnterInThePortListConnects) {
    const std::string Port = AddSim({"--sensor-id", "17"});
    Open();
    Form->activateWindow();
    int Reloads = 0;
    QObject::connect(B("btnReload"), &QPushButton::clicked, [&] { ++Reloads; });
    Choose(Port);
    Combo()->setFocus();
    QApplication::processEvents();
    QTest::keyClick(Combo(), Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return !Form->IsBusy(); }, 60000));
    EXPECT_TRUE(Form->IsConnected());
    EXPECT_EQ(Reloads, 0);
    EXPECT_TRUE(B("btnConnect")->isDefault() || !Form->isActiveWindow());
    EXPECT_TRUE(Msgs.Take().empty());
}

// A port text wider than the list is cut in the middle, so that the device
// node stays in view; the tooltip and the open list have it whole.
TEST_F(WizardTest, LongPortNamesKeepTheirDeviceNodeInView) {
    const QString Long = QStringLiteral("CP2102N USB to UART Bridge Controller (/dev/ttyUSB0)");
    const QString Short = QStringLiteral("Simulated (/dev/ttyS9)");
    Ports = {{"/dev/ttyUSB0", Long.toStdString()}, {"/dev/ttyS9", Short.toStdString()}};
    Open();
    QComboBox *C = Combo();
    const QFontMetrics Metrics = C->fontMetrics();
    ASSERT_GT(Metrics.horizontalAdvance(Long), C->width()) << "the fixture is no longer too long";
    for (int I = 0; I < C->count(); ++I)
        EXPECT_EQ(C->itemData(I, Qt::ToolTipRole).toString(), C->itemText(I));
    EXPECT_GE(C->view()->minimumWidth(), Metrics.horizontalAdvance(Long));

    C->setCurrentIndex(C->findText(Long));
    const QString Shown = PortComboDisplayText(C);
    EXPECT_TRUE(Shown.endsWith(QStringLiteral("(/dev/ttyUSB0)"))) << Shown.toStdString();
    EXPECT_TRUE(Shown.startsWith(QStringLiteral("CP2102N"))) << Shown.toStdString();
    EXPECT_TRUE(Shown.contains(QChar(0x2026))) << Shown.toStdString();
    EXPECT_LT(Metrics.horizontalAdvance(Shown), C->width());

    // The closed list draws that text: it looks like a plain list holding
    // just the cut text.
    QComboBox Plain(C->parentWidget());
    Plain.setGeometry(C->geometry());
    Plain.addItem(Shown);
    Plain.show();
    EXPECT_EQ(C->grab().toImage(), Plain.grab().toImage());

    C->setCurrentIndex(C->findText(Short));
    EXPECT_EQ(PortComboDisplayText(C), Short);  // what fits is not cut
}

TEST_F(WizardTest, FilePageNamesTheLoadedFile) {
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "1.0"});
    Open();
    Connect(Port);
    Press("btnNext");
    EXPECT_TRUE(L("lblFileName")->text().isEmpty());

    const std::string Good = WriteCod("sensor-17_v2.06.cod", 17, 2, 6);
    Load(Good);
    EXPECT_EQ(L("lblFileName")->text(), QStringLiteral("sensor-17_v2.06.cod"));
    EXPECT_EQ(L("lblFileName")->toolTip(), QString::fromStdString(Good));
    EXPECT_EQ(L("lblFileVersion")->text(), QStringLiteral("2.06"));

    // A name too long for the page keeps its start and its end.
    const std::string Long = WriteCod(std::string(60, 'a') + "-final-build.cod", 17, 2, 7);
    Load(Long);
    const QString Shown = L("lblFileName")->text();
    EXPECT_TRUE(Shown.endsWith(QStringLiteral("final-build.cod"))) << Shown.toStdString();
    EXPECT_TRUE(Shown.contains(QChar(0x2026))) << Shown.toStdString();
    EXPECT_LE(L("lblFileName")->fontMetrics().horizontalAdvance(Shown), L("lblFileName")->width());
    EXPECT_EQ(L("lblFileName")->toolTip(), QString::fromStdString(Long));

    // An invalid file is named too, beside its status.
    const std::string Broken = Dir.Write("broken.cod", "not a firmware file");
    Load(Broken);
    EXPECT_EQ(L("lblFileName")->text(), QStringLiteral("broken.cod"));
    EXPECT_EQ(L("lblFileStatus")->text(), QStringLiteral("Invalid COD file"));
}

// A file that cannot be read after a good one: an error, and every label
// still describes the good file, which is what Update sends.
TEST_F(WizardTest, UnreadableFileKeepsTheLabelsOfTheLoadedFile) {
    const std::string Good = WriteCod("good.cod", 17, 2, 6);
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "1.0", "--expect", Good});
    // Mode 000 stops an ordinary user; root reads through it, but not
    // through the start of its own address space (EIO).
    std::string Unreadable = WriteCod("unreadable.cod", 17, 2, 7);
    ASSERT_EQ(::chmod(Unreadable.c_str(), 0), 0);
    if (::geteuid() == 0) Unreadable = "/proc/self/mem";
    Open();
    Connect(Port);
    Press("btnNext");
    Load(Good);
    Msgs.Shown.clear();
    const char *const Labels[] = {"lblFileName", "lblFileID", "lblFileVersion", "lblFileStatus"};
    std::vector<QString> Before;
    for (const char *Name : Labels) Before.push_back(L(Name)->text());
    const QString Tip = L("lblFileName")->toolTip();

    Load(Unreadable);
    ASSERT_EQ(Msgs.Shown.size(), 1u);
    EXPECT_EQ(Msgs.Shown[0].Kind, TMsgKind::Error);
    EXPECT_TRUE(Msgs.Shown[0].Msg.contains(QString::fromStdString(Unreadable)))
        << Msgs.Shown[0].Msg.toStdString();
    Msgs.Shown.clear();
    for (size_t I = 0; I < std::size(Labels); ++I)
        EXPECT_EQ(L(Labels[I])->text(), Before[I]) << Labels[I];
    EXPECT_EQ(L("lblFileName")->text(), QStringLiteral("good.cod"));
    EXPECT_EQ(L("lblFileName")->toolTip(), Tip);
    EXPECT_EQ(L("lblFileStatus")->text(), QStringLiteral("Loaded"));
    EXPECT_TRUE(Form->IsLoaded());

    Press("btnNext");
    ASSERT_EQ(Form->PageIndex(), 2);
    Press("btnNext");
    EXPECT_EQ(Form->PageIndex(), 3);
    std::string Line;
    EXPECT_TRUE(Sim().WaitForLine("RESULT", Line, 5000));
    EXPECT_EQ(Line.rfind("RESULT MATCH", 0), 0u) << Line;
}

// A job that raises something that is neither a port, a file nor a
// standard error: the wizard still comes back (the failed connect, the
// failure page of an upload), says what was raised, and closes.
struct TOddFault {};

TEST_F(WizardTest, AnyErrorRaisedByAJobEndsItAsAFailure) {
    const std::string File = WriteCod("fw.cod", 17, 2, 6);
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "2.5", "--stay", "--quiet"});
    std::atomic<int> Raise{0};  // 1: an int, 2: a type of its own
    SetLinkMaker([&](const std::string &) {
        return std::make_unique<TFaultyLink>(std::make_unique<TComPort>(), [&] {
            if (Raise == 1) throw 42;
            if (Raise == 2) throw TOddFault{};
        });
    });
    Open();

    // Connect.
    Raise = 1;
    Connect(Port);
    EXPECT_EQ(Msgs.Take(),
              std::vector<QString>{QStringLiteral("Unknown error (exception of type int)")});
    EXPECT_FALSE(Form->IsConnected());
    for (const char *Name : {"btnConnect", "btnReload", "cbCOMPort", "btnNext", "btnClose"})
        EXPECT_TRUE(W<QWidget>(Name)->isEnabled()) << Name;
    EXPECT_EQ(L("lblSensorID")->text(), QStringLiteral("N/A"));

    // Upload.
    Raise = 0;
    ReachUploadPage(Port, File);
    Raise = 2;
    Press("btnNext");
    Raise = 0;
    ASSERT_EQ(Msgs.Shown.size(), 1u);
    EXPECT_EQ(Msgs.Shown[0].Kind, TMsgKind::Error);
    EXPECT_TRUE(Msgs.Shown[0].Msg.startsWith(QStringLiteral("Unknown error (exception of type ")))
        << Msgs.Shown[0].Msg.toStdString();
    EXPECT_TRUE(Msgs.Shown[0].Msg.contains(QStringLiteral("TOddFault")))
        << Msgs.Shown[0].Msg.toStdString();
    Msgs.Shown.clear();
    EXPECT_EQ(Form->PageIndex(), 3);
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Sensor update failed"));
    EXPECT_EQ(TextColour(L("lblStatus")), kRed);
    EXPECT_TRUE(B("btnClose")->isEnabled());
    EXPECT_TRUE(B("btnUpdNextDevice")->isVisible());

    // The next device: page one, Next and Close work again.
    Press("btnUpdNextDevice");
    EXPECT_EQ(Form->PageIndex(), 0);
    Connect(Port);
    ASSERT_TRUE(Form->IsConnected());
    Press("btnNext");
    EXPECT_EQ(Form->PageIndex(), 1);
    Press("btnPrev");
    EXPECT_EQ(Form->PageIndex(), 0);
    EXPECT_TRUE(Form->close());
    Form.reset();
    SetLinkMaker({});
}

// The busy cursor while the link waits, the normal one afterwards.
TEST_F(WizardTest, BusyCursorOnlyWhileConnectingAndUploading) {
    const std::string File = WriteCod("fw.cod", 17, 2, 6);
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "2.5", "--stay", "--quiet"});
    Open();
    ReachUploadPage(Port, File);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    std::vector<Qt::CursorShape> During;
    QTimer Watch;
    QObject::connect(&Watch, &QTimer::timeout, [&] {
        const QCursor *C = QGuiApplication::overrideCursor();
        During.push_back(C ? C->shape() : Qt::ArrowCursor);
    });
    Watch.start(0);
    Press("btnNext", [&] { Watch.stop(); });
    ASSERT_FALSE(During.empty());
    EXPECT_EQ(During.front(), Qt::BusyCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // A failed Connect shows its box with the normal arrow, and restores.
    Ports.push_back({Dir.File("ttyNONE"), "Nothing there"});
    B("btnUpdNextDevice")->click();
    B("btnReload")->click();
    std::optional<Qt::CursorShape> AtBox;
    SetMsgPresenter([&](TMsgKind, const QString &, const QString &) {
        const QCursor *C = QGuiApplication::overrideCursor();
        AtBox = C ? C->shape() : Qt::ArrowCursor;
        return mrOk;
    });
    Combo()->setCurrentIndex(Combo()->findText(QStringLiteral("Nothing there")));
    emit Combo()->activated(Combo()->currentIndex());
    Press("btnConnect");
    EXPECT_EQ(AtBox, std::optional<Qt::CursorShape>(Qt::ArrowCursor));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace

// One sensor updated by keyboard alone, as the README tells it: Alt+M to the
// port list and the port picked with the keys, Alt+C connects, Alt+N, Alt+F
// loads the file, Alt+N, Alt+U updates; Alt+D goes on with the next sensor
// and Alt+L closes the wizard.
TEST_F(WizardTest, OneSensorUpdatedByKeyboardAlone) {
    const std::string File = WriteCod("fw.cod", 17, 2, 6);
    Ports.push_back({Dir.File("ttyNONE"), "Another port"});
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "2.5", "--expect", File,
                                     "--reenter-after", "6000", "--quiet"});
    NextFile = QString::fromStdString(File);
    Open();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    // Alt+letter, and whatever it started run to its end.
    auto Alt = [&](Qt::Key Key, const char *Button) {
        SCOPED_TRACE(Button);
        QTest::keyClick(Form.get(), Key, Qt::AltModifier);
        EXPECT_TRUE(WaitUntil([&] { return !B(Button)->isDown(); }, 5000));
        EXPECT_TRUE(WaitUntil([&] { return !Form->IsBusy(); }, 180000));
    };

    QTest::keyClick(Form.get(), Qt::Key_M, Qt::AltModifier);
    ASSERT_EQ(QApplication::focusWidget(), Combo());
    QTest::keyClick(Combo(), Qt::Key_End);
    EXPECT_TRUE(Combo()->currentText().contains(QString::fromStdString(Port)));
    Alt(Qt::Key_C, "btnConnect");
    ASSERT_TRUE(Form->IsConnected());
    EXPECT_EQ(L("lblSensorVersion")->text(), QStringLiteral("2.05"));
    Alt(Qt::Key_N, "btnNext");
    ASSERT_EQ(Form->PageIndex(), 1);
    Alt(Qt::Key_F, "btnLoadFile");
    ASSERT_TRUE(Form->IsLoaded());
    Alt(Qt::Key_N, "btnNext");
    ASSERT_EQ(Form->PageIndex(), 2);
    EXPECT_EQ(Plain(B("btnNext")->text()), QStringLiteral("Update"));
    Alt(Qt::Key_U, "btnNext");
    ASSERT_EQ(Form->PageIndex(), 3);
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Firmware update successful"));
    std::string Line;
    EXPECT_TRUE(Sim().WaitForLine("RESULT", Line));
    EXPECT_EQ(Line.rfind("RESULT MATCH", 0), 0u) << Line;

    Alt(Qt::Key_D, "btnUpdNextDevice");
    EXPECT_EQ(Form->PageIndex(), 0);
    Alt(Qt::Key_L, "btnClose");
    EXPECT_FALSE(Form->isVisible());
    EXPECT_TRUE(Msgs.Take().empty());
}

namespace {

std::vector<nlohmann::json> WizardRecords(const std::string &Path) {
    std::vector<nlohmann::json> Out;
    std::ifstream In(Path);
    for (std::string Line; std::getline(In, Line);) Out.push_back(nlohmann::json::parse(Line));
    return Out;
}

// Every attempt on an identified sensor is on file: a refused file, a
// question answered No, an upload (with the file's SHA-256 and the
// sensor's versions); a records file that cannot be written leaves the
// update's result as it is and says so in a box after it.
TEST_F(WizardTest, EveryAttemptIsRecorded) {
    const std::string Records = Dir.File("state/updates.jsonl");
    delete Settings;
    Settings =
        new TSettings(Dir.Write("records.ini", "[SETTINGS]\nTIMEOUT=1500\nRECORDS=" + Records +
                                                   "\n[SENSORS]\n17=Probe A\n"));
    const std::string Other = WriteCod("other.cod", 18, 2, 6);
    const std::string Older = WriteCod("older.cod", 17, 1, 0);
    const std::string File = WriteCod("fw.cod", 17, 2, 6);
    const std::string Port = AddSim({"--sensor-id", "17", "--version", "2.5", "--quiet"});
    Open();
    Connect(Port);
    ASSERT_TRUE(Form->IsConnected());
    Press("btnNext");
    Load(Other);
    Press("btnNext");  // refused: another sensor's file
    Load(Older);
    Msgs.Answers.push_back(mrNo);
    Press("btnNext");  // "older": No
    Load(File);
    Press("btnNext");
    ASSERT_EQ(Form->PageIndex(), 2);
    Msgs.Take();
    Press("btnNext");
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Firmware update successful"));
    EXPECT_TRUE(Msgs.Take().empty());

    const auto Lines = WizardRecords(Records);
    ASSERT_EQ(Lines.size(), 3u);
    EXPECT_EQ(Lines[0]["result"], "failed");
    EXPECT_EQ(Lines[0]["reason"], "The selected firmware does not match the connected device");
    EXPECT_EQ(Lines[0]["file_name"], Other);
    EXPECT_EQ(Lines[1]["result"], "skipped");
    EXPECT_EQ(Lines[1]["reason"], "Not confirmed");
    EXPECT_EQ(Lines[1]["version_in_file"], "1.00");
    const nlohmann::json &Ok = Lines[2];
    EXPECT_EQ(Ok["source"], "wizard");
    EXPECT_EQ(Ok["port"], Port);
    EXPECT_EQ(Ok["sensor_id"], 17);
    EXPECT_EQ(Ok["sensor_name"], "Probe A");
    EXPECT_EQ(Ok["version_before"], "2.05");
    EXPECT_EQ(Ok["version_in_file"], "2.06");
    EXPECT_EQ(Ok["file_size"], 216);
    const std::string Bytes = ReadFileBytes(File);
    EXPECT_EQ(Ok["file_sha256"], Sha256Hex(Bytes.data(), Bytes.size()));
    EXPECT_EQ(Ok["packets"], 26);
    EXPECT_EQ(Ok["failed_attempts"], 0);
    EXPECT_EQ(Ok["result"], "ok");
    EXPECT_EQ(Ok["reason"], "Firmware update successful");

    // The same with a file in the records' way.
    Form.reset();
    const std::string Blocker = Dir.Write("blocker", "not a folder");
    delete Settings;
    Settings = new TSettings(Dir.Write(
        "blocked.ini", "[SETTINGS]\nTIMEOUT=1500\nRECORDS=" + Blocker + "/updates.jsonl\n"));
    const std::string Port2 = AddSim({"--sensor-id", "17", "--version", "2.5", "--quiet"});
    Open();
    ReachUploadPage(Port2, File);
    Msgs.Take();
    Press("btnNext");
    EXPECT_EQ(L("lblStatus")->text(), QStringLiteral("Firmware update successful"));
    ASSERT_TRUE(WaitUntil([&] { return !Msgs.Shown.empty(); }));
    const auto Shown = Msgs.Take();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_TRUE(
        Shown[0].startsWith(QStringLiteral("The record of this update could not be written:")))
        << Shown[0].toStdString();
    EXPECT_EQ(Form->PageIndex(), 3);
}

}  // namespace
