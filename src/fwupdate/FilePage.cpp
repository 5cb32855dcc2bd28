#include "fwupdate/FilePage.h"

#include <QDir>
#include <QFileInfo>

#include "fwupdate/PageLook.h"
#include "ui_FilePage.h"

TFilePage::TFilePage(QWidget *Parent) : QWidget(Parent), ui(std::make_unique<Ui::TFilePage>()) {
    ui->setupUi(this);
    MakeWhite(ui->pnlBand2);
    // Names and texts from the settings file and from firmware files are
    // shown as they are, never read as rich text.
    for (QLabel *Label : {ui->lblFileID, ui->lblFileVersion, ui->lblFileStatus, ui->lblFileReason})
        Label->setTextFormat(Qt::PlainText);
}

TFilePage::~TFilePage() = default;

void TFilePage::ShowFileName(const QString &Path) {
    QLabel *Label = ui->lblFileName;
    const QString Name = QFileInfo(Path).fileName();
    Label->setText(Label->fontMetrics().elidedText(Name, Qt::ElideMiddle, Label->width()));
    Label->setToolTip(QDir::toNativeSeparators(Path));
}

void TFilePage::ShowLoaded(const QString &Name, const QString &Version) {
    ui->lblFileID->setText(Name);
    ui->lblFileVersion->setText(Version);
    SetColoured(ui->lblFileStatus, tr("Loaded"), kPageGreen);
    ui->lblFileReason->clear();
}

void TFilePage::ShowRefused(const QString &Reason, const QString &Detail) {
    ui->lblFileID->setText(tr("N/A"));
    ui->lblFileVersion->setText(tr("N/A"));
    SetColoured(ui->lblFileStatus, Reason, kPageRed);
    SetColoured(ui->lblFileReason, Detail, kPageRed);
}
