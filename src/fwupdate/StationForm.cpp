#include "fwupdate/StationForm.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidgetItem>

#include "fwupdate/FWUpdateForm.h"
#include "jobs/FirmwareJob.h"
#include "jobs/UpdateRecord.h"
#include "settings/Settings.h"
#include "ui_StationForm.h"
#include "widgets/HotPlugWatcher.h"
#include "widgets/JobWindow.h"
#include "widgets/MsgBox.h"
#include "widgets/WindowHelpers.h"

namespace {

enum TColumn { ColPort, ColState, ColSensor, ColVersion, ColProgress, ColResult };

QString StateText(TStationEvent Event) {
    switch (Event) {
        case TStationEvent::Waiting:
            return TStationForm::tr("waiting");
        case TStationEvent::Identifying:
            return TStationForm::tr("identifying");
        case TStationEvent::Uploading:
            return TStationForm::tr("uploading");
        case TStationEvent::Done:
            return TStationForm::tr("done");
        case TStationEvent::Failed:
            return TStationForm::tr("failed");
        case TStationEvent::Skipped:
            return TStationForm::tr("skipped");
        case TStationEvent::Stopped:
            return TStationForm::tr("stopped");
        case TStationEvent::PortProblem:
            return TStationForm::tr("port problem");
        case TStationEvent::Gone:
            return TStationForm::tr("gone");
    }
    return {};
}

}  // namespace

std::string TStationForm::DefaultRecordsPathForWindow() {
    return DefaultRecordsPath();
}

TStationForm::TStationForm(const TSettings *Catalogue, QWidget *Owner, std::string RecordsPath)
    : QDialog(Owner),
      ui(std::make_unique<Ui::StationForm>()),
      FNoCatalogue(Catalogue ? nullptr : std::make_unique<TSettings>(std::string())),
      FCatalogue(Catalogue ? Catalogue : FNoCatalogue.get()),
      FRecordsPath(std::move(RecordsPath)),
      FRunner(this) {
    InitWidgetResources();
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    ApplyWindowFont(this);
    setWindowIcon(AppIcon());
    ui->LVStation->header()->setStretchLastSection(true);
    ui->LVStation->setColumnWidth(ColPort, 140);
    ui->LVStation->setColumnWidth(ColState, 100);
    ui->LVStation->setColumnWidth(ColSensor, 150);
    ui->LVStation->setColumnWidth(ColVersion, 90);
    ui->LVStation->setColumnWidth(ColProgress, 70);
    connect(ui->btnStationFile, &QPushButton::clicked, this, &TStationForm::btnStationFileClick);
    connect(ui->btnStationStart, &QPushButton::clicked, this, &TStationForm::btnStationStartClick);
    connect(ui->btnStationStop, &QPushButton::clicked, this, &TStationForm::btnStationStopClick);
    connect(ui->btnStationClose, &QPushButton::clicked, this, &TStationForm::reject);
    // A port that comes or goes is looked at at once, not at the next round.
    FHotPlug = new THotPlugWatcher(this, [this] {
        if (FJob) FJob->PortsChanged();
    });
    ShowTotals({});
    UpdateControls();
}

TStationForm::~TStationForm() {
    if (FJob) FJob->Stop();
    FRunner.Wait();
}

void TStationForm::UpdateControls() {
    const bool Running = IsRunning();
    ui->btnStationFile->setEnabled(!Running);
    ui->chkStationOlder->setEnabled(!Running);
    ui->btnStationStart->setEnabled(!Running && !FFile.isEmpty());
    ui->btnStationStop->setEnabled(Running && FJob);
}

void TStationForm::btnStationFileClick() {
    const QString File = AskFirmwareFile(this);
    if (File.isEmpty()) return;
    // Checked at once: a file that cannot be uploaded is never started.
    const TFirmwareImage Image = CheckFirmwareImage(File.toStdString());
    if (!Image.Ok()) {
        QString Msg = Say(Image.Problem());
        if (const TJobReason Why = Image.CheckReason(); !Why.Empty()) Msg += "\n" + Say(Why);
        ShowErrorMsg(tr("Production station"), Msg);
        return;
    }
    FFile = File;
    ui->edStationFile->setText(File + QStringLiteral("  (") +
                               CatalogueText(FCatalogue->SensorIDToName(Image.Hdr.DeviceID)) +
                               QStringLiteral(", ") +
                               CatalogueText(FCatalogue->SensorVersionToString(
                                   Image.Hdr.Version.Hi, Image.Hdr.Version.Lo)) +
                               QStringLiteral(")"));
    UpdateControls();
}

void TStationForm::btnStationStartClick() {
    if (IsRunning() || FFile.isEmpty()) return;
    auto Image = std::make_unique<TFirmwareImage>();
    try {
        *Image = LoadFirmwareImage(FFile.toStdString());
    } catch (const std::exception &E) {
        ShowErrorMsg(tr("Production station"), QString::fromStdString(E.what()));
        return;
    }
    if (!Image->Ok()) {
        ShowErrorMsg(tr("Production station"), Say(Image->Problem()));
        return;
    }
    FImage = std::move(Image);
    TStationOptions Options;
    Options.YesOlder = ui->chkStationOlder->isChecked();
    Options.IntervalMs = FIntervalMs;
    Options.FileName = FFile.toStdString();
    Options.RecordsPath = FRecordsPath;
    TStationSeams Seams;
    Seams.ListPorts = FLister;
    FRecordProblem.clear();
    FJob = std::make_unique<TStationJob>(
        *FImage, *FCatalogue, Options,
        [this](const TStationReport &R) { FRunner.Post([this, R] { Show(R); }); }, Seams);
    TStationJob *Job = FJob.get();
    FRunner.Start(
        [Job] {
            Job->Run();
            return TJobRunner::TResultStep{};
        },
        [this](const TJobRunner::TResultStep &, std::exception_ptr Error) {
            FJob.reset();
            FImage.reset();
            UpdateControls();
            if (Error) {
                try {
                    std::rethrow_exception(Error);
                } catch (const std::exception &E) {
                    ShowErrorMsg(tr("Production station"), QString::fromStdString(E.what()));
                } catch (...) {
                }
            }
            emit StationEnded();
        });
    UpdateControls();
}

void TStationForm::btnStationStopClick() {
    if (FJob) FJob->Stop();
    ui->btnStationStop->setEnabled(false);
}

void TStationForm::done(int Result) {
    // Closing ends the station in order first: the uploads under way stop
    // at their next packet, every port is closed.
    if (FJob) FJob->Stop();
    FRunner.Wait();
    FJob.reset();
    FImage.reset();
    QDialog::done(Result);
}

QTreeWidgetItem *TStationForm::Row(const std::string &Port) {
    auto It = FRows.find(Port);
    if (It != FRows.end()) return It->second;
    auto *Item = new QTreeWidgetItem(ui->LVStation);
    Item->setText(ColPort, QString::fromStdString(Port));
    ui->LVStation->sortItems(ColPort, Qt::AscendingOrder);
    FRows[Port] = Item;
    return Item;
}

void TStationForm::Show(const TStationReport &R) {
    QTreeWidgetItem *Item = Row(R.Port);
    Item->setText(ColState, StateText(R.Event));
    if (R.Sensor && R.Event == TStationEvent::Identifying) {
        Item->setText(ColSensor, CatalogueText(FCatalogue->SensorIDToName(R.Sensor->SensorID)));
        Item->setText(ColVersion, CatalogueText(FCatalogue->SensorVersionToString(
                                      R.Sensor->Version.Hi, R.Sensor->Version.Lo)));
        Item->setText(ColProgress, {});
        Item->setText(ColResult, {});
    }
    if (R.Event == TStationEvent::Uploading)
        Item->setText(ColProgress, QStringLiteral("%1 %").arg(R.Percent));
    switch (R.Event) {
        case TStationEvent::Done:
            Item->setText(ColProgress, QStringLiteral("%1 %").arg(R.Percent));
            Item->setText(ColResult, Say(TJobText::UpdateOk));
            break;
        case TStationEvent::Failed:
        case TStationEvent::Skipped:
        case TStationEvent::Stopped:
        case TStationEvent::PortProblem:
            Item->setText(ColResult, Say(R.Reason));
            Item->setToolTip(ColResult, Say(R.Reason));
            break;
        default:
            break;
    }
    if (!R.RecordError.empty())
        FRecordProblem = tr("The update record could not be written: %1")
                             .arg(QString::fromStdString(R.RecordError));
    ShowTotals(R.Totals);
}

void TStationForm::ShowTotals(const TStationTotals &T) {
    QString Text =
        tr("Updated: %1, failed: %2, skipped: %3").arg(T.Ok).arg(T.Failed).arg(T.Skipped);
    if (T.Stopped) Text += tr(", stopped: %1").arg(T.Stopped);
    if (!FRecordProblem.isEmpty()) Text += QStringLiteral("\n") + FRecordProblem;
    ui->lblStationTotals->setText(Text);
}
