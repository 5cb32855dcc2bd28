#include "devsetup/DevSetupForm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QStyle>
#include <QTreeWidgetItem>
#include <QWindow>
#include <array>
#include <optional>

#include "devsetup/DevSetup.h"
#include "devsetup/NumberEdit.h"
#include "modbus/RegisterCodecs.h"
#include "serial/ComPort.h"
#include "widgets/ErrorBox.h"
#include "widgets/HotPlugWatcher.h"
#include "widgets/MsgBox.h"
#include "widgets/PortCombo.h"
#include "widgets/WindowHelpers.h"
#include "ui_DevSetupForm.h"

namespace {

// Messages are given as source texts (marked with QT_TR_NOOP) and shown in
// the user's language.
void Error(const char *Msg) { ShowErrorMsg(AppTitle(), TDevSetupForm::tr(Msg)); }
void Info(const char *Msg) { ShowInfoMsg(AppTitle(), TDevSetupForm::tr(Msg)); }

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

TDevSetupForm::~TDevSetupForm() = default;

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

bool TDevSetupForm::FormCloseQuery() const { return ui->btnScan->isEnabled(); }

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

bool TDevSetupForm::PageControl1Changing() const { return ui->btnScan->isEnabled(); }

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
    // The scan reads the chosen port for every address: leave the list
    // alone until it has ended.
    if (!ui->btnScan->isEnabled()) {
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
    Error(QT_TR_NOOP("COM port not selected"));
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

void TDevSetupForm::EndScan() {
    SetScanControlsEnabled(true);
    ui->btnStopScan->setEnabled(false);
    ui->pbScanProgress->setValue(0);
    ui->pbScanProgress->hide();
    if (bReloadPending)
        ReloadPortList();
}

void TDevSetupForm::btnScanClick() {
    ui->LVScan->clear();
    int Scanned = 0, Found = 0;
    ShowScanCounts(Scanned, Found);
    if (!CheckPortChosen())
        return;
    const int First = ui->edScanFirstA->value();
    const int Last = ui->edScanLastA->value();
    if (First > Last) {
        Error(QT_TR_NOOP("Invalid addresses"));
        return;
    }
    const TPortParams Params = GetPortParams();

    bStopScan = false;
    ui->btnStopScan->setEnabled(true);
    ui->pbScanProgress->setValue(0);
    ui->pbScanProgress->show();
    SetScanControlsEnabled(false);
    // The address being probed and its row, when it has one: a port error
    // in the middle still leaves a whole row and counts that add up.
    bool Probing = false;
    QTreeWidgetItem *Row = nullptr;
    try {
        // Busy, not the hourglass: Stop stays clickable.
        const TWaitCursor Busy(Qt::BusyCursor);
        QCoreApplication::processEvents();
        for (int A = First; A <= Last; ++A) {
            if (bStopScan || !PortChosen())
                break;
            Probing = true;
            Row = nullptr;
            auto Master = std::make_unique<TModbusRTU>(static_cast<uint8_t>(A));
            if (Master->Open(GetSelectedPort(), Params) && Master->Scan(ScanProbeReg)) {
                ++Found;
                Row = new QTreeWidgetItem(ui->LVScan);
                Row->setText(0, QString::number(A));
                std::string Code, Version;
                if (!IdentifySensor(*Master, Code, Version))
                    Code = Version = "N/A";
                Row->setText(1, CatalogueText(Code));
                Row->setText(2, CatalogueText(Version));
            }
            ++Scanned;
            Probing = false;
            ShowScanCounts(Scanned, Found);
            ui->pbScanProgress->setValue(ScanProgress(A, Last));
            QCoreApplication::processEvents();
        }
    } catch (...) {
        // A port error ends the scan; the default handler shows it, after
        // the row and the counts of the address it hit are complete.
        if (Row)
            for (int Column = 1; Column < ui->LVScan->columnCount(); ++Column)
                if (Row->text(Column).isEmpty())
                    Row->setText(Column, CatalogueText("N/A"));
        if (Probing)
            ++Scanned;
        ShowScanCounts(Scanned, Found);
        EndScan();
        throw;
    }
    EndScan();
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

void TDevSetupForm::btnCommReadClick() {
    if (!CheckPortChosen())
        return;
    const std::array<TCommRow, 3> Rows{{{ui->edCommBRReg, ui->edCommBRVal},
                                        {ui->edCommPDSReg, ui->edCommPDSVal},
                                        {ui->edCommAdrReg, ui->edCommAdrVal}}};
    for (const TCommRow &R : Rows)
        R.Val->clear();
    if (std::all_of(Rows.begin(), Rows.end(), [](const TCommRow &R) { return R.Reg->IsEmpty(); }))
        return;

    const TWaitCursor Wait;
    auto Master = std::make_unique<TModbusRTU>(static_cast<uint8_t>(ui->edCommAddr->value()));
    const TPortParams Params = GetPortParams();
    for (const TCommRow &R : Rows) {
        if (R.Reg->IsEmpty())
            continue;
        if (!Master->Open(GetSelectedPort(), Params))
            continue;
        TModbusRegisters Value(1);
        if (Master->ReadHoldingRegs(static_cast<uint16_t>(*R.Reg->WholeValue()), Value))
            R.Val->SetWholeValue(Value[0]);
    }
}

void TDevSetupForm::btnCommWriteClick() {
    if (!CheckPortChosen())
        return;
    const std::array<TCommRow, 3> Rows{{{ui->edCommBRReg, ui->edCommBRVal},
                                        {ui->edCommPDSReg, ui->edCommPDSVal},
                                        {ui->edCommAdrReg, ui->edCommAdrVal}}};
    auto Complete = [](const TCommRow &R) {
        return R.Reg->WholeValue().has_value() && R.Val->WholeValue().has_value();
    };
    if (std::none_of(Rows.begin(), Rows.end(), Complete))
        return;

    std::optional<TWaitCursor> Wait(std::in_place);
    auto Master = std::make_unique<TModbusRTU>(static_cast<uint8_t>(ui->edCommAddr->value()));
    const TPortParams Params = GetPortParams();
    bool AnySaved = false;
    for (const TCommRow &R : Rows) {
        if (!Complete(R))
            continue;
        if (!Master->Open(GetSelectedPort(), Params))
            continue;
        // Values travel as their low 16 bits (70000 goes out as 4464).
        const auto Value = static_cast<uint16_t>(static_cast<unsigned long long>(*R.Val->WholeValue()));
        if (Master->WriteHoldingReg(static_cast<uint16_t>(*R.Reg->WholeValue()), Value))
            AnySaved = true;
    }
    Master.reset();
    Wait.reset();
    if (AnySaved)
        Info(QT_TR_NOOP("The changes will take effect after restart of the sensor."));
    else
        Error(QT_TR_NOOP("Error writing data."));
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
        Error(QT_TR_NOOP("Register not specified"));
    return Start;
}

void TDevSetupForm::btnUpdReadClick() {
    const std::optional<qlonglong> Start = CheckUpdStart();
    if (!Start)
        return;
    ui->edUpdValueStr->clear();
    ui->edUpdValueNum->SetRealValue(std::nullopt);

    const TWaitCursor Wait;
    auto Master = std::make_unique<TModbusRTU>(static_cast<uint8_t>(ui->edUpdAddr->value()));
    if (!Master->Open(GetSelectedPort(), GetPortParams()))
        return;
    const auto Type = static_cast<TRegDataType>(ui->cbUpdDataType->currentIndex());
    const auto Order = static_cast<TWordOrder>(ui->cbUpdDataOrder->currentIndex());
    const auto Reg = static_cast<uint16_t>(*Start);
    const auto Count = static_cast<size_t>(ui->edNumRegs->value());

    if (Type == rdtBit) {
        TModbusBits Bits(Count);
        if (!Master->ReadDiscreteInputs(Reg, Bits)) {
            Error(QT_TR_NOOP("Error reading data."));
            return;
        }
        ui->edUpdValueStr->setText(QString::fromStdString(FormatBits(Bits)));
        return;
    }

    TModbusRegisters Regs(Count);
    if (!Master->ReadHoldingRegs(Reg, Regs)) {
        Error(QT_TR_NOOP("Error reading data."));
        return;
    }
    if (Type == rdtString) {
        ui->edUpdValueStr->setText(QString::fromStdString(DecodeText(Regs)));
        return;
    }
    double Value = 0;
    if (!DecodeRegisters(Type, Order, Regs, Value)) {
        Error(QT_TR_NOOP("Invalid BCD value read"));
        return;
    }
    ui->edUpdValueNum->SetRealValue(Value);
}

void TDevSetupForm::btnUpdWriteClick() {
    const std::optional<qlonglong> Start = CheckUpdStart();
    if (!Start)
        return;
    const auto Type = static_cast<TRegDataType>(ui->cbUpdDataType->currentIndex());
    const auto Order = static_cast<TWordOrder>(ui->cbUpdDataOrder->currentIndex());
    const auto Reg = static_cast<uint16_t>(*Start);
    const int Count = ui->edNumRegs->value();

    std::string Text;
    std::optional<double> Number;
    if (Type == rdtString) {
        // Blanks and control characters around the text go, also from the
        // edit, whatever follows.
        QString Stripped = ui->edUpdValueStr->text();
        qsizetype B = 0, E = Stripped.size();
        while (B < E && Stripped.at(B).unicode() <= 0x20)
            ++B;
        while (E > B && Stripped.at(E - 1).unicode() <= 0x20)
            --E;
        Stripped = Stripped.mid(B, E - B);
        ui->edUpdValueStr->setText(Stripped);
        if (Stripped.isEmpty()) {
            Error(QT_TR_NOOP("Value not specified"));
            return;
        }
        Text = Stripped.toStdString();
        if (TextRegisterCount(Text) > Count) {
            Error(QT_TR_NOOP("Insufficient number of registers"));
            return;
        }
    } else {
        Number = ui->edUpdValueNum->RealValue();
        if (!Number) {
            Error(QT_TR_NOOP("Value not specified"));
            return;
        }
    }

    std::optional<TWaitCursor> Wait(std::in_place);
    auto Master = std::make_unique<TModbusRTU>(static_cast<uint8_t>(ui->edUpdAddr->value()));
    if (!Master->Open(GetSelectedPort(), GetPortParams()))
        return;
    bool Saved = false;
    if (Type == rdtString) {
        Saved = Master->WriteHoldingRegs(Reg, EncodeText(Text, Count));
    } else {
        // A number that cannot be converted throws before anything is sent;
        // the master closes the port on the way out.
        const TModbusRegisters Regs = EncodeValue(Type, Order, *Number);
        Saved = Regs.size() == 1 ? Master->WriteHoldingReg(Reg, Regs[0])
                                 : Master->WriteHoldingRegs(Reg, Regs);
    }
    Master.reset();
    Wait.reset();
    if (Saved)
        Info(QT_TR_NOOP("Changes have been saved successfully"));
    else
        Error(QT_TR_NOOP("Error writing data."));
}
