#include "fwupdate/FWUpdateForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWindow>

#include "settings/Settings.h"
#include "ui_FWUpdateForm.h"
#include "widgets/ErrorBox.h"
#include "widgets/HotPlugWatcher.h"
#include "widgets/JobWindow.h"
#include "widgets/MsgBox.h"
#include "widgets/PortCombo.h"
#include "widgets/WindowHelpers.h"

namespace {

const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);

QString NA() {
    return TFWUpdateForm::tr("N/A");
}

TFirmwareFilePicker &FilePicker() {
    static TFirmwareFilePicker P;
    return P;
}

QString PickFirmwareFile(QWidget *Parent) {
    if (FilePicker()) {
        auto P = FilePicker();
        return P(Parent);
    }
    QFileDialog Dialog(Parent);
    Dialog.setAcceptMode(QFileDialog::AcceptOpen);
    Dialog.setFileMode(QFileDialog::ExistingFile);
    Dialog.setDefaultSuffix(QStringLiteral("cod"));
    Dialog.setNameFilter(TFWUpdateForm::tr("Firmware") + QStringLiteral(" (*.cod)"));
    if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return {};
    return Dialog.selectedFiles().constFirst();
}

QString SensorName(const TSettings &Catalogue, int ID) {
    return CatalogueText(Catalogue.SensorIDToName(ID));
}

QString VersionText(const TSettings &Catalogue, const TSensorVersion &V) {
    return CatalogueText(Catalogue.SensorVersionToString(V.Hi, V.Lo));
}

void SetColoured(QLabel *Label, const QString &Text, const QColor &Colour) {
    QPalette P = Label->palette();
    P.setColor(QPalette::WindowText, Colour);
    Label->setPalette(P);
    Label->setText(Text);
}

void MakeWhite(QWidget *W) {
    W->setAutoFillBackground(true);
    QPalette P = W->palette();
    P.setColor(QPalette::Window, Qt::white);
    W->setPalette(P);
}

}  // namespace

void SetFirmwareFilePicker(TFirmwareFilePicker Picker) {
    FilePicker() = std::move(Picker);
}

TFWUpdateForm::TFWUpdateForm(const TSettings *Catalogue, QWidget *Owner)
    : QDialog(Owner),
      ui(std::make_unique<Ui::FWUpdateForm>()),
      FJobs(
          this, Catalogue, [this](bool Enabled) { SetConnectControlsEnabled(Enabled); },
          [this] { JobEnded(); }) {
    InitWidgetResources();
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(460, 246);
    ApplyWindowFont(this);
    EnableEnterOnButtons(this);
    // Enter after choosing a port connects (not the reload beside it).
    SetEnterActions(this, {{ui->cbCOMPort, ui->btnConnect}});
    InstallMinimizeAll(this);
    for (QWidget *W : {static_cast<QWidget *>(ui->pnlBand1), static_cast<QWidget *>(ui->pnlBand2),
                       static_cast<QWidget *>(ui->pnlBand3), static_cast<QWidget *>(ui->Page4),
                       static_cast<QWidget *>(ui->pnlValidating)})
        MakeWhite(W);
    // Names and texts from the settings file and from firmware files are
    // shown as they are, never read as rich text.
    for (QLabel *Label : {ui->lblSensorID, ui->lblSensorVersion, ui->lblFileID, ui->lblFileVersion,
                          ui->lblFileStatus})
        Label->setTextFormat(Qt::PlainText);
    ui->btnReload->setIcon(ReloadIcon());
    ui->btnReload->setIconSize(QSize(16, 16));

    connect(ui->btnConnect, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnConnectClick(); }); });
    connect(ui->btnReload, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnReloadClick(); }); });
    connect(ui->cbCOMPort, &QComboBox::activated, this,
            [this](int Index) { RunGuarded([this, Index] { cbCOMPortChange(Index); }); });
    connect(ui->btnLoadFile, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnLoadFileClick(); }); });
    connect(ui->btnNext, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnNextClick(); }); });
    connect(ui->btnPrev, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnPrevClick(); }); });
    connect(ui->btnUpdNextDevice, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnUpdNextDeviceClick(); }); });
    connect(ui->btnClose, &QPushButton::clicked, this, &TFWUpdateForm::btnCloseClick);

    // FormCreate.
    ShowPage(0);
    bConnected = bLoaded = bUpdating = bFinished = false;
    ui->btnUpdNextDevice->hide();
    ui->btnUpdNextDevice->move(ui->btnPrev->pos());
    ui->btnPrev->setEnabled(false);
    ui->pnlValidating->hide();

    // Watch for ports before listing them, so that nothing plugged in
    // between is missed.
    FHotPlug = new THotPlugWatcher(this, [this] { RunGuarded([this] { ReloadPortList(); }); });
    FillPortCombo(ui->cbCOMPort);
}

TFWUpdateForm::~TFWUpdateForm() {
    FJobs.Wait();
    delete FHotPlug;  // unregisters; a reload still queued is dropped with it
    FHotPlug = nullptr;
    FLine.reset();  // closes the port
    ui->cbCOMPort->clear();
}

int TFWUpdateForm::PageIndex() const {
    return ui->Notebook1->currentIndex();
}

void TFWUpdateForm::ShowPage(int Index) {
    ui->Notebook1->setCurrentIndex(Index);
}

void TFWUpdateForm::PostReloadPorts() {
    FHotPlug->PostReload();
}

void TFWUpdateForm::showEvent(QShowEvent *Event) {
    QDialog::showEvent(Event);
    LineUpPortButtons();
    // Moving to a screen of another scale lines them up again.
    if (QWindow *Handle = windowHandle(); Handle && !bScreenWatched) {
        connect(Handle, &QWindow::screenChanged, this, [this] { LineUpPortButtons(); });
        bScreenWatched = true;
    }
}

void TFWUpdateForm::LineUpPortButtons() {
    const QRect List = ui->cbCOMPort->geometry();
    for (QPushButton *B : {ui->btnReload, ui->btnConnect})
        B->setGeometry(B->x(), List.top() - 1, B->width(), List.height() + 2);
}

void TFWUpdateForm::btnConnectClick() {
    if (IsBusy()) return;
    const auto Port = SelectedPort(ui->cbCOMPort);
    if (!Port) {
        ShowErrorMsg(AppTitle(), Say(TJobText::PortNotSelected));
        return;
    }
    // A line of its own for every connect: the port chosen may be another
    // kind of line than the last one.
    FLine = std::make_unique<TBootLine>(Port->DeviceID, FJobs.Catalogue().FWUpdSettings());
    FJobs.RunJob(
        Qt::WaitCursor,
        [this, Line = FLine.get()] {
            const TBootSensor Sensor = IdentifyBootSensor(*Line);
            return [this, Sensor] { ShowConnectResult(Sensor); };
        },
        [this] { Disconnect(); });
}

void TFWUpdateForm::ShowConnectResult(const TBootSensor &Sensor) {
    if (Sensor.Found && !bClosePending) {
        ui->lblSensorID->setText(SensorName(FJobs.Catalogue(), Sensor.SensorID));
        ui->lblSensorVersion->setText(VersionText(FJobs.Catalogue(), Sensor.Version));
        bConnected = true;
    } else if (bClosePending) {
        // The port went away while the sensor was being looked for.
        Disconnect();
    } else {
        // No stale "connected" state survives a failed attempt.
        Disconnect();
        ShowErrorMsg(AppTitle(), Say(TJobText::NotFound));
    }
}

void TFWUpdateForm::JobEnded() {
    if (bClosePending) {
        bClosePending = false;
        CloseLine();
    }
    emit JobFinished();
}

void TFWUpdateForm::SetConnectControlsEnabled(bool Enabled) {
    for (QWidget *W :
         std::initializer_list<QWidget *>{ui->cbCOMPort, ui->btnReload, ui->btnConnect})
        W->setEnabled(Enabled);
    if (!bUpdating) {
        ui->btnNext->setEnabled(Enabled);
        ui->btnClose->setEnabled(Enabled);
    }
}

void TFWUpdateForm::btnReloadClick() {
    ReloadPortList();
}

void TFWUpdateForm::cbCOMPortChange(int Index) {
    const auto Port = PortComboItem(ui->cbCOMPort, Index);
    // While a job runs the link is its own: not even asked for its port.
    if (!Port || IsBusy()) return;
    if (QString::fromStdString(Port->DeviceID)
            .compare(QString::fromStdString(FLine ? Link().COMPort() : std::string()),
                     Qt::CaseInsensitive) != 0)
        Disconnect();
}

void TFWUpdateForm::Disconnect() {
    if (IsBusy())
        bClosePending = true;  // the running job still uses the port
    else
        CloseLine();
    bConnected = false;
    ui->lblSensorID->setText(NA());
    ui->lblSensorVersion->setText(NA());
}

void TFWUpdateForm::ReloadPortList() {
    if (ReloadPortCombo(ui->cbCOMPort) == TPortReload::Lost) Disconnect();
}

void TFWUpdateForm::btnLoadFileClick() {
    if (IsBusy()) return;
    const QString Name = PickFirmwareFile(this);
    if (Name.isEmpty()) return;
    // Read once, whole: the update sends exactly the bytes checked here. A
    // file that exists but cannot be read raises before any label changes:
    // name, status and version keep those of the earlier file (which an
    // update would still send) and the default handler shows the error.
    TFirmwareImage Image = LoadFirmwareImage(QFile::encodeName(Name).toStdString());
    FFileName = Name;
    ShowFileName(Name);
    if (Image.Ok()) {
        FImage = std::move(Image);
        ui->lblFileID->setText(SensorName(FJobs.Catalogue(), FImage.Hdr.DeviceID));
        ui->lblFileVersion->setText(VersionText(FJobs.Catalogue(), FImage.Hdr.Version));
        SetColoured(ui->lblFileStatus, tr("Loaded"), kGreen);
        bLoaded = true;
    } else {
        FImage.Bytes.clear();
        FImage.Load = Image.Load;
        ui->lblFileID->setText(NA());
        ui->lblFileVersion->setText(NA());
        SetColoured(
            ui->lblFileStatus,
            Image.Load == TCodLoad::TooBig ? Say(Image.Problem()) : Say(TJobText::InvalidCodFile),
            kRed);
        bLoaded = false;
    }
}

void TFWUpdateForm::ShowFileName(const QString &Path) {
    // The file's name beside the button, cut in the middle when long; the
    // whole path as the tooltip.
    QLabel *Label = ui->lblFileName;
    const QString Name = QFileInfo(Path).fileName();
    Label->setText(Label->fontMetrics().elidedText(Name, Qt::ElideMiddle, Label->width()));
    Label->setToolTip(QDir::toNativeSeparators(Path));
}

void TFWUpdateForm::PreparePage3() {
    ui->lblUpdatingPage->setText(tr("Please click the \"Update\" button to upload the firmware"));
    ui->ProgressBar1->setValue(0);
    ui->lblPercent->setText(QStringLiteral("%1%").arg(0));
    ui->btnNext->setText(tr("Update"));
    ui->lblPacketsSent->setText(QStringLiteral("0"));
    ui->lblPacketsFailed->setText(QStringLiteral("0"));
    ui->pnlValidating->hide();
    ShowPage(2);
}

void TFWUpdateForm::btnNextClick() {
    if (IsBusy()) return;
    switch (PageIndex()) {
        case 0:
            if (!bConnected) {
                ShowErrorMsg(AppTitle(), Say(TJobText::NotConnected));
                return;
            }
            ui->btnPrev->setEnabled(true);
            ShowPage(1);
            return;
        case 1: {
            if (!bLoaded) {
                ShowErrorMsg(AppTitle(), Say(TJobText::NotLoaded));
                return;
            }
            const TUpdateCheck Check = CheckUpdate(Link().SensorID(), Link().Version(), FImage.Hdr);
            if (Check.Refusal != TJobText::None) {
                ShowErrorMsg(AppTitle(), Say(Check.Refusal));
                return;
            }
            if (Check.Question != TVersionQuestion::None &&
                AskYesNo(AppTitle(), Say(QuestionText(Check.Question))) != mrYes)
                return;
            PreparePage3();
            return;
        }
        case 2:
            UpdateFirmware();
            return;
        default:
            return;
    }
}

void TFWUpdateForm::btnPrevClick() {
    switch (PageIndex()) {
        case 2:
            ui->btnNext->setText(tr("Next >"));
            ShowPage(1);
            return;
        case 1:
            ui->btnPrev->setEnabled(false);
            ShowPage(0);
            return;
        default:
            return;
    }
}

void TFWUpdateForm::UpdateFirmware() {
    bUpdating = true;
    ui->lblUpdatingPage->setText(tr("Updating..."));
    ui->btnClose->setEnabled(false);
    ui->btnPrev->setEnabled(false);
    ui->btnNext->setEnabled(false);

    if (!bConnected || !bLoaded) {
        ShowUploadResult({});
        return;
    }
    FJobs.RunJob(
        Qt::BusyCursor,
        [this, Link = &Link(), Image = &FImage] {
            const TUploadResult Result =
                UploadFirmware(*Link, *Image, [this](int Sent, int Fail, int Progress) {
                    FJobs.Post(
                        [this, Sent, Fail, Progress] { UpdateProgress(Sent, Fail, Progress); });
                });
            return [this, Result] { ShowUploadResult(Result); };
        },
        [this] { ShowUploadResult({}); });
}

void TFWUpdateForm::ShowUploadResult(const TUploadResult &Result) {
    ui->btnPrev->setEnabled(true);
    ui->btnNext->setEnabled(true);
    ui->btnClose->setEnabled(true);
    bUpdating = false;
    bFinished = true;
    if (Result.Ok) {
        SetColoured(ui->lblStatus, Say(Result.Text()), kGreen);
        ui->lblStatusMsg->hide();
        ui->lblStatusDetail->clear();
    } else {
        SetColoured(ui->lblStatus, Say(Result.Text()), kRed);
        ui->lblStatusMsg->show();
        // What ended it, when more is known (the sensor reported the image
        // complete too early, the port failed).
        ui->lblStatusDetail->setText(Say(Result.Error));
    }
    ui->lblStatusDetail->setVisible(!ui->lblStatusDetail->text().isEmpty());
    ui->btnPrev->hide();
    ui->btnNext->hide();
    ui->btnUpdNextDevice->show();
    ShowPage(3);
    // The natural next step: Enter starts on the next sensor.
    ui->btnUpdNextDevice->setDefault(true);
    ui->btnUpdNextDevice->setFocus(Qt::OtherFocusReason);
}

void TFWUpdateForm::UpdateProgress(int PacketsSent, int PacketsFail, int Progress) {
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
        Panel->show();
    }
}

void TFWUpdateForm::btnUpdNextDeviceClick() {
    if (IsBusy()) return;
    CloseLine();
    bConnected = bUpdating = bFinished = false;
    ui->lblSensorID->setText(NA());
    ui->lblSensorVersion->setText(NA());
    ui->btnUpdNextDevice->hide();
    ui->btnPrev->show();
    ui->btnPrev->setEnabled(false);
    ui->btnNext->show();
    ui->btnNext->setText(tr("Next >"));
    ShowPage(0);
    // Not Close: Enter, Enter must not end the wizard. The port is usually
    // still chosen, so Connect is the next step.
    ui->btnConnect->setFocus(Qt::OtherFocusReason);
}

void TFWUpdateForm::btnCloseClick() {
    close();
}

void TFWUpdateForm::FormCloseQuery(bool &CanClose) {
    CanClose = !IsBusy() && (bFinished || !bUpdating);
}

void TFWUpdateForm::closeEvent(QCloseEvent *Event) {
    bool CanClose = true;
    FormCloseQuery(CanClose);
    if (!CanClose) {
        Event->ignore();
        return;
    }
    QDialog::closeEvent(Event);
}

void TFWUpdateForm::reject() {
    // Escape and the title bar's close end here too.
    bool CanClose = true;
    FormCloseQuery(CanClose);
    if (CanClose) QDialog::reject();
}

void TFWUpdateForm::done(int Result) {
    bool CanClose = true;
    FormCloseQuery(CanClose);
    if (!CanClose) return;
    FormClose();
    QDialog::done(Result);
}

void TFWUpdateForm::FormClose() {
    CloseLine();
}

void TFWUpdateForm::CloseLine() {
    if (FLine) FLine->XComm().Close();
}
