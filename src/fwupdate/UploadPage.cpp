#include "fwupdate/UploadPage.h"

#include "fwupdate/PageLook.h"
#include "ui_UploadPage.h"

TUploadPage::TUploadPage(QWidget *Parent)
    : QWidget(Parent), ui(std::make_unique<Ui::TUploadPage>()) {
    ui->setupUi(this);
    MakeWhite(ui->pnlBand3);
    MakeWhite(ui->pnlValidating);
    ui->pnlValidating->hide();
}

TUploadPage::~TUploadPage() = default;

void TUploadPage::Prepare() {
    ui->lblUpdatingPage->setText(tr("Please click the \"Update\" button to upload the firmware"));
    ui->ProgressBar1->setValue(0);
    ui->lblPercent->setText(QStringLiteral("%1%").arg(0));
    ui->lblPacketsSent->setText(QStringLiteral("0"));
    ui->lblPacketsFailed->setText(QStringLiteral("0"));
    ui->pnlValidating->hide();
}

void TUploadPage::ShowUpdating() {
    ui->lblUpdatingPage->setText(tr("Updating..."));
}

void TUploadPage::ShowProgress(int PacketsSent, int PacketsFail, int Progress) {
    ui->lblPacketsSent->setText(QString::number(PacketsSent));
    ui->lblPacketsFailed->setText(QString::number(PacketsFail));
    ui->lblPercent->setText(QStringLiteral("%1%").arg(Progress));
    // Stepping back by one and forward again makes styles that animate the
    // bar draw the new position at once.
    ui->ProgressBar1->setValue(10 * Progress);
    ui->ProgressBar1->setValue(10 * Progress - 1);
    ui->ProgressBar1->setValue(10 * Progress);
    if (Progress == 100) {
        QWidget *Area = ui->pnlUploadArea;
        QWidget *Panel = ui->pnlValidating;
        Panel->move((Area->width() - Panel->width()) / 2, (Area->height() - Panel->height()) / 2);
        Panel->raise();
        Panel->show();
    }
}
