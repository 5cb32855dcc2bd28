#include "fwupdate/ConnectPage.h"

#include "fwupdate/PageLook.h"
#include "ui_ConnectPage.h"
#include "widgets/WindowHelpers.h"

TConnectPage::TConnectPage(QWidget *Parent)
    : QWidget(Parent), ui(std::make_unique<Ui::TConnectPage>()) {
    ui->setupUi(this);
    MakeWhite(ui->pnlBand1);
    // Names and texts from the settings file are shown as they are, never
    // read as rich text.
    for (QLabel *Label : {ui->lblSensorID, ui->lblSensorVersion})
        Label->setTextFormat(Qt::PlainText);
    ui->btnReload->setIcon(ReloadIcon());
    ui->btnReload->setIconSize(QSize(16, 16));
}

TConnectPage::~TConnectPage() = default;

void TConnectPage::ShowSensor(const QString &Name, const QString &Version) {
    ui->lblSensorID->setText(Name);
    ui->lblSensorVersion->setText(Version);
}

void TConnectPage::ClearSensor() {
    ShowSensor(tr("N/A"), tr("N/A"));
}

void TConnectPage::SetPortControlsEnabled(bool Enabled) {
    for (QWidget *W :
         std::initializer_list<QWidget *>{ui->cbCOMPort, ui->btnReload, ui->btnConnect})
        W->setEnabled(Enabled);
}

void TConnectPage::LineUpPortButtons() {
    const QRect List = ui->cbCOMPort->geometry();
    for (QPushButton *B : {ui->btnReload, ui->btnConnect})
        B->setGeometry(B->x(), List.top() - 1, B->width(), List.height() + 2);
}
