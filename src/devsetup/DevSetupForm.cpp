#include "devsetup/DevSetupForm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QStyle>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QWindow>
#include <array>
#include <optional>

#include "devsetup/NumberEdit.h"
#include "jobs/RegisterJob.h"
#include "modbus/RegisterCodecs.h"
#include "serial/ComPort.h"
#include "settings/Settings.h"
#include "shell/Application.h"
#include "shell/HotPlugWatcher.h"
#include "shell/MsgBox.h"
#include "shell/PortCombo.h"
#include "shell/WindowHelpers.h"
#include "ui_DevSetupForm.h"

namespace {

// The jobs' texts, shown in the user's language.
void Error(TJobText Msg) { ShowErrorMsg(AppTitle(), TDevSetupForm::tr(JobText(Msg))); }
void Info(TJobText Msg) { ShowInfoMsg(AppTitle(), TDevSetupForm::tr(JobText(Msg))); }

// The catalogue; an empty one when the program made none (then every ID
// shows as unknown).
const TSettings &Catalogue() {
    static const TSettings Empty{std::string()};
    return Settings ? *Settings : Empty;
}

// How the register page sets itself up for a data type.
struct TDataTypeSetup {
    int NumRegs;          // value of the register count, 0 = left as it is
    bool NumRegsEnabled;  // the user chooses the count
    bool OrderFixed;      // word order forced to MSWF and locked
    bool NumericValue;    // value shown in the number edit (else the text edit)
    bool TextReadOnly;
    bool WriteEnabled;
};

constexpr std::array<TDataTypeSetup, RegDataTypeCount> DataTypeSetups{{
    /* float  */ {2, false, false, true, false, true},
    /* int    */ {1, false, true, true, false, true},
    /* uint16 */ {1, false, true, true, false, true},
    /* BCD    */ {1, false, true, true, false, true},
    /* uint32 */ {2, false, false, true, false, true},
    /* string */ {0, true, true, false, false, true},
    /* bit    */ {1, true, true, false, true, false},
}};

// Runs a handler the way every slot of the window does: whatever escapes it
// goes to the default error box.
template <class F>
auto Guarded(F Handler) {
    return [Handler] { RunGuarded(Handler); };
}

}  // namespace

TDevSetupForm::TDevSetupForm(QWidget *Owner) : QDialog(Owner), ui(new Ui::TDevSetupForm) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    InstallMinimizeAll(this);  // adds the minimise button
    ApplyWindowFont(this);
    EnableEnterOnButtons(this);
    // Enter in a field presses the action its page is about. The shared
    // connection settings, the scan list and the register value have none:
    // a Read there would overwrite the value just typed.
    SetEnterActions(this, {{ui->edScanFirstA, ui->btnScan},
                           {ui->edScanLastA, ui->btnScan},
                           {ui->edCommAddr, ui->btnCommRead},
                           {ui->edCommBRReg, ui->btnCommRead},
                           {ui->edCommBRVal, ui->btnCommRead},
                           {ui->edCommPDSReg, ui->btnCommRead},
                           {ui->edCommPDSVal, ui->btnCommRead},
                           {ui->edCommAdrReg, ui->btnCommRead},
                           {ui->edCommAdrVal, ui->btnCommRead},
                           {ui->edUpdAddr, ui->btnUpdRead},
                           {ui->edUpdStartReg, ui->btnUpdRead},
                           {ui->cbUpdDataType, ui->btnUpdRead},
                           {ui->edNumRegs, ui->btnUpdRead},
                           {ui->cbUpdDataOrder, ui->btnUpdRead}});
    setFixedSize(394, 372);

    ui->btnReload->setIcon(ReloadIcon());
    // The parity list shows the names in the user's language; the port is
    // set from the English ones.
    static const char *const ParityNames[] = {"None", "Even", "Odd"};
    for (int I = 0; I < ui->cbParity->count() && I < 3; ++I)
        ui->cbParity->setItemData(I, QString::fromLatin1(ParityNames[I]));
    ui->btnStopScan->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    ui->btnStopScan->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // The progress bar shows only while a scan runs (empty, it looks like a
    // text field); its place stays so that nothing moves.
    QSizePolicy BarPolicy = ui->pbScanProgress->sizePolicy();
    BarPolicy.setRetainSizeWhenHidden(true);
    ui->pbScanProgress->setSizePolicy(BarPolicy);
    ui->pbScanProgress->hide();
    // All three tabs stay in view, as on a page control.
    ui->PageControl1->setUsesScrollButtons(false);
    QHeaderView *Header = ui->LVScan->header();
    Header->setSectionsClickable(false);
    Header->setSectionsMovable(false);
    Header->setStretchLastSection(false);
    Header->setSectionResizeMode(0, QHeaderView::Fixed);
    Header->setSectionResizeMode(1, QHeaderView::Stretch);
    Header->setSectionResizeMode(2, QHeaderView::Fixed);
    Header->resizeSection(0, 70);
    Header->resizeSection(2, 85);

    connect(ui->btnClose, &QPushButton::clicked, this, Guarded([this] { btnCloseClick(); }));
    connect(ui->btnReload, &QToolButton::clicked, this, Guarded([this] { btnReloadClick(); }));
    connect(ui->PageControl1, &QTabWidget::currentChanged, this,
            [this](int Index) { PageControl1Change(Index); });
    connect(ui->btnScan, &QPushButton::clicked, this, Guarded([this] { btnScanClick(); }));
    connect(ui->btnStopScan, &QToolButton::clicked, this, Guarded([this] { btnStopScanClick(); }));
    connect(ui->btnCommRead, &QPushButton::clicked, this, Guarded([this] { btnCommReadClick(); }));
    connect(ui->btnCommWrite, &QPushButton::clicked, this, Guarded([this] { btnCommWriteClick(); }));
    connect(ui->btnUpdRead, &QPushButton::clicked, this, Guarded([this] { btnUpdReadClick(); }));
    connect(ui->btnUpdWrite, &QPushButton::clicked, this, Guarded([this] { btnUpdWriteClick(); }));
    connect(ui->cbUpdDataType, &QComboBox::currentIndexChanged, this,
            Guarded([this] { cbUpdDataTypeChange(); }));

    FormCreate();
}

TDevSetupForm::~TDevSetupForm() {
    // A scan still running ends after its address; nothing it reports is
    // shown any more.
    bStopScan = true;
    FScanPace.release();
    FRunner.Wait();
    FBusyCursor.reset();
}

void TDevSetupForm::FormCreate() {
    // Register before the first listing so that nothing plugged in between
    // is missed; the watcher only queues reloads.
    FHotPlug = new THotPlugWatcher(this, [this] { WMReloadPorts(); });
    FillPortCombo(ui->cbCOMPort);
    ui->PageControl1->setCurrentWidget(ui->TabSheet1);
    FPage = ui->PageControl1->currentIndex();

    for (TNumberEdit *E : {ui->edCommBRReg, ui->edCommBRVal, ui->edCommPDSReg, ui->edCommPDSVal,
                           ui->edCommAdrReg, ui->edCommAdrVal, ui->edUpdStartReg})
        E->clear();
    ui->edUpdValueNum->SetRealValue(std::nullopt);
    ui->edUpdValueNum->hide();
    cbUpdDataTypeChange();
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

void TDevSetupForm::FormAfterMonitorDpiChanged() { FormShow(); }

void TDevSetupForm::FormShow() {
    // The reload button stands as tall as the drop-down beside it.
    ui->btnReload->setFixedHeight(ui->cbCOMPort->sizeHint().height() + 2);
    ui->btnReload->setFixedWidth(ui->btnReload->height());
}

bool TDevSetupForm::FormCloseQuery() const { return !IsBusy(); }

void TDevSetupForm::closeEvent(QCloseEvent *Event) {
    if (!FormCloseQuery()) {
        Event->ignore();
        return;
    }
    QDialog::closeEvent(Event);
}

void TDevSetupForm::done(int Result) {
    // Escape, the close box and Close all end here.
    if (!FormCloseQuery())
        return;
    QDialog::done(Result);
}

bool TDevSetupForm::PageControl1Changing() const { return !IsBusy(); }

void TDevSetupForm::PageControl1Change(int Index) {
    if (Index == FPage)
        return;
    if (!PageControl1Changing()) {
        // Back to the page the scan runs on before anything is drawn.
        const QSignalBlocker Block(ui->PageControl1);
        ui->PageControl1->setCurrentIndex(FPage);
        return;
    }
    FPage = Index;
}

void TDevSetupForm::btnCloseClick() { close(); }

void TDevSetupForm::btnReloadClick() { ReloadPortList(); }

void TDevSetupForm::WMReloadPorts() { ReloadPortList(); }

void TDevSetupForm::ReloadPortList() {
    // A job reads the chosen port: leave the list alone until it has ended.
    if (IsBusy()) {
        bReloadPending = true;
        return;
    }
    bReloadPending = false;
    ReloadPortCombo(ui->cbCOMPort);
}

bool TDevSetupForm::PortChosen() const { return SelectedPort(ui->cbCOMPort).has_value(); }

bool TDevSetupForm::CheckPortChosen() const {
    if (PortChosen())
        return true;
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

// ---- Scan page ---------------------------------------------------------

void TDevSetupForm::ShowScanCounts(int Scanned, int Found) {
    ui->lblFound->setText(tr("Scanned: %1, found: %2").arg(Scanned).arg(Found));
}

void TDevSetupForm::SetScanControlsEnabled(bool Enabled) {
    for (QWidget *W : std::initializer_list<QWidget *>{
             ui->cbCOMPort, ui->btnReload, ui->cbBitrate, ui->cbParity, ui->cbStopBits,
             ui->edTimeout, ui->edScanFirstA, ui->edScanLastA, ui->btnScan, ui->btnClose})
        W->setEnabled(Enabled);
}

void TDevSetupForm::SetActionsEnabled(bool Enabled) {
    for (QWidget *W : std::initializer_list<QWidget *>{ui->btnScan, ui->btnClose, ui->btnCommRead,
                                                       ui->btnCommWrite, ui->btnUpdRead})
        W->setEnabled(Enabled);
    const int Type = ui->cbUpdDataType->currentIndex();
    ui->btnUpdWrite->setEnabled(Enabled && Type >= 0 && Type < RegDataTypeCount &&
                                DataTypeSetups[static_cast<size_t>(Type)].WriteEnabled);
}

void TDevSetupForm::RunJob(Qt::CursorShape Cursor, std::function<TJobRunner::TResultStep()> Work) {
    FBusyCursor = std::make_unique<TWaitCursor>(Cursor);
    SetActionsEnabled(false);
    FRunner.Start(std::move(Work), [this](const TJobRunner::TResultStep &Step, std::exception_ptr Error) {
        // The normal cursor again before any box the result shows.
        FBusyCursor.reset();
        SetActionsEnabled(true);
        RunGuarded([&] {
            if (Error)
                std::rethrow_exception(Error);
            Step();
        });
        if (bReloadPending)
            ReloadPortList();
        emit JobFinished();
    });
}

void TDevSetupForm::EndScan() {
    SetScanControlsEnabled(true);
    ui->btnStopScan->setEnabled(false);
    ui->pbScanProgress->setValue(0);
    ui->pbScanProgress->hide();
}

void TDevSetupForm::btnScanClick() {
    if (IsBusy())
        return;
    ui->LVScan->clear();
    ShowScanCounts(0, 0);
    if (!CheckPortChosen())
        return;
    TScanOptionsJob Options;
    Options.First = ui->edScanFirstA->value();
    Options.Last = ui->edScanLastA->value();
    if (Options.First > Options.Last) {
        Error(TJobText::InvalidAddresses);
        return;
    }
    Options.Port = GetSelectedPort();
    Options.Params = GetPortParams();

    bStopScan = false;
    FScanPace.acquire(FScanPace.available());
    ui->btnStopScan->setEnabled(true);
    ui->pbScanProgress->setValue(0);
    ui->pbScanProgress->show();
    SetScanControlsEnabled(false);
    // Busy, not the hourglass: Stop stays clickable.
    RunJob(Qt::BusyCursor, [this, Options] {
        const TScanResult Result = RunScanJob(Options, Catalogue(), bStopScan, [this](const TScanStep &Step) {
            std::optional<TScanDevice> Device;
            if (Step.Device)
                Device = *Step.Device;
            FRunner.Post([this, Step, Device] { ShowScanStep(Step, Device); });
            FScanPace.acquire();
        });
        return [this, Result] { ShowScanResult(Result); };
    });
}

void TDevSetupForm::ShowScanStep(const TScanStep &Step, const std::optional<TScanDevice> &Device) {
    if (Device) {
        auto *Row = new QTreeWidgetItem(ui->LVScan);
        Row->setText(0, QString::number(Device->Address));
        Row->setText(1, CatalogueText(Device->DeviceCode));
        Row->setText(2, CatalogueText(Device->Version));
    }
    ShowScanCounts(Step.Scanned, Step.Found);
    ui->pbScanProgress->setValue(Step.Percent);
    // On to the next address once what is queued has run (a click on Stop).
    QTimer::singleShot(0, this, [this] { FScanPace.release(); });
}

void TDevSetupForm::ShowScanResult(const TScanResult &Result) {
    // A port error ends the scan; the default handler shows it, after the
    // row and the counts of the address it hit are complete.
    if (Result.PortError && Result.Uncounted)
        ShowScanCounts(Result.Scanned + 1, Result.Found);
    EndScan();
    if (Result.PortError)
        throw *Result.PortError;
}

void TDevSetupForm::btnStopScanClick() {
    bStopScan = true;
    ui->btnStopScan->setEnabled(false);
}

// ---- Comm setup page ---------------------------------------------------

namespace {
struct TCommRow {
    TNumberEdit *Reg;
    TNumberEdit *Val;
};
}  // namespace

namespace {

TCommSettings CommSettingsOf(const std::array<TCommRow, CommSettingCount> &Rows, bool WithValues) {
    TCommSettings Settings;
    for (size_t I = 0; I < Rows.size(); ++I) {
        Settings[I].Reg = Rows[I].Reg->WholeValue();
        if (WithValues)
            Settings[I].Value = Rows[I].Val->WholeValue();
    }
    return Settings;
}

}  // namespace

void TDevSetupForm::btnCommReadClick() {
    if (IsBusy() || !CheckPortChosen())
        return;
    const std::array<TCommRow, CommSettingCount> Rows{{{ui->edCommBRReg, ui->edCommBRVal},
                                                       {ui->edCommPDSReg, ui->edCommPDSVal},
                                                       {ui->edCommAdrReg, ui->edCommAdrVal}}};
    for (const TCommRow &R : Rows)
        R.Val->clear();
    if (std::all_of(Rows.begin(), Rows.end(), [](const TCommRow &R) { return R.Reg->IsEmpty(); }))
        return;

    const TModbusTarget Target{GetSelectedPort(), GetPortParams(), ui->edCommAddr->value()};
    RunJob(Qt::WaitCursor, [Target, Settings = CommSettingsOf(Rows, false), Rows] {
        const TCommResult Result = ReadCommSettings(Target, Settings);
        return [Rows, Result] {
            for (size_t I = 0; I < Rows.size(); ++I)
                if (Result.Rows[I].Done && Result.Rows[I].Ok)
                    Rows[I].Val->SetWholeValue(Result.Rows[I].Value);
            // A port that failed in the middle: the default handler says so.
            if (Result.PortError && !Result.OpenFailed)
                throw *Result.PortError;
        };
    });
}

void TDevSetupForm::btnCommWriteClick() {
    if (IsBusy() || !CheckPortChosen())
        return;
    const std::array<TCommRow, CommSettingCount> Rows{{{ui->edCommBRReg, ui->edCommBRVal},
                                                       {ui->edCommPDSReg, ui->edCommPDSVal},
                                                       {ui->edCommAdrReg, ui->edCommAdrVal}}};
    auto Complete = [](const TCommRow &R) {
        return R.Reg->WholeValue().has_value() && R.Val->WholeValue().has_value();
    };
    if (std::none_of(Rows.begin(), Rows.end(), Complete))
        return;

    const TModbusTarget Target{GetSelectedPort(), GetPortParams(), ui->edCommAddr->value()};
    RunJob(Qt::WaitCursor, [Target, Settings = CommSettingsOf(Rows, true)] {
        const TCommResult Result = WriteCommSettings(Target, Settings);
        return [Result] {
            if (Result.PortError && !Result.OpenFailed)
                throw *Result.PortError;
            if (Result.Saved() > 0)
                Info(TJobText::RestartNeeded);
            else
                Error(TJobText::WriteError);
        };
    });
}

// ---- Register check/update page ----------------------------------------

void TDevSetupForm::cbUpdDataTypeChange() {
    const int Index = ui->cbUpdDataType->currentIndex();
    if (Index < 0 || Index >= RegDataTypeCount)
        return;
    const auto Type = static_cast<TRegDataType>(Index);
    const TDataTypeSetup &S = DataTypeSetups[static_cast<size_t>(Index)];

    ui->edUpdValueStr->clear();
    ui->edUpdValueNum->SetRealValue(std::nullopt);
    ui->btnUpdWrite->setEnabled(true);

    if (S.NumRegs > 0)
        ui->edNumRegs->setValue(S.NumRegs);
    ui->edNumRegs->setEnabled(S.NumRegsEnabled);
    if (S.OrderFixed)
        ui->cbUpdDataOrder->setCurrentIndex(woMSWF);
    ui->cbUpdDataOrder->setEnabled(!S.OrderFixed);
    ui->edUpdValueStr->setVisible(!S.NumericValue);
    ui->edUpdValueNum->setVisible(S.NumericValue);
    if (S.NumericValue)
        ui->edUpdValueNum->setDecimals(DisplayDecimals(Type));
    else
        ui->edUpdValueStr->setReadOnly(S.TextReadOnly);
    ui->btnUpdWrite->setEnabled(S.WriteEnabled);
}

// The port and start register both Read and Write need; an error is shown
// and nothing returned when either is missing.
std::optional<qlonglong> TDevSetupForm::CheckUpdStart() const {
    if (!CheckPortChosen())
        return std::nullopt;
    const std::optional<qlonglong> Start = ui->edUpdStartReg->WholeValue();
    if (!Start)
        Error(TJobText::RegisterNotSpecified);
    return Start;
}

void TDevSetupForm::btnUpdReadClick() {
    if (IsBusy())
        return;
    const std::optional<qlonglong> Start = CheckUpdStart();
    if (!Start)
        return;
    ui->edUpdValueStr->clear();
    ui->edUpdValueNum->SetRealValue(std::nullopt);

    const TModbusTarget Target{GetSelectedPort(), GetPortParams(), ui->edUpdAddr->value()};
    const TRegBlock Block{static_cast<uint16_t>(*Start), static_cast<TRegDataType>(ui->cbUpdDataType->currentIndex()),
                          static_cast<TWordOrder>(ui->cbUpdDataOrder->currentIndex()), ui->edNumRegs->value()};
    RunJob(Qt::WaitCursor, [this, Target, Block] {
        const TRegReadResult Result = ReadRegisterBlock(Target, Block);
        return [this, Result] {
            if (!Result.Opened)
                return;
            if (Result.Failure != TJobText::None) {
                Error(Result.Failure);
                return;
            }
            if (Result.Number)
                ui->edUpdValueNum->SetRealValue(*Result.Number);
            else
                ui->edUpdValueStr->setText(QString::fromStdString(Result.Text));
        };
    });
}

void TDevSetupForm::btnUpdWriteClick() {
    if (IsBusy())
        return;
    const std::optional<qlonglong> Start = CheckUpdStart();
    if (!Start)
        return;
    const auto Type = static_cast<TRegDataType>(ui->cbUpdDataType->currentIndex());
    const auto Order = static_cast<TWordOrder>(ui->cbUpdDataOrder->currentIndex());
    const auto Reg = static_cast<uint16_t>(*Start);

    // Everything is converted before the port is touched: a value that
    // cannot be written sends nothing (a number the type cannot hold
    // raises, and the default handler shows why).
    TRegWritePlan Plan;
    if (Type == rdtString) {
        // Blanks and control characters around the text go, also from the
        // edit, whatever follows.
        const std::string Stripped = StripText(ui->edUpdValueStr->text().toStdString());
        ui->edUpdValueStr->setText(QString::fromStdString(Stripped));
        Plan = PlanTextWrite(Stripped, ui->edNumRegs->value());
    } else if (const std::optional<double> Number = ui->edUpdValueNum->RealValue()) {
        Plan = PlanNumberWrite(Type, Order, *Number);
    } else {
        Plan.Refusal = TJobText::ValueNotSpecified;
    }
    if (Plan.Refusal != TJobText::None) {
        Error(Plan.Refusal);
        return;
    }

    const TModbusTarget Target{GetSelectedPort(), GetPortParams(), ui->edUpdAddr->value()};
    RunJob(Qt::WaitCursor, [Target, Reg, Plan] {
        const TRegWriteResult Result = WriteRegisterBlock(Target, Reg, Plan);
        return [Result] {
            if (!Result.Opened)
                return;
            if (Result.Saved)
                Info(Result.Text());
            else
                Error(Result.Text());
        };
    });
}
