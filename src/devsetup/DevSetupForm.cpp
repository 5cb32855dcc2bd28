#include "devsetup/DevSetupForm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>

#include "Version.h"
#include "devsetup/CommPage.h"
#include "devsetup/NumberEdit.h"
#include "devsetup/RegsPage.h"
#include "devsetup/ScanPage.h"
#include "devsetup/WatchPage.h"
#include "jobs/CommCatalogue.h"
#include "jobs/RegisterJob.h"
#include "jobs/WatchLog.h"
#include "serial/LineTypes.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"
#include "ui_CommPage.h"
#include "ui_DevSetupForm.h"
#include "ui_RegsPage.h"
#include "ui_ScanPage.h"
#include "ui_WatchPage.h"
#include "widgets/ErrorBox.h"
#include "widgets/HotPlugWatcher.h"
#include "widgets/JobWindow.h"
#include "widgets/MsgBox.h"
#include "widgets/PortCombo.h"
#include "widgets/WindowHelpers.h"

namespace {

void Error(TJobText Msg) {
    ShowErrorMsg(AppTitle(), Say(Msg));
}
void Info(TJobText Msg) {
    ShowInfoMsg(AppTitle(), Say(Msg));
}
// A failed transaction: the message, and on a second line what the
// sensor's answer (or its silence) showed.
void ErrorWithReason(TJobText Msg, const TModbusFailureInfo &Why) {
    QString Text = Say(Msg);
    if (const TJobReason Reason = ModbusFailureReason(Why); !Reason.Empty())
        Text += QLatin1Char('\n') + Say(Reason);
    ShowErrorMsg(AppTitle(), Text);
}
// Msg and, when the port could not be opened, why and what to do.
void PortError(TJobText Msg, const std::string &Port, const std::optional<EComPort> &OpenError) {
    ShowErrorMsg(AppTitle(), WithPortAdvice(Say(Msg), Port, OpenError));
}
// A value no register of its kind holds: refused with the range, nothing
// sent.
void ErrorOutOfRange(const TValueRange &Range) {
    ShowErrorMsg(AppTitle(), Say(TJobText::ValueOutOfRange).arg(Range.Min).arg(Range.Max));
}

// A sensor kind as the page's sensor line names it: the catalogue's name,
// or its device code when the file does not name it.
QString KindName(const TSettings &Catalogue, int SensorID) {
    const std::string Name = Catalogue.SensorIDToName(SensorID);
    return Name == "Unknown" ? QString::number(SensorID) : QString::fromStdString(Name);
}

// Runs a handler the way every slot of the window does: whatever escapes it
// goes to the default error box.
template <class F>
auto Guarded(F Handler) {
    return [Handler] { RunGuarded(Handler); };
}

}  // namespace

TDevSetupForm::TDevSetupForm(const TSettings *Catalogue, QWidget *Owner)
    : QDialog(Owner),
      ui(new Ui::TDevSetupForm),
      FJobs(
          this, Catalogue, [this](bool Enabled) { SetActionsEnabled(Enabled); },
          [this] { JobEnded(); }) {
    ui->setupUi(this);
    Ui::TScanPage &Scan = ui->TabSheet1->Controls();
    Ui::TCommPage &Comm = ui->TabSheet2->Controls();
    Ui::TRegsPage &Regs = ui->TabSheet3->Controls();
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    InstallMinimizeAll(this);  // adds the minimise button
    ApplyWindowFont(this);
    EnableEnterOnButtons(this);
    // Enter in a field presses the action its page is about. The shared
    // connection settings, the scan list and the register value have none:
    // a Read there would overwrite the value just typed.
    SetEnterActions(this, {{Scan.edScanFirstA, Scan.btnScan},
                           {Scan.edScanLastA, Scan.btnScan},
                           {Comm.edCommAddr, Comm.btnCommRead},
                           {Comm.edCommBRReg, Comm.btnCommRead},
                           {Comm.edCommBRVal, Comm.btnCommRead},
                           {Comm.edCommPDSReg, Comm.btnCommRead},
                           {Comm.edCommPDSVal, Comm.btnCommRead},
                           {Comm.edCommAdrReg, Comm.btnCommRead},
                           {Comm.edCommAdrVal, Comm.btnCommRead},
                           {Regs.edUpdAddr, Regs.btnUpdRead},
                           {Regs.edUpdStartReg, Regs.btnUpdRead},
                           {Regs.cbUpdDataType, Regs.btnUpdRead},
                           {Regs.edNumRegs, Regs.btnUpdRead},
                           {Regs.cbUpdDataOrder, Regs.btnUpdRead}});
    setFixedSize(394, 372);

    ui->btnReload->setIcon(ReloadIcon());
    // The parity list shows the names in the user's language; the port is
    // set from the English ones.
    static const char *const ParityNames[] = {"None", "Even", "Odd"};
    for (int I = 0; I < ui->cbParity->count() && I < 3; ++I)
        ui->cbParity->setItemData(I, QString::fromLatin1(ParityNames[I]));
    // All four tabs stay in view, as on a page control: where the fonts
    // make them wider than the window, a long title is shortened.
    ui->PageControl1->setUsesScrollButtons(false);
    ui->PageControl1->setElideMode(Qt::ElideRight);
    FWatchSize = QSize(720, 560);

    connect(ui->btnClose, &QPushButton::clicked, this, Guarded([this] { btnCloseClick(); }));
    connect(ui->btnReload, &QToolButton::clicked, this, Guarded([this] { btnReloadClick(); }));
    connect(ui->PageControl1, &QTabWidget::currentChanged, this,
            [this](int Index) { PageControl1Change(Index); });
    connect(Scan.btnScan, &QPushButton::clicked, this, Guarded([this] { btnScanClick(); }));
    connect(Scan.btnStopScan, &QToolButton::clicked, this, Guarded([this] { btnStopScanClick(); }));
    connect(ui->TabSheet1, &TScanPage::SensorPicked, this,
            [this](int Address, int SensorID) { LVScanPicked(Address, SensorID); });
    connect(Comm.btnCommRead, &QPushButton::clicked, this, Guarded([this] { btnCommReadClick(); }));
    connect(Comm.btnCommWrite, &QPushButton::clicked, this,
            Guarded([this] { btnCommWriteClick(); }));
    connect(Regs.btnUpdRead, &QPushButton::clicked, this, Guarded([this] { btnUpdReadClick(); }));
    connect(Regs.btnUpdWrite, &QPushButton::clicked, this, Guarded([this] { btnUpdWriteClick(); }));
    Ui::TWatchPage &Watch = ui->WatchPage->Controls();
    connect(Watch.btnWatchStart, &QPushButton::clicked, this,
            Guarded([this] { btnWatchStartClick(); }));
    connect(Watch.btnWatchStop, &QPushButton::clicked, this,
            Guarded([this] { btnWatchStopClick(); }));
    connect(Watch.btnWatchAdd, &QPushButton::clicked, this,
            Guarded([this] { btnWatchAddClick(); }));

    FormCreate();
}

TDevSetupForm::~TDevSetupForm() {
    // A scan still running ends after its address; nothing it reports is
    // shown any more.
    bStopScan = true;
    bStopWatch = true;
    FScanPace.release();
    FJobs.Wait();
}

TScanPage &TDevSetupForm::ScanPage() const {
    return *ui->TabSheet1;
}
TCommPage &TDevSetupForm::CommPage() const {
    return *ui->TabSheet2;
}
TRegsPage &TDevSetupForm::RegsPage() const {
    return *ui->TabSheet3;
}
TWatchPage &TDevSetupForm::WatchPage() const {
    return *ui->WatchPage;
}

void TDevSetupForm::FormCreate() {
    // Register before the first listing so that nothing plugged in between
    // is missed; the watcher only queues reloads.
    FHotPlug = new THotPlugWatcher(this, [this] { WMReloadPorts(); });
    FillPortCombo(ui->cbCOMPort);
    ui->PageControl1->setCurrentWidget(ui->TabSheet1);
    FPage = ui->PageControl1->currentIndex();
}

void TDevSetupForm::showEvent(QShowEvent *Event) {
    QDialog::showEvent(Event);
    FormShow();
    if (!FScreenWatched && windowHandle()) {
        FScreenWatched = true;
        connect(windowHandle(), &QWindow::screenChanged, this,
                [this] { FormAfterMonitorDpiChanged(); });
    }
}

void TDevSetupForm::FormAfterMonitorDpiChanged() {
    FormShow();
}

void TDevSetupForm::FormShow() {
    // The reload button stands as tall as the drop-down beside it.
    ui->btnReload->setFixedHeight(ui->cbCOMPort->sizeHint().height() + 2);
    ui->btnReload->setFixedWidth(ui->btnReload->height());
}

bool TDevSetupForm::FormCloseQuery() const {
    return !IsBusy();
}

void TDevSetupForm::closeEvent(QCloseEvent *Event) {
    if (!FormCloseQuery()) {
        // A watch ends at the next round and the window closes then.
        if (bWatching) {
            bCloseAfterJob = true;
            bStopWatch = true;
        }
        Event->ignore();
        return;
    }
    QDialog::closeEvent(Event);
}

void TDevSetupForm::done(int Result) {
    // Escape, the close box and Close all end here.
    if (!FormCloseQuery()) {
        if (bWatching) {
            bCloseAfterJob = true;
            bStopWatch = true;
        }
        return;
    }
    QDialog::done(Result);
}

bool TDevSetupForm::PageControl1Changing() const {
    return !IsBusy();
}

void TDevSetupForm::PageControl1Change(int Index) {
    if (Index == FPage) return;
    if (!PageControl1Changing()) {
        // Back to the page the job runs on before anything is drawn.
        const QSignalBlocker Block(ui->PageControl1);
        ui->PageControl1->setCurrentIndex(FPage);
        return;
    }
    FPage = Index;
    FitSizeToPage();
}

void TDevSetupForm::FitSizeToPage() {
    if (ui->PageControl1->currentWidget() == ui->WatchPage) {
        setMinimumSize(560, 460);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(FWatchSize);
        return;
    }
    if (minimumSize() != maximumSize()) FWatchSize = size();
    setFixedSize(394, 372);
}

void TDevSetupForm::btnCloseClick() {
    close();
}

void TDevSetupForm::btnReloadClick() {
    ReloadPortList();
}

void TDevSetupForm::WMReloadPorts() {
    // A watch waits most of its time between rounds: an adapter unplugged
    // meanwhile ends it now, not at the next round an hour later.
    if (bWatching && FWatchPort.find("://") == std::string::npos) {
        std::vector<TComListData> Ports;
        EnumComPorts(Ports);
        if (std::none_of(Ports.begin(), Ports.end(),
                         [this](const TComListData &P) { return P.DeviceID == FWatchPort; })) {
            bWatchPortGone = true;
            bStopWatch = true;
        }
    }
    ReloadPortList();
}

void TDevSetupForm::ReloadPortList() {
    // A job reads the chosen port: leave the list alone until it has ended.
    if (IsBusy()) {
        bReloadPending = true;
        return;
    }
    bReloadPending = false;
    ReloadPortCombo(ui->cbCOMPort);
}

bool TDevSetupForm::PortChosen() const {
    return SelectedPort(ui->cbCOMPort).has_value();
}

bool TDevSetupForm::CheckPortChosen() const {
    if (PortChosen()) return true;
    Error(TJobText::PortNotSelected);
    return false;
}

std::string TDevSetupForm::GetSelectedPort() const {
    const std::optional<TComListData> Port = SelectedPort(ui->cbCOMPort);
    return Port ? Port->DeviceID : std::string();
}

TPortParams TDevSetupForm::GetPortParams() const {
    TPortParams P;
    P.BaudRate = BaudRateFromText(ui->cbBitrate->currentText().toStdString());
    P.ParityBits = ParityFromText(ui->cbParity->currentData().toString().toStdString());
    P.StopBits = StopBitsFromText(ui->cbStopBits->currentText().toStdString());
    P.Timeout = ui->edTimeout->value();
    return P;
}

// ---- Jobs --------------------------------------------------------------

void TDevSetupForm::SetActionsEnabled(bool Enabled) {
    Ui::TCommPage &Comm = CommPage().Controls();
    // The inputs a running job was started from are locked with the
    // buttons: what it shows at its end stands under the inputs it was
    // made for.
    for (QWidget *W : std::initializer_list<QWidget *>{
             ScanPage().Controls().btnScan, ui->btnClose, Comm.btnCommRead, Comm.btnCommWrite,
             Comm.edCommAddr, Comm.edCommBRReg, Comm.edCommBRVal, Comm.edCommPDSReg,
             Comm.edCommPDSVal, Comm.edCommAdrReg, Comm.edCommAdrVal})
        W->setEnabled(Enabled);
    CommPage().SetListsEnabled(Enabled);
    RegsPage().SetBusy(!Enabled);
    WatchPage().SetLocked(!Enabled);
    // Closing the window stops a watch (and closes once it has ended).
    ui->btnClose->setEnabled(Enabled || bWatching);
}

void TDevSetupForm::JobEnded() {
    if (bReloadPending) ReloadPortList();
    emit JobFinished();
    if (bCloseAfterJob) {
        bCloseAfterJob = false;
        close();
    }
}

// ---- Scan page ---------------------------------------------------------

void TDevSetupForm::SetScanControlsEnabled(bool Enabled) {
    Ui::TScanPage &Scan = ScanPage().Controls();
    for (QWidget *W : std::initializer_list<QWidget *>{
             ui->cbCOMPort, ui->btnReload, ui->cbBitrate, ui->cbParity, ui->cbStopBits,
             ui->edTimeout, Scan.edScanFirstA, Scan.edScanLastA, Scan.chkSearchAll, Scan.btnScan,
             ui->btnClose})
        W->setEnabled(Enabled);
}

void TDevSetupForm::btnScanClick() {
    if (IsBusy()) return;
    Ui::TScanPage &Scan = ScanPage().Controls();
    const bool Searching = Scan.chkSearchAll->isChecked();
    ScanPage().Clear(Searching);
    if (!CheckPortChosen()) return;
    TScanOptionsJob Options;
    Options.First = Scan.edScanFirstA->value();
    Options.Last = Scan.edScanLastA->value();
    if (Options.First > Options.Last) {
        Error(TJobText::InvalidAddresses);
        return;
    }
    Options.Port = GetSelectedPort();
    Options.Params = GetPortParams();
    if (Searching) {
        TFindOptions Search;
        Search.Port = Options.Port;
        Search.First = Options.First;
        Search.Last = Options.Last;
        Search.ProbeTimeoutMs = FProbeTimeoutMs;
        // The catalogue's sensor defaults first, then what the window has.
        Search.Plan.Preferred = CatalogueLineSettings(FJobs.Catalogue());
        Search.Plan.Preferred.push_back(
            {Options.Params.BaudRate, Options.Params.ParityBits, Options.Params.StopBits});
        RunLineSearch(std::move(Search));
        return;
    }

    bStopScan = false;
    FScanPace.acquire(FScanPace.available());
    ScanPage().ShowRunning(true);
    SetScanControlsEnabled(false);
    // Busy, not the hourglass: Stop stays clickable.
    FJobs.RunJob(
        Qt::BusyCursor,
        [this, Options] {
            const TScanResult Result =
                RunScanJob(Options, FJobs.Catalogue(), bStopScan, [this](const TScanStep &Step) {
                    std::optional<TScanDevice> Device;
                    if (Step.Device) Device = *Step.Device;
                    FJobs.Post([this, Step, Device] {
                        ScanPage().ShowStep(Step, Device);
                        // On to the next address once what is queued has run (a
                        // click on Stop).
                        QTimer::singleShot(0, this, [this] { FScanPace.release(); });
                    });
                    FScanPace.acquire();
                });
            return [this, Result, Port = Options.Port] { ShowScanResult(Result, Port); };
        },
        [this] {
            SetScanControlsEnabled(true);
            ScanPage().ShowRunning(false);
        });
}

void TDevSetupForm::ShowScanResult(const TScanResult &Result, const std::string &Port) {
    // A port error ends the scan; the default handler shows it, after the
    // row and the counts of the address it hit are complete.
    if (Result.PortError && Result.Uncounted)
        ScanPage().ShowCounts(Result.Scanned + 1, Result.Found);
    SetScanControlsEnabled(true);
    ScanPage().ShowRunning(false);
    if (Result.PortError) throw *Result.PortError;
    // Every address counted, none could have answered: one box says why,
    // rather than a silent "found: 0".
    if (Result.NeverOpened()) PortError(TJobText::ScanPortFailed, Port, Result.OpenError);
}

void TDevSetupForm::RunLineSearch(TFindOptions Options) {
    bStopScan = false;
    FScanPace.acquire(FScanPace.available());
    ScanPage().ShowRunning(true);
    SetScanControlsEnabled(false);
    FJobs.RunJob(
        Qt::BusyCursor,
        [this, Options] {
            const TFindResult Result =
                RunFindJob(Options, FJobs.Catalogue(), bStopScan, [this](const TFindStep &Step) {
                    std::optional<TFindDevice> Device;
                    if (Step.Device) Device = *Step.Device;
                    TFindStep Shown = Step;
                    Shown.Device = nullptr;
                    Shown.Setting = nullptr;
                    FJobs.Post([this, Shown, Device] {
                        ScanPage().ShowFindStep(Shown, Device);
                        QTimer::singleShot(0, this, [this] { FScanPace.release(); });
                    });
                    FScanPace.acquire();
                });
            return [this, Result, Port = Options.Port] { ShowFindResult(Result, Port); };
        },
        [this] {
            SetScanControlsEnabled(true);
            ScanPage().ShowRunning(false);
        });
}

void TDevSetupForm::ShowFindResult(const TFindResult &Result, const std::string &Port) {
    SetScanControlsEnabled(true);
    ScanPage().ShowRunning(false);
    if (!Result.Refused.Empty()) {
        ShowErrorMsg(AppTitle(), Say(Result.Refused));
        return;
    }
    if (Result.OpenFailed) {
        PortError(TJobText::ScanPortFailed, Port, Result.PortError);
        return;
    }
    if (Result.PortError) throw *Result.PortError;
    if (Result.Stopped) return;
    if (Result.Devices.empty()) {
        Info(TJobText::FindNothing);
        return;
    }
    // Without --all the devices found share one setting: the first one's.
    const TLineSetting &Found = Result.Devices.front().Setting;
    const QString Text = tr("Found at %1. Use these line settings for the connection?")
                             .arg(QString::fromStdString(LineSettingText(Found)));
    if (AskYesNo(AppTitle(), Text) == mrYes) UseLineSetting(Found);
}

void TDevSetupForm::UseLineSetting(const TLineSetting &Setting) {
    ui->cbBitrate->setCurrentText(QString::fromLatin1(BaudRateText(Setting.Baud)));
    const int Parity = ui->cbParity->findData(QString::fromLatin1(ParityText(Setting.Parity)));
    if (Parity >= 0) ui->cbParity->setCurrentIndex(Parity);
    ui->cbStopBits->setCurrentText(QString::fromLatin1(StopBitsText(Setting.StopBits)));
}

void TDevSetupForm::btnStopScanClick() {
    bStopScan = true;
    ScanPage().Controls().btnStopScan->setEnabled(false);
}

// ---- Comm setup page ---------------------------------------------------

void TDevSetupForm::btnCommReadClick() {
    if (IsBusy() || !CheckPortChosen()) return;
    CommPage().ClearValues();
    if (CommPage().NothingToRead()) {
        // Without a register the settings file may know them: only when it
        // describes some sensor's comm settings does the page ask the sensor.
        if (!FJobs.Catalogue().SensorComms().empty()) CommReadByKind();
        return;
    }

    const TModbusTarget Target{GetSelectedPort(), GetPortParams(), CommPage().Address()};
    FJobs.RunJob(Qt::WaitCursor, [this, Target, Settings = CommPage().Settings(false)] {
        const TCommResult Result = ReadCommSettings(Target, Settings);
        return [this, Result, Port = Target.Port] {
            CommPage().ShowRead(Result);
            // A port that failed in the middle: the default handler says so.
            if (Result.PortError && !Result.OpenFailed) throw *Result.PortError;
            // One that opened for none of the rows: why, and what to do.
            if (Result.OpenFailed) PortError(TJobText::ReadError, Port, Result.PortError);
        };
    });
}

void TDevSetupForm::LVScanPicked(int Address, int SensorID) {
    // A running job reads the page's inputs: they stay as they are.
    if (IsBusy() || SensorID < 0) return;
    const TSensorComm *Comm = FJobs.Catalogue().SensorComm(SensorID);
    if (!Comm) return;
    CommPage().ShowKind(Address, *Comm, KindName(FJobs.Catalogue(), SensorID));
}

void TDevSetupForm::CommReadByKind() {
    const TModbusTarget Target{GetSelectedPort(), GetPortParams(), CommPage().Address()};
    FJobs.RunJob(Qt::WaitCursor, [this, Target] {
        const TSensorAt At = IdentifySensorAt(Target);
        std::optional<TSensorComm> Kind;
        if (const TSensorComm *Comm = CommOfSensor(At.Id, FJobs.Catalogue())) Kind = *Comm;
        TCommResult Result;
        if (Kind) Result = ReadCommSettings(Target, CommRowsFromCatalogue({}, *Kind, false));
        return [this, Target, At, Kind, Result] {
            if (!At.Opened) {
                PortError(TJobText::ReadError, Target.Port, At.OpenError);
                return;
            }
            // A sensor the file does not describe: the page as it was.
            if (!Kind) return;
            CommPage().ShowKind(Target.Addr, *Kind, KindName(FJobs.Catalogue(), Kind->SensorID));
            CommPage().ShowRead(Result);
            if (Result.PortError && !Result.OpenFailed) throw *Result.PortError;
            if (Result.OpenFailed) PortError(TJobText::ReadError, Target.Port, Result.PortError);
        };
    });
}

void TDevSetupForm::btnCommWriteClick() {
    if (IsBusy() || !CheckPortChosen()) return;
    if (CommPage().NothingToWrite()) return;
    const TCommSettings Settings = CommPage().Settings(true);
    if (CommValueOutOfRange(Settings)) {
        ErrorOutOfRange(CommValueRange);
        return;
    }

    const TModbusTarget Target{GetSelectedPort(), GetPortParams(), CommPage().Address()};
    FJobs.RunJob(Qt::WaitCursor, [Target, Settings] {
        const TCommResult Result = WriteCommSettings(Target, Settings);
        return [Result, Port = Target.Port] {
            if (Result.PortError && !Result.OpenFailed) throw *Result.PortError;
            if (Result.Saved() > 0)
                Info(TJobText::RestartNeeded);
            else if (Result.OpenFailed)
                PortError(TJobText::WriteError, Port, Result.PortError);
            else
                ErrorWithReason(TJobText::WriteError, Result.FirstFailure());
        };
    });
}

// ---- Register check/update page ----------------------------------------

// The port and start register both Read and Write need; an error is shown
// and nothing returned when either is missing.
std::optional<qlonglong> TDevSetupForm::CheckUpdStart() const {
    if (!CheckPortChosen()) return std::nullopt;
    const std::optional<qlonglong> Start = RegsPage().StartRegister();
    if (!Start) Error(TJobText::RegisterNotSpecified);
    return Start;
}

void TDevSetupForm::btnUpdReadClick() {
    if (IsBusy()) return;
    const std::optional<qlonglong> Start = CheckUpdStart();
    if (!Start) return;
    RegsPage().ClearValue();

    const TModbusTarget Target{GetSelectedPort(), GetPortParams(), RegsPage().Address()};
    const TRegBlock Block = RegsPage().Block(static_cast<uint16_t>(*Start));
    FJobs.RunJob(Qt::WaitCursor, [this, Target, Block] {
        const TRegReadResult Result = ReadRegisterBlock(Target, Block);
        return [this, Target, Block, Result] {
            if (!Result.Opened) {
                PortError(TJobText::ReadError, Target.Port, Result.OpenError);
                return;
            }
            if (Result.Failure != TJobText::None)
                ErrorWithReason(Result.Failure, Result.Why);
            else
                RegsPage().ShowRead(Target.Addr, Block, Result);
        };
    });
}

void TDevSetupForm::btnUpdWriteClick() {
    if (IsBusy()) return;
    const std::optional<qlonglong> Start = CheckUpdStart();
    if (!Start) return;
    // Everything is converted before the port is touched: a value that
    // cannot be written sends nothing (a number the type cannot hold
    // raises, and the default handler shows why).
    TRegWritePlan Plan;
    try {
        Plan = RegsPage().PlanWrite();
    } catch (const ERegConvertError &E) {
        if (E.Kind() != TRegConvertKind::OutOfRange) throw;
        ErrorOutOfRange(E.Range());
        return;
    }
    if (Plan.Refusal != TJobText::None) {
        Error(Plan.Refusal);
        return;
    }

    const TModbusTarget Target{GetSelectedPort(), GetPortParams(), RegsPage().Address()};
    FJobs.RunJob(Qt::WaitCursor, [Target, Reg = static_cast<uint16_t>(*Start), Plan] {
        const TRegWriteResult Result = WriteRegisterBlock(Target, Reg, Plan);
        return [Result, Port = Target.Port] {
            if (!Result.Opened) {
                PortError(TJobText::WriteError, Port, Result.OpenError);
                return;
            }
            if (Result.Saved)
                Info(Result.Text());
            else
                ErrorWithReason(Result.Text(), Result.Why);
        };
    });
}

// ---- Watch page --------------------------------------------------------

void TDevSetupForm::SetWatchControlsEnabled(bool Enabled) {
    for (QWidget *W : std::initializer_list<QWidget *>{ui->cbCOMPort, ui->btnReload, ui->cbBitrate,
                                                       ui->cbParity, ui->cbStopBits, ui->edTimeout})
        W->setEnabled(Enabled);
    WatchPage().SetWatching(!Enabled);
}

void TDevSetupForm::btnWatchAddClick() {
    // The register page's block is the new row's; register 0 when none is given.
    TWatchRow Row;
    Row.Address = RegsPage().Address();
    Row.Register = static_cast<int>(RegsPage().StartRegister().value_or(0));
    const TRegBlock Block = RegsPage().Block(static_cast<uint16_t>(Row.Register));
    Row.Type = Block.Type;
    Row.Order = Block.Order;
    Row.Count = Block.Count;
    WatchPage().AddRow(Row);
}

void TDevSetupForm::btnWatchStartClick() {
    if (IsBusy() || !CheckPortChosen()) return;
    const TWatchListRead List = WatchPage().Rows();
    if (!List.Ok()) {
        ShowErrorMsg(AppTitle(), tr("The watch list cannot be used:") + QLatin1Char('\n') +
                                     QString::fromStdString(List.Error));
        return;
    }
    TWatchOptions Options;
    Options.Port = GetSelectedPort();
    Options.Params = GetPortParams();
    Options.Rows = List.Rows;
    Options.IntervalMs = WatchPage().IntervalMs();

    // The log is opened before anything is sent: a file that cannot be
    // written stops the watch from starting.
    auto Log = std::make_shared<TWatchLog>();
    const QString LogPath = WatchPage().LogPath();
    if (!LogPath.isEmpty()) {
        const TWatchLogHead Head{std::string("veldra-update ") + veldra::kVersion, Options.Port,
                                 BaudRateText(Options.Params.BaudRate),
                                 ParityText(Options.Params.ParityBits),
                                 StopBitsText(Options.Params.StopBits)};
        if (!Log->Open(LogPath.toStdString(), Head, Options.Rows)) {
            ShowErrorMsg(AppTitle(),
                         tr("The log file %1 cannot be written. Choose another file with \"Log "
                            "to CSV...\".")
                             .arg(LogPath));
            return;
        }
    }

    bStopWatch = false;
    bWatching = true;
    FWatchPort = Options.Port;
    bWatchPortGone = false;
    const auto Start = std::chrono::system_clock::now();
    WatchPage().Begin(Options.Rows, Start);
    SetWatchControlsEnabled(false);
    FJobs.RunJob(
        Qt::ArrowCursor,
        [this, Options, Log, Start, LogPath] {
            const TWatchResult Result =
                RunWatchJob(Options, bStopWatch, [this, Log, Start](const TWatchPoll &Poll) {
                    // The log is written here, the round shown on the window's thread.
                    Log->Write(IsoUtcTime(Start + std::chrono::milliseconds(Poll.AtMs)), Poll);
                    FJobs.Post([this, Poll] { WatchPage().ShowPoll(Poll); });
                });
            const bool LogFailed = Log->Failed();
            Log->Close();
            return [this, Result, Port = Options.Port, LogFailed, LogPath] {
                ShowWatchResult(Result, Port, LogFailed, LogPath);
            };
        },
        [this] {
            bWatching = false;
            SetWatchControlsEnabled(true);
        });
}

void TDevSetupForm::ShowWatchResult(const TWatchResult &Result, const std::string &Port,
                                    bool LogFailed, const QString &LogPath) {
    bWatching = false;
    SetWatchControlsEnabled(true);
    ui->btnClose->setEnabled(true);
    // A log holds one watch: the next one is not written over it unasked.
    WatchPage().SetLogPath({});
    if (Result.OpenFailed) {
        PortError(TJobText::ReadError, Port, Result.PortError);
        return;
    }
    if (LogFailed)
        ShowErrorMsg(AppTitle(),
                     tr("Writing the log file %1 failed: it is not complete.").arg(LogPath));
    // A port that failed in the middle (the adapter unplugged): the default
    // handler says why; what was read stays on the page.
    if (Result.PortError) throw *Result.PortError;
    // Its adapter went away between two rounds: told as a read would have.
    if (bWatchPortGone) throw EComPort(CError_Disconnected);
}

void TDevSetupForm::btnWatchStopClick() {
    bStopWatch = true;
    WatchPage().Controls().btnWatchStop->setEnabled(false);
}
