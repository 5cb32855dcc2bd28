#include "devsetup/RegsPage.h"

#include <QComboBox>
#include <array>

#include "devsetup/NumberEdit.h"
#include "modbus/RegisterCodecs.h"
#include "ui_RegsPage.h"

namespace {

// How the page sets itself up for a data type.
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

}  // namespace

TRegsPage::TRegsPage(QWidget *Parent) : QWidget(Parent), ui(std::make_unique<Ui::TRegsPage>()) {
    ui->setupUi(this);
    ui->edUpdStartReg->clear();
    ui->edUpdValueNum->SetRealValue(std::nullopt);
    ui->edUpdValueNum->hide();
    connect(ui->cbUpdDataType, &QComboBox::currentIndexChanged, this,
            [this] { DataTypeChanged(); });
    DataTypeChanged();
}

TRegsPage::~TRegsPage() = default;

int TRegsPage::Address() const {
    return ui->edUpdAddr->value();
}

std::optional<qlonglong> TRegsPage::StartRegister() const {
    return ui->edUpdStartReg->WholeValue();
}

TRegBlock TRegsPage::Block(uint16_t Start) const {
    return {Start, static_cast<TRegDataType>(ui->cbUpdDataType->currentIndex()),
            static_cast<TWordOrder>(ui->cbUpdDataOrder->currentIndex()), ui->edNumRegs->value()};
}

bool TRegsPage::WriteAllowed() const {
    const int Index = ui->cbUpdDataType->currentIndex();
    return Index >= 0 && Index < RegDataTypeCount &&
           DataTypeSetups[static_cast<size_t>(Index)].WriteEnabled;
}

void TRegsPage::DataTypeChanged() {
    const int Index = ui->cbUpdDataType->currentIndex();
    if (Index < 0 || Index >= RegDataTypeCount) return;
    const auto Type = static_cast<TRegDataType>(Index);
    const TDataTypeSetup &S = DataTypeSetups[static_cast<size_t>(Index)];

    ClearValue();
    // No more registers (inputs) than one request carries; one box serves
    // the read and the write of a string, so it keeps to the write's 123.
    ui->edNumRegs->setMaximum(Type == rdtBit ? MaxReadInputs : MaxWriteRegisters);
    if (S.NumRegs > 0) ui->edNumRegs->setValue(S.NumRegs);
    if (S.OrderFixed) ui->cbUpdDataOrder->setCurrentIndex(woMSWF);
    ui->edUpdValueStr->setVisible(!S.NumericValue);
    ui->edUpdValueNum->setVisible(S.NumericValue);
    if (S.NumericValue)
        ui->edUpdValueNum->setDecimals(DisplayDecimals(Type));
    else
        ui->edUpdValueStr->setReadOnly(S.TextReadOnly);
    ApplyEnabled();
}

void TRegsPage::ApplyEnabled() {
    const int Index = ui->cbUpdDataType->currentIndex();
    if (Index < 0 || Index >= RegDataTypeCount) return;
    const TDataTypeSetup &S = DataTypeSetups[static_cast<size_t>(Index)];
    for (QWidget *W :
         std::initializer_list<QWidget *>{ui->edUpdAddr, ui->edUpdStartReg, ui->cbUpdDataType,
                                          ui->edUpdValueStr, ui->edUpdValueNum})
        W->setEnabled(!FBusy);
    ui->edNumRegs->setEnabled(S.NumRegsEnabled && !FBusy);
    ui->cbUpdDataOrder->setEnabled(!S.OrderFixed && !FBusy);
    ui->btnUpdRead->setEnabled(!FBusy);
    ui->btnUpdWrite->setEnabled(S.WriteEnabled && !FBusy);
}

void TRegsPage::SetBusy(bool Busy) {
    FBusy = Busy;
    ApplyEnabled();
}

TRegWritePlan TRegsPage::PlanWrite() {
    const TRegBlock B = Block(0);
    if (B.Type == rdtString) {
        // Blanks and control characters around the text go, also from the
        // edit, whatever follows.
        const std::string Stripped = StripText(ui->edUpdValueStr->text().toStdString());
        ui->edUpdValueStr->setText(QString::fromStdString(Stripped));
        return PlanTextWrite(Stripped, B.Count);
    }
    if (const std::optional<double> Number = ui->edUpdValueNum->RealValue())
        return PlanNumberWrite(B.Type, B.Order, *Number);
    TRegWritePlan Plan;
    Plan.Refusal = TJobText::ValueNotSpecified;
    return Plan;
}

void TRegsPage::ClearValue() {
    ui->edUpdValueStr->clear();
    ui->edUpdValueNum->SetRealValue(std::nullopt);
}

void TRegsPage::ShowRead(int Addr, const TRegBlock &Read, const TRegReadResult &Result) {
    const TRegBlock Now = Block(Read.Reg);
    if (Address() != Addr || StartRegister() != qlonglong{Read.Reg} || Now.Type != Read.Type ||
        Now.Order != Read.Order || Now.Count != Read.Count)
        return;
    if (Result.Number)
        ui->edUpdValueNum->SetRealValue(*Result.Number);
    else
        ui->edUpdValueStr->setText(QString::fromStdString(Result.Text));
}
