#include "devsetup/CommPage.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <algorithm>
#include <array>

#include "devsetup/NumberEdit.h"
#include "jobs/CommCatalogue.h"
#include "ui_CommPage.h"

namespace {
struct TCommRow {
    TNumberEdit *Reg;
    TNumberEdit *Val;
};

std::array<TCommRow, CommSettingCount> RowsOf(const Ui::TCommPage &Ui) {
    return {{{Ui.edCommBRReg, Ui.edCommBRVal},
             {Ui.edCommPDSReg, Ui.edCommPDSVal},
             {Ui.edCommAdrReg, Ui.edCommAdrVal}}};
}
}  // namespace

TCommPage::TCommPage(QWidget *Parent) : QWidget(Parent), ui(std::make_unique<Ui::TCommPage>()) {
    ui->setupUi(this);
    for (const TCommRow &R : RowsOf(*ui)) {
        R.Reg->clear();
        R.Val->clear();
    }
    // Sensors the settings file describes: a list of the known values
    // beside each value box and a line naming the sensor. Both stay hidden
    // (and take no room) for every other sensor.
    static const char *const ListNames[] = {"cbCommBRVal", "cbCommPDSVal", "cbCommAdrVal"};
    const QString AccessibleNames[] = {tr("Baud rate values"), tr("Parity, data, stop bits values"),
                                       tr("Address values")};
    const auto Rows = RowsOf(*ui);
    for (size_t I = 0; I < Rows.size(); ++I) {
        auto *List = new QComboBox(this);
        List->setObjectName(QString::fromLatin1(ListNames[I]));
        List->setAccessibleName(AccessibleNames[I]);
        List->setToolTip(
            tr("Values known from the settings file; picking one puts it into the "
               "value box"));
        List->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        List->setMinimumContentsLength(8);
        List->hide();
        ui->layoutCommRegs->addWidget(List, static_cast<int>(I) + 1, 3);
        setTabOrder(Rows[I].Val, List);
        FLists[I] = List;
        TNumberEdit *Val = Rows[I].Val;
        connect(List, &QComboBox::activated, this, [List, Val](int Index) {
            if (Index >= 0) Val->SetWholeValue(List->itemData(Index).toLongLong());
        });
        connect(Val, &QLineEdit::textChanged, this, [this, I] { UpdateList(I); });
        connect(Rows[I].Reg, &QLineEdit::textChanged, this, [this, I] { UpdateList(I); });
    }
    FKindLabel = new QLabel(this);
    FKindLabel->setObjectName(QStringLiteral("lblCommSensor"));
    FKindLabel->setWordWrap(true);
    FKindLabel->hide();
    ui->layoutComm->insertWidget(ui->layoutComm->indexOf(ui->layoutCommRegs) + 1, FKindLabel);
    connect(ui->edCommAddr, &QSpinBox::valueChanged, this, [this](int Address) {
        if (FKind && Address != FKindAddress) ForgetKind();
    });
}

TCommPage::~TCommPage() = default;

int TCommPage::Address() const {
    return ui->edCommAddr->value();
}

TCommSettings TCommPage::Settings(bool WithValues) const {
    TCommSettings Settings;
    const auto Rows = RowsOf(*ui);
    for (size_t I = 0; I < Rows.size(); ++I) {
        Settings[I].Reg = Rows[I].Reg->WholeValue();
        if (WithValues) Settings[I].Value = Rows[I].Val->WholeValue();
    }
    return Settings;
}

bool TCommPage::NothingToRead() const {
    const auto Rows = RowsOf(*ui);
    return std::all_of(Rows.begin(), Rows.end(),
                       [](const TCommRow &R) { return R.Reg->IsEmpty(); });
}

bool TCommPage::NothingToWrite() const {
    const auto Rows = RowsOf(*ui);
    return std::none_of(Rows.begin(), Rows.end(), [](const TCommRow &R) {
        return R.Reg->WholeValue().has_value() && R.Val->WholeValue().has_value();
    });
}

void TCommPage::ClearValues() {
    for (const TCommRow &R : RowsOf(*ui)) R.Val->clear();
}

void TCommPage::ShowRead(const TCommResult &Result) {
    const auto Rows = RowsOf(*ui);
    for (size_t I = 0; I < Rows.size(); ++I)
        if (Result.Rows[I].Done && Result.Rows[I].Ok)
            Rows[I].Val->SetWholeValue(Result.Rows[I].Value);
}

void TCommPage::ShowKind(int Address, const TSensorComm &Comm, const QString &Name) {
    FKind = Comm;
    FKindAddress = Address;
    for (QComboBox *List : FLists) List->clear();  // another kind's values
    ui->edCommAddr->setValue(Address);
    const auto Rows = RowsOf(*ui);
    for (size_t I = 0; I < Rows.size(); ++I) {
        if (Comm.Reg[I]) Rows[I].Reg->SetWholeValue(*Comm.Reg[I]);
        Rows[I].Val->clear();
        UpdateList(I);
    }
    FKindLabel->setText(
        tr("Sensor %1: register numbers and values from the settings file").arg(Name));
    FKindLabel->show();
}

void TCommPage::ForgetKind() {
    FKind.reset();
    for (size_t I = 0; I < FLists.size(); ++I) UpdateList(I);
    FKindLabel->hide();
    FKindLabel->clear();
}

void TCommPage::SetListsEnabled(bool Enabled) {
    for (QComboBox *List : FLists) List->setEnabled(Enabled);
}

void TCommPage::UpdateList(size_t Row) {
    QComboBox *List = FLists[Row];
    if (!List) return;  // still being built
    const TCommRow R = RowsOf(*ui)[Row];
    const std::optional<qlonglong> Reg = R.Reg->WholeValue();
    // Only the kind's own register has the kind's meanings.
    const bool Known =
        FKind && Reg && FKind->Reg[Row] && *FKind->Reg[Row] == *Reg && !FKind->Values[Row].empty();
    if (!Known) {
        List->hide();
        List->clear();
        FitColumns();
        return;
    }
    const QSignalBlocker Block(List);
    if (List->count() == 0) {
        for (const TCommValueName &V : FKind->Values[Row])
            List->addItem(QString::fromStdString(CommValueText(V.Value, V.Meaning)),
                          QVariant::fromValue<qlonglong>(V.Value));
    }
    const std::optional<qlonglong> Value = R.Val->WholeValue();
    const int Index = Value ? List->findData(QVariant::fromValue<qlonglong>(*Value)) : -1;
    List->setCurrentIndex(Index);
    if (Index < 0)
        List->setPlaceholderText(Value ? tr("%1 (not in the list)").arg(*Value)
                                       : tr("Choose a value"));
    List->setToolTip(Index >= 0 ? List->itemText(Index)
                                : tr("Values known from the settings file; picking one puts it "
                                     "into the value box"));
    List->show();
    FitColumns();
}

void TCommPage::FitColumns() {
    bool Any = false;
    for (const QComboBox *List : FLists) Any = Any || (List && !List->isHidden());
    // Five digits and the frame: every number a register holds.
    const int Narrow = fontMetrics().horizontalAdvance(QStringLiteral("655350")) + 8;
    for (const TCommRow &R : RowsOf(*ui)) {
        R.Reg->setMaximumWidth(Any ? Narrow : QWIDGETSIZE_MAX);
        R.Val->setMaximumWidth(Any ? Narrow : QWIDGETSIZE_MAX);
    }
    for (QLabel *Name : {ui->lblCommBR, ui->lblCommPDS, ui->lblCommAdr}) Name->setWordWrap(Any);
}
