#include "devsetup/RegsPage.h"

#include <QComboBox>

#include "devsetup/NumberEdit.h"
#include "jobs/ValueDisplay.h"
#include "modbus/RegisterCodecs.h"
#include "ui_RegsPage.h"

namespace {

// What the chosen type means (the codecs' table); none while the list has
// no valid choice.
const TRegTypeInfo *ChosenType(const QComboBox &List) {
    const int Index = List.currentIndex();
    if (Index < 0 || Index >= RegDataTypeCount) return nullptr;
    return &RegTypeInfo(static_cast<TRegDataType>(Index));
}

}  // namespace

TRegsPage::TRegsPage(QWidget *Parent) : QWidget(Parent), ui(std::make_unique<Ui::TRegsPage>()) {
    ui->setupUi(this);
    ui->edUpdStartReg->clear();
    ui->edUpdValueNum->SetRealValue(std::nullopt);
    ui->edUpdValueNum->hide();
    // The word orders keep their short names (the command line's --order
    // takes them); what they stand for is in the user's language.
    const QString OrderMeaning[WordOrderCount] = {tr("Least significant word first"),
                                                  tr("Most significant word first")};
    for (int I = 0; I < WordOrderCount; ++I)
        ui->cbUpdDataOrder->setItemData(I, OrderMeaning[I], Qt::ToolTipRole);
    auto ShowOrderMeaning = [this] {
        ui->cbUpdDataOrder->setToolTip(
            ui->cbUpdDataOrder->itemData(ui->cbUpdDataOrder->currentIndex(), Qt::ToolTipRole)
                .toString());
    };
    connect(ui->cbUpdDataOrder, &QComboBox::currentIndexChanged, this, ShowOrderMeaning);
    ShowOrderMeaning();
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
    const TRegTypeInfo *Type = ChosenType(*ui->cbUpdDataType);
    return Type && Type->Writable;
}

void TRegsPage::DataTypeChanged() {
    const TRegTypeInfo *Type = ChosenType(*ui->cbUpdDataType);
    if (!Type) return;

    ClearValue();
    // No more registers (inputs) than one request carries.
    ui->edNumRegs->setMaximum(Type->CountBoxMax);
    if (Type->CountOnChoice > 0) ui->edNumRegs->setValue(Type->CountOnChoice);
    // Where the word order does not matter it is MSWF, locked.
    if (!Type->WordOrder) ui->cbUpdDataOrder->setCurrentIndex(woMSWF);
    ui->edUpdValueStr->setVisible(!Type->Numeric);
    ui->edUpdValueNum->setVisible(Type->Numeric);
    // Alt+V goes to whichever of the two value boxes shows.
    ui->lblUpdValue->setBuddy(Type->Numeric ? static_cast<QWidget *>(ui->edUpdValueNum)
                                            : ui->edUpdValueStr);
    if (Type->Numeric)
        ui->edUpdValueNum->setDecimals(
            DisplayDecimals(static_cast<TRegDataType>(ui->cbUpdDataType->currentIndex())));
    else
        ui->edUpdValueStr->setReadOnly(!Type->Writable);
    ApplyEnabled();
}

void TRegsPage::ApplyEnabled() {
    const TRegTypeInfo *Type = ChosenType(*ui->cbUpdDataType);
    if (!Type) return;
    for (QWidget *W :
         std::initializer_list<QWidget *>{ui->edUpdAddr, ui->edUpdStartReg, ui->cbUpdDataType,
                                          ui->edUpdValueStr, ui->edUpdValueNum})
        W->setEnabled(!FBusy);
    // The count is the user's only where the type does not fix it.
    ui->edNumRegs->setEnabled(Type->Registers == 0 && !FBusy);
    ui->cbUpdDataOrder->setEnabled(Type->WordOrder && !FBusy);
    ui->btnUpdRead->setEnabled(!FBusy);
    ui->btnUpdWrite->setEnabled(Type->Writable && !FBusy);
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
