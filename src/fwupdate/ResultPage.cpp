#include "fwupdate/ResultPage.h"

#include "fwupdate/PageLook.h"
#include "ui_ResultPage.h"

TResultPage::TResultPage(QWidget *Parent)
    : QWidget(Parent), ui(std::make_unique<Ui::TResultPage>()) {
    ui->setupUi(this);
    MakeWhite(this);
}

TResultPage::~TResultPage() = default;

void TResultPage::ShowResult(bool Ok, const QString &Status, const QString &Detail,
                             const QString &Summary) {
    SetColoured(ui->lblStatus, Status, Ok ? kPageGreen : kPageRed);
    ui->lblStatusMsg->setVisible(!Ok);
    ui->lblStatusDetail->setText(Ok ? QString() : Detail);
    ui->lblStatusDetail->setVisible(!ui->lblStatusDetail->text().isEmpty());
    ui->lblSummary->setText(Ok ? Summary : QString());
    ui->lblSummary->setVisible(!ui->lblSummary->text().isEmpty());
}
