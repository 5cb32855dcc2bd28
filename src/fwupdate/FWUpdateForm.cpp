#include "fwupdate/FWUpdateForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWindow>

#include "fwupdate/ConnectPage.h"
#include "fwupdate/FilePage.h"
#include "fwupdate/FirmwareFolder.h"
#include "fwupdate/ResultPage.h"
#include "fwupdate/UploadPage.h"
#include "settings/Settings.h"
#include "ui_ConnectPage.h"
#include "ui_FWUpdateForm.h"
#include "ui_FilePage.h"
#include "widgets/ErrorBox.h"
#include "widgets/HotPlugWatcher.h"
#include "widgets/JobWindow.h"
#include "widgets/MsgBox.h"
#include "widgets/PortCombo.h"
#include "widgets/WindowHelpers.h"

namespace {

TFirmwareFilePicker &FilePicker() {
    static TFirmwareFilePicker P;
    return P;
}

QString PickFirmwareFile(QWidget *Parent) {
    if (FilePicker()) {
        auto P = FilePicker();
        return P(Parent);
    }
    QFileDialog Dialog(Parent, TFWUpdateForm::tr("Open firmware file"), LastFirmwareFolder());
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

// A file's sensor as the file page shows it: a device code the catalogue
// does not know keeps its number, so that a mismatch shows before Next.
QString FileSensorName(const TSettings &Catalogue, int ID) {
    const std::string Name = Catalogue.SensorIDToName(ID);
    if (Name != "Unknown") return CatalogueText(Name);
    return CatalogueText(Name) + QStringLiteral(" (%1)").arg(ID);
}

QString VersionText(const TSettings &Catalogue, const TSensorVersion &V) {
    return CatalogueText(Catalogue.SensorVersionToString(V.Hi, V.Lo));
}

}  // namespace

void SetFirmwareFilePicker(TFirmwareFilePicker Picker) {
    FilePicker() = std::move(Picker);
}

QString AskFirmwareFile(QWidget *Parent) {
    return PickFirmwareFile(Parent);
}

TFWUpdateForm::TFWUpdateForm(const TSettings *Catalogue, QWidget *Owner)
    : QDialog(Owner),
      ui(std::make_unique<Ui::FWUpdateForm>()),
      FJobs(
          this, Catalogue, [this](bool Enabled) { SetConnectControlsEnabled(Enabled); },
          [this] { JobEnded(); }) {
    InitWidgetResources();
    ui->setupUi(this);
    Ui::TConnectPage &Connect = ConnectPage().Controls();
    Ui::TFilePage &File = FilePage().Controls();
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(460, 246);
    ApplyWindowFont(this);
    EnableEnterOnButtons(this);
    // Enter after choosing a port connects (not the reload beside it).
    SetEnterActions(this, {{Connect.cbCOMPort, Connect.btnConnect}});
    InstallMinimizeAll(this);

    connect(Connect.btnConnect, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnConnectClick(); }); });
    connect(Connect.btnReload, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnReloadClick(); }); });
    connect(Connect.cbCOMPort, &QComboBox::activated, this,
            [this](int Index) { RunGuarded([this, Index] { cbCOMPortChange(Index); }); });
    connect(File.btnLoadFile, &QPushButton::clicked, this,
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

    // Watch for ports before listing them, so that nothing plugged in
    // between is missed.
    FHotPlug = new THotPlugWatcher(this, [this] { RunGuarded([this] { ReloadPortList(); }); });
    FillPortCombo(Connect.cbCOMPort);
    FRecordsPath = RecordsPath(FJobs.Catalogue());
}

TFWUpdateForm::~TFWUpdateForm() {
    FJobs.Wait();
    delete FHotPlug;  // unregisters; a reload still queued is dropped with it
    FHotPlug = nullptr;
    FLine.reset();  // closes the port
    ConnectPage().Controls().cbCOMPort->clear();
}

TConnectPage &TFWUpdateForm::ConnectPage() const {
    return *ui->Page1;
}
TFilePage &TFWUpdateForm::FilePage() const {
    return *ui->Page2;
}
TUploadPage &TFWUpdateForm::UploadPage() const {
    return *ui->Page3;
}
TResultPage &TFWUpdateForm::ResultPage() const {
    return *ui->Page4;
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
    ConnectPage().LineUpPortButtons();
    // Moving to a screen of another scale lines them up again.
    if (QWindow *Handle = windowHandle(); Handle && !bScreenWatched) {
        connect(Handle, &QWindow::screenChanged, this,
                [this] { ConnectPage().LineUpPortButtons(); });
        bScreenWatched = true;
    }
}

void TFWUpdateForm::btnConnectClick() {
    if (IsBusy()) return;
    const auto Port = SelectedPort(ConnectPage().Controls().cbCOMPort);
    if (!Port) {
        ShowErrorMsg(AppTitle(), Say(TJobText::PortNotSelected));
        return;
    }
    // A line of its own for every connect: the port chosen may be another
    // kind of line than the last one.
    FLine = std::make_unique<TBootLine>(Port->DeviceID, FJobs.Catalogue().FWUpdSettings());
    FJobs.RunJob(
        Qt::WaitCursor,
        [this, Line = FLine.get(), Name = Port->DeviceID] {
            const TBootSensor Sensor = IdentifyBootSensor(*Line);
            return [this, Sensor, Name] { ShowConnectResult(Sensor, Name); };
        },
        [this] { Disconnect(); });
}

void TFWUpdateForm::ShowConnectResult(const TBootSensor &Sensor, const std::string &Port) {
    if (Sensor.Found && !bClosePending) {
        ConnectPage().ShowSensor(SensorName(FJobs.Catalogue(), Sensor.SensorID),
                                 VersionText(FJobs.Catalogue(), Sensor.Version));
        bConnected = true;
        FSensor = Sensor;
        FSensorPort = Port;
    } else if (bClosePending) {
        // The port went away while the sensor was being looked for.
        Disconnect();
    } else {
        // No stale "connected" state survives a failed attempt.
        Disconnect();
        // A port that could not be used says why, after the usual words.
        ShowErrorMsg(AppTitle(), WithPortAdvice(Say(TJobText::NotFound), Port, Sensor.PortError));
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
    ConnectPage().SetPortControlsEnabled(Enabled);
    if (!bUpdating) {
        ui->btnNext->setEnabled(Enabled);
        ui->btnClose->setEnabled(Enabled);
    }
}

void TFWUpdateForm::btnReloadClick() {
    ReloadPortList();
}

void TFWUpdateForm::cbCOMPortChange(int Index) {
    const auto Port = PortComboItem(ConnectPage().Controls().cbCOMPort, Index);
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
    ConnectPage().ClearSensor();
}

void TFWUpdateForm::ReloadPortList() {
    if (ReloadPortCombo(ConnectPage().Controls().cbCOMPort) == TPortReload::Lost) Disconnect();
}

void TFWUpdateForm::btnLoadFileClick() {
    if (IsBusy()) return;
    const QString Name = PickFirmwareFile(this);
    if (Name.isEmpty()) return;
    RememberFirmwareFolder(Name);
    // Read once, whole: the update sends exactly the bytes checked here. A
    // file that exists but cannot be read raises before any label changes:
    // name, status and version keep those of the earlier file (which an
    // update would still send) and the default handler shows the error.
    TFirmwareImage Image = LoadFirmwareImage(QFile::encodeName(Name).toStdString());
    FFileName = Name;
    FilePage().ShowFileName(Name);
    if (Image.Ok()) {
        FImage = std::move(Image);
        FilePage().ShowLoaded(FileSensorName(FJobs.Catalogue(), FImage.Hdr.DeviceID),
                              VersionText(FJobs.Catalogue(), FImage.Hdr.Version));
        bLoaded = true;
    } else {
        FImage.Bytes.clear();
        FImage.Load = Image.Load;
        const TJobReason Check = Image.CheckReason();
        FilePage().ShowRefused(
            Image.Load == TCodLoad::TooBig ? Say(Image.Problem()) : Say(TJobText::InvalidCodFile),
            Check.Empty() ? QString() : Say(Check));
        bLoaded = false;
    }
}

void TFWUpdateForm::PreparePage3() {
    UploadPage().Prepare();
    ui->btnNext->setText(tr("&Update"));
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
                RecordRefusal("failed", JobText(Check.Refusal));
                return;
            }
            if (Check.Question != TVersionQuestion::None &&
                AskYesNo(AppTitle(), Say(QuestionText(Check.Question)) + QStringLiteral("\n\n") +
                                         tr("The sensor has %1; the file holds %2.")
                                             .arg(VersionText(FJobs.Catalogue(), Link().Version()),
                                                  VersionText(FJobs.Catalogue(),
                                                              FImage.Hdr.Version))) != mrYes) {
                RecordRefusal("skipped", "Not confirmed");
                return;
            }
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
            ui->btnNext->setText(tr("&Next >"));
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
    UploadPage().ShowUpdating();
    ui->btnClose->setEnabled(false);
    ui->btnPrev->setEnabled(false);
    ui->btnNext->setEnabled(false);

    if (!bConnected || !bLoaded) {
        ShowUploadResult({});
        return;
    }
    FUploadClock.start();
    // The record is begun here and finished and written on the worker (the
    // write waits for the file's lock and for the disk).
    TUpdateRecord Record = NewRecord();
    TRecordTimer Timer;
    Timer.Start(Record);
    FJobs.RunJob(
        Qt::BusyCursor,
        [this, Link = &Link(), Image = &FImage, Record, Timer, Path = FRecordsPath]() mutable {
            TRetryTally Retries;
            const TUploadResult Result =
                UploadFirmware(*Link, *Image, [&, this](int Sent, int Fail, int Progress) {
                    Retries.Report(Sent, Fail);
                    FJobs.Post([this, Sent, Fail, Progress] {
                        UploadPage().ShowProgress(Sent, Fail, Progress);
                    });
                });
            Timer.Stop(Record);
            FillRecordUpload(Record, Result, Retries.Retries());
            const std::string Why = Path.empty() ? std::string() : AppendUpdateRecord(Path, Record);
            return [this, Result, Why] {
                ShowUploadResult(Result);
                if (!Why.empty()) ShowRecordWarning(Why);
            };
        },
        [this] { ShowUploadResult({}); });
}

void TFWUpdateForm::ShowUploadResult(const TUploadResult &Result) {
    ui->btnPrev->setEnabled(true);
    ui->btnNext->setEnabled(true);
    ui->btnClose->setEnabled(true);
    bUpdating = false;
    bFinished = true;
    // After a failure, what ended it when more is known (the sensor reported
    // the image complete too early, the port failed).
    ResultPage().ShowResult(Result.Ok, Say(Result.Text()), Say(Result.Error),
                            Result.Ok ? UploadSummary(Result) : QString());
    ui->btnPrev->hide();
    ui->btnNext->hide();
    ui->btnUpdNextDevice->show();
    ShowPage(3);
    // The natural next step: Enter starts on the next sensor.
    ui->btnUpdNextDevice->setDefault(true);
    ui->btnUpdNextDevice->setFocus(Qt::OtherFocusReason);
}

TUpdateRecord TFWUpdateForm::NewRecord() const {
    TUpdateRecord Record;
    if (FRecordsPath.empty()) return Record;
    FillRecordOrigin(Record, "wizard", FSensorPort);
    FillRecordFile(Record, QFile::encodeName(FFileName).toStdString(), FImage, FJobs.Catalogue());
    FillRecordSensor(Record, FSensor, FJobs.Catalogue());
    return Record;
}

void TFWUpdateForm::RecordRefusal(const std::string &Result, const std::string &Reason) {
    if (FRecordsPath.empty()) return;
    TUpdateRecord Record = NewRecord();
    TRecordTimer Timer;
    Timer.Start(Record);
    Timer.Stop(Record);
    Record.Result = Result;
    Record.Reason = Reason;
    if (const std::string Why = AppendUpdateRecord(FRecordsPath, Record); !Why.empty())
        ShowRecordWarning(Why);
}

void TFWUpdateForm::ShowRecordWarning(const std::string &Why) {
    ShowErrorMsg(AppTitle(), tr("The record of this update could not be written:") +
                                 QStringLiteral("\n") + QString::fromStdString(Why) +
                                 QStringLiteral("\n\n") +
                                 tr("The update itself is not affected. Check the records file "
                                    "(RECORDS= in the settings file)."));
}

QString TFWUpdateForm::UploadSummary(const TUploadResult &Result) const {
    const TSettings &Catalogue = FJobs.Catalogue();
    const double Seconds = FUploadClock.isValid() ? FUploadClock.elapsed() / 1000.0 : 0.0;
    return tr("Sensor: %1\nVersion: %2 \u2192 %3\nFile: %4\n"
              "Packets: %5 sent, %6 repeated, in %7 s")
        .arg(SensorName(Catalogue, FLine->XComm().SensorID()),
             VersionText(Catalogue, FLine->XComm().Version()),
             VersionText(Catalogue, FImage.Hdr.Version), QFileInfo(FFileName).fileName())
        .arg(Result.Sent)
        .arg(Result.Fail)
        .arg(Seconds, 0, 'f', 1);
}

void TFWUpdateForm::btnUpdNextDeviceClick() {
    if (IsBusy()) return;
    CloseLine();
    bConnected = bUpdating = bFinished = false;
    ConnectPage().ClearSensor();
    ui->btnUpdNextDevice->hide();
    ui->btnPrev->show();
    ui->btnPrev->setEnabled(false);
    ui->btnNext->show();
    ui->btnNext->setText(tr("&Next >"));
    ShowPage(0);
    // Not Close: Enter, Enter must not end the wizard. The port is usually
    // still chosen, so Connect is the next step.
    ConnectPage().Controls().btnConnect->setFocus(Qt::OtherFocusReason);
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
