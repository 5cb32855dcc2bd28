#include "devsetup/CommPage.h"

#include <algorithm>
#include <array>

#include "devsetup/NumberEdit.h"
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
