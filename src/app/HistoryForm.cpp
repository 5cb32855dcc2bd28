#include "app/HistoryForm.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QSaveFile>
#include <QTreeWidgetItem>

#include "settings/Settings.h"
#include "ui_HistoryForm.h"
#include "widgets/ErrorBox.h"
#include "widgets/MsgBox.h"
#include "widgets/WindowHelpers.h"

namespace {

THistoryFilePicker &FilePicker() {
    static THistoryFilePicker P;
    return P;
}

QString PickCsvFile(QWidget *Parent) {
    if (FilePicker()) {
        auto P = FilePicker();
        return P(Parent);
    }
    QFileDialog Dialog(Parent, THistoryForm::tr("Export update history"));
    Dialog.setAcceptMode(QFileDialog::AcceptSave);
    Dialog.setDefaultSuffix(QStringLiteral("csv"));
    Dialog.setNameFilter(THistoryForm::tr("CSV files") + QStringLiteral(" (*.csv)"));
    Dialog.selectFile(QStringLiteral("update-history.csv"));
    if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return {};
    return Dialog.selectedFiles().constFirst();
}

QString Text(const std::string &S) {
    return QString::fromUtf8(S.data(), static_cast<qsizetype>(S.size()));
}

// The result word in the user's language; the key stays in the item's data.
QString ResultText(const std::string &Result) {
    if (Result == "ok") return THistoryForm::tr("ok");
    if (Result == "failed") return THistoryForm::tr("failed");
    if (Result == "skipped") return THistoryForm::tr("skipped");
    if (Result == "stopped") return THistoryForm::tr("stopped");
    return Text(Result);
}

// "2026-12-11T08:39:08.123Z" as "2026-12-11 08:39:08" (sorts as the time).
QString TimeText(const std::string &Utc) {
    QString T = Text(Utc.substr(0, 19));
    if (T.size() > 10 && T[10] == QLatin1Char('T')) T[10] = QLatin1Char(' ');
    return T;
}

const char *const kResults[] = {"ok", "failed", "skipped", "stopped"};

}  // namespace

void SetHistoryFilePicker(THistoryFilePicker Picker) {
    FilePicker() = std::move(Picker);
}

THistoryForm::THistoryForm(const TSettings *Catalogue, QWidget *Owner,
                           const std::string &RecordsFile)
    : QDialog(Owner), ui(std::make_unique<Ui::HistoryForm>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    ApplyWindowFont(this);
    EnableEnterOnButtons(this);
    if (!RecordsFile.empty())
        FPath = RecordsFile;
    else if (Catalogue)
        FPath = RecordsPath(*Catalogue);
    else
        FPath = DefaultRecordsPath();

    ui->cbHistoryResult->addItem(tr("All results"), QString());
    for (const char *R : kResults)
        ui->cbHistoryResult->addItem(ResultText(R), QString::fromLatin1(R));
    ui->LVHistory->sortByColumn(0, Qt::DescendingOrder);

    connect(ui->btnHistoryRefresh, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnHistoryRefreshClick(); }); });
    connect(ui->btnHistoryExport, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnHistoryExportClick(); }); });
    connect(ui->btnHistoryClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->edHistorySince, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    connect(ui->edHistorySensor, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    connect(ui->cbHistoryPort, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(ui->cbHistoryResult, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    btnHistoryRefreshClick();
}

THistoryForm::~THistoryForm() = default;

void THistoryForm::btnHistoryRefreshClick() {
    FRead = FPath.empty() ? TRecordsRead{} : ReadUpdateRecords(FPath);
    FillPortList();
    ApplyFilter();
}

void THistoryForm::FillPortList() {
    const QString Chosen = ui->cbHistoryPort->currentData().toString();
    QStringList Ports;
    for (const TUpdateRecord &R : FRead.Records)
        if (!Ports.contains(Text(R.Port))) Ports << Text(R.Port);
    Ports.sort();
    const QSignalBlocker Quiet(ui->cbHistoryPort);
    ui->cbHistoryPort->clear();
    ui->cbHistoryPort->addItem(tr("All ports"), QString());
    for (const QString &P : Ports) ui->cbHistoryPort->addItem(P, P);
    const int Again = ui->cbHistoryPort->findData(Chosen);
    ui->cbHistoryPort->setCurrentIndex(Again < 0 ? 0 : Again);
}

void THistoryForm::ApplyFilter() {
    TRecordFilter Filter;
    QStringList Problems;
    const QString Since = ui->edHistorySince->text().trimmed();
    if (!Since.isEmpty()) {
        if (const auto T = ParseRecordTime(Since.toStdString()))
            Filter.Since = *T;
        else
            Problems << tr("The date is not understood: use YYYY-MM-DD or YYYY-MM-DDTHH:MM.");
    }
    const QString Sensor = ui->edHistorySensor->text().trimmed();
    if (!Sensor.isEmpty()) {
        bool Ok = false;
        const uint Id = Sensor.toUInt(&Ok, 0);
        if (Ok && Id <= 0xFFFF)
            Filter.SensorID = static_cast<uint16_t>(Id);
        else
            Problems << tr("The sensor ID is not a number from 0 to 65535.");
    }
    Filter.Port = ui->cbHistoryPort->currentData().toString().toStdString();
    Filter.Result = ui->cbHistoryResult->currentData().toString().toStdString();

    FShown.clear();
    for (const TUpdateRecord &R : FRead.Records)
        if (Filter.Matches(R)) FShown.push_back(R);

    QTreeWidget *List = ui->LVHistory;
    List->setSortingEnabled(false);
    List->clear();
    QList<QTreeWidgetItem *> Items;
    for (const TUpdateRecord &R : FShown) {
        QString SensorText = R.SensorID ? QString::number(*R.SensorID) : QStringLiteral("-");
        if (!R.SensorName.empty()) SensorText += QLatin1Char(' ') + Text(R.SensorName);
        auto *Item = new QTreeWidgetItem(
            QStringList{TimeText(R.StartUtc), Text(R.Port), SensorText, Text(R.VersionBefore),
                        Text(R.VersionInFile), QFileInfo(Text(R.FileName)).fileName(),
                        ResultText(R.Result), Text(R.Reason), Text(R.User), Text(R.Source)});
        // Equal seconds still sort by the whole time.
        Item->setData(0, Qt::UserRole, Text(R.StartUtc));
        Item->setToolTip(5, Text(R.FileName) + QStringLiteral("\nSHA-256 ") + Text(R.FileSha256));
        Items << Item;
    }
    List->addTopLevelItems(Items);
    List->setSortingEnabled(true);
    for (int C = 0; C < List->columnCount() - 1; ++C) List->resizeColumnToContents(C);

    QStringList Status;
    if (FPath.empty())
        Status << tr("Recording is off in the settings file (RECORDS=off).");
    else if (!FRead.Error.empty())
        Status << tr("The records file %1 cannot be read: %2")
                      .arg(QFile::decodeName(FPath.c_str()), Text(FRead.Error));
    else if (FRead.Missing)
        Status << tr("No records yet (%1).").arg(QFile::decodeName(FPath.c_str()));
    else if (FShown.empty())
        Status << tr("No records match.");
    else
        Status << tr("Records shown: %1 of %2 in %3.")
                      .arg(FShown.size())
                      .arg(FRead.Records.size())
                      .arg(QFile::decodeName(FPath.c_str()));
    if (FRead.Damaged > 0) Status << tr("Damaged lines skipped: %1.").arg(FRead.Damaged);
    if (FRead.Truncated) Status << tr("Only the newest records are read.");
    Status << Problems;
    ui->lblHistoryStatus->setText(Status.join(QLatin1Char(' ')));
    ui->btnHistoryExport->setEnabled(!FShown.empty());
}

void THistoryForm::btnHistoryExportClick() {
    const QString Name = PickCsvFile(this);
    if (Name.isEmpty()) return;
    const std::string Csv = RecordsCsv(FShown);
    QSaveFile File(Name);
    if (!File.open(QIODevice::WriteOnly) ||
        File.write(Csv.data(), static_cast<qint64>(Csv.size())) !=
            static_cast<qint64>(Csv.size()) ||
        !File.commit()) {
        ShowErrorMsg(AppTitle(),
                     tr("The history could not be saved to %1: %2").arg(Name, File.errorString()));
        return;
    }
}
