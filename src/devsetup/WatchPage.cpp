#include "devsetup/WatchPage.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "modbus/RegisterCodecs.h"
#include "ui_WatchPage.h"
#include "widgets/JobWindow.h"
#include "widgets/MsgBox.h"
#include "widgets/StripChart.h"

namespace {

// The table's columns: what the watch shows first, then the row's
// settings (edited in place; the label too).
enum TWatchColumn {
    colLabel,
    colValue,
    colMin,
    colMax,
    colMean,
    colLastRead,
    colErrors,
    colReason,
    colAddress,
    colRegister,
    colType,
    colOrder,
    colCount,
    colScale,
    colOffset,
    colUnit,
    colCount_
};
bool IsSetting(int Column) {
    return Column == colLabel || Column >= colAddress;
}

// The chart's spans, as the list offers them.
constexpr qint64 CSpansMs[] = {60 * 1000, 10 * 60 * 1000, 3600 * 1000, 24 * 3600 * 1000};
constexpr int CDefaultSpan = 1;

TWatchFilePicker &FilePicker() {
    static TWatchFilePicker P;
    return P;
}

QString PickWatchFile(QWidget *Parent, TWatchFile Kind) {
    if (FilePicker()) {
        auto P = FilePicker();
        return P(Parent, Kind);
    }
    const bool Save = Kind != TWatchFile::OpenList;
    QString Title, Filter, Suffix;
    switch (Kind) {
        case TWatchFile::OpenList:
            Title = TWatchPage::tr("Load watch list");
            break;
        case TWatchFile::SaveList:
            Title = TWatchPage::tr("Save watch list");
            break;
        case TWatchFile::CsvLog:
            Title = TWatchPage::tr("Log to CSV file");
            break;
        case TWatchFile::Png:
            Title = TWatchPage::tr("Export chart as PNG");
            break;
    }
    if (Kind == TWatchFile::CsvLog) {
        Filter = TWatchPage::tr("CSV files") + QStringLiteral(" (*.csv)");
        Suffix = QStringLiteral("csv");
    } else if (Kind == TWatchFile::Png) {
        Filter = TWatchPage::tr("PNG pictures") + QStringLiteral(" (*.png)");
        Suffix = QStringLiteral("png");
    } else {
        Filter = TWatchPage::tr("Watch lists") + QStringLiteral(" (*.json)");
        Suffix = QStringLiteral("json");
    }
    QFileDialog Dialog(Parent, Title);
    Dialog.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    Dialog.setFileMode(Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    Dialog.setDefaultSuffix(Suffix);
    Dialog.setNameFilter(Filter);
    if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return {};
    return Dialog.selectedFiles().constFirst();
}

QString Text(const std::string &S) {
    return QString::fromStdString(S);
}

// The type and word order cells are edited with a list of their names.
class TChoiceDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget *createEditor(QWidget *Parent, const QStyleOptionViewItem &,
                          const QModelIndex &Index) const override {
        auto *Box = new QComboBox(Parent);
        if (Index.column() == colType)
            for (int I = 0; I < RegDataTypeCount; ++I)
                Box->addItem(QString::fromLatin1(RegDataTypeText(static_cast<TRegDataType>(I))));
        else
            for (int I = 0; I < WordOrderCount; ++I)
                Box->addItem(QString::fromLatin1(WordOrderText(static_cast<TWordOrder>(I))));
        return Box;
    }
    void setEditorData(QWidget *Editor, const QModelIndex &Index) const override {
        auto *Box = static_cast<QComboBox *>(Editor);
        const int At = Box->findText(Index.data().toString(), Qt::MatchFixedString);
        Box->setCurrentIndex(At < 0 ? 0 : At);
    }
    void setModelData(QWidget *Editor, QAbstractItemModel *Model,
                      const QModelIndex &Index) const override {
        Model->setData(Index, static_cast<QComboBox *>(Editor)->currentText());
    }
};

// A cell as the list file would hold it: a whole number or a number when
// it reads as one, else its text (which the list's checks then refuse with
// the field's name).
nlohmann::json WholeCell(const QString &S) {
    bool Ok = false;
    const qlonglong V = S.trimmed().toLongLong(&Ok);
    if (Ok) return V;
    return S.toStdString();
}
nlohmann::json NumberCell(const QString &S) {
    bool Ok = false;
    const double V = S.trimmed().toDouble(&Ok);
    if (Ok && std::isfinite(V)) return V;
    return S.toStdString();
}

QString NumberText(double V) {
    return QString::number(V, 'g', 10);
}

}  // namespace

void SetWatchFilePicker(TWatchFilePicker Picker) {
    FilePicker() = std::move(Picker);
}

TWatchPage::TWatchPage(QWidget *Parent) : QWidget(Parent), ui(std::make_unique<Ui::TWatchPage>()) {
    ui->setupUi(this);
    QTableWidget *T = ui->LVWatch;
    T->setColumnCount(colCount_);
    T->setHorizontalHeaderLabels({tr("Label"), tr("Value"), tr("Min"), tr("Max"), tr("Mean"),
                                  tr("Last read"), tr("Errors"), tr("Last error"), tr("Address"),
                                  tr("Register"), tr("Type"), tr("Order"), tr("Count"), tr("Scale"),
                                  tr("Offset"), tr("Unit")});
    T->verticalHeader()->setDefaultSectionSize(T->fontMetrics().height() + 6);
    T->verticalHeader()->hide();
    // The corner button (select all) means nothing for one row at a time;
    // it still says what it belongs to.
    T->setCornerButtonEnabled(false);
    for (auto *Corner : T->findChildren<QAbstractButton *>()) {
        Corner->setAccessibleName(tr("Watch list"));
        Corner->setToolTip(tr("Watch list"));
    }
    T->horizontalHeader()->setSectionsClickable(false);
    T->horizontalHeader()->setStretchLastSection(true);
    for (int C : {colAddress, colRegister, colType, colOrder, colCount, colScale, colOffset,
                  colUnit, colErrors})
        T->setColumnWidth(C, 60);
    T->setColumnWidth(colLastRead, 76);
    for (int C : {colMin, colMax, colMean}) T->setColumnWidth(C, 70);
    T->setColumnWidth(colReason, 160);
    auto *Choices = new TChoiceDelegate(T);
    T->setItemDelegateForColumn(colType, Choices);
    T->setItemDelegateForColumn(colOrder, Choices);
    T->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                       QAbstractItemView::AnyKeyPressed);
    connect(T, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *Item) {
        if (Item->column() == colType) TypeEdited(Item->row());
    });
    connect(T, &QTableWidget::itemSelectionChanged, this, [this] { ApplyEnabled(); });

    ui->cbWatchSpan->setCurrentIndex(CDefaultSpan);
    Chart().SetSpanMs(CSpansMs[CDefaultSpan]);
    connect(ui->cbWatchSpan, &QComboBox::currentIndexChanged, this, [this](int Index) {
        if (Index >= 0 && Index < static_cast<int>(std::size(CSpansMs)))
            Chart().SetSpanMs(CSpansMs[Index]);
    });
    connect(ui->btnWatchPause, &QPushButton::clicked, this, [this] {
        Chart().SetPaused(!Chart().Paused());
        ShowPaused();
    });
    connect(&Chart(), &TStripChart::PausedChanged, this, [this] { ShowPaused(); });
    ui->splWatch->setStretchFactor(0, 1);
    ui->splWatch->setStretchFactor(1, 1);

    connect(ui->btnWatchRemove, &QPushButton::clicked, this, [this] { RemoveRow(); });
    connect(ui->btnWatchLoad, &QPushButton::clicked, this, [this] { LoadList(); });
    connect(ui->btnWatchSave, &QPushButton::clicked, this, [this] { SaveList(); });
    connect(ui->btnWatchCsv, &QPushButton::clicked, this, [this] { ChooseLog(); });
    connect(ui->btnWatchPng, &QPushButton::clicked, this, [this] { ExportPng(); });
    // Between 0 and 100 ms there is nothing: the box shows what is used.
    connect(ui->edWatchInterval, &QSpinBox::editingFinished, this, [this] {
        const int V = ui->edWatchInterval->value();
        if (V > 0 && V < CMinWatchIntervalMs) ui->edWatchInterval->setValue(CMinWatchIntervalMs);
    });
    ui->edWatchInterval->setMaximum(CMaxWatchIntervalMs);
    SetLogPath({});
    ApplyEnabled();
}

TWatchPage::~TWatchPage() = default;

TStripChart &TWatchPage::Chart() {
    return *ui->chartWatch;
}

int TWatchPage::RowCount() const {
    return ui->LVWatch->rowCount();
}

int TWatchPage::IntervalMs() const {
    const int V = ui->edWatchInterval->value();
    return V <= 0 ? 0 : std::clamp(V, CMinWatchIntervalMs, CMaxWatchIntervalMs);
}

TWatchListRead TWatchPage::Rows() const {
    const QTableWidget *T = ui->LVWatch;
    auto Cell = [T](int Row, int Col) {
        const QTableWidgetItem *Item = T->item(Row, Col);
        return Item ? Item->text() : QString();
    };
    nlohmann::json List = nlohmann::json::array();
    for (int R = 0; R < T->rowCount(); ++R) {
        nlohmann::json J{{"address", WholeCell(Cell(R, colAddress))},
                         {"register", WholeCell(Cell(R, colRegister))},
                         {"type", Cell(R, colType).toStdString()},
                         {"order", Cell(R, colOrder).toStdString()}};
        // A type of a fixed size has its own count.
        if (!Cell(R, colCount).trimmed().isEmpty()) J["count"] = WholeCell(Cell(R, colCount));
        for (int I = 0; I < RegDataTypeCount; ++I) {
            const TRegTypeInfo &Info = RegTypeInfo(static_cast<TRegDataType>(I));
            if (Info.Registers > 0 &&
                Cell(R, colType).compare(QString::fromLatin1(Info.Text), Qt::CaseInsensitive) == 0)
                J.erase("count");
        }
        if (!Cell(R, colLabel).trimmed().isEmpty()) J["label"] = Cell(R, colLabel).toStdString();
        if (!Cell(R, colScale).trimmed().isEmpty()) J["scale"] = NumberCell(Cell(R, colScale));
        if (!Cell(R, colOffset).trimmed().isEmpty()) J["offset"] = NumberCell(Cell(R, colOffset));
        J["unit"] = Cell(R, colUnit).toStdString();
        List.push_back(std::move(J));
    }
    return ParseWatchList(nlohmann::json{{"watch", List}}.dump());
}

void TWatchPage::SetRows(const std::vector<TWatchRow> &Rows) {
    ui->LVWatch->setRowCount(0);
    for (const TWatchRow &R : Rows) AddRow(R);
}

void TWatchPage::AddRow(TWatchRow Row) {
    QTableWidget *T = ui->LVWatch;
    // Labels name the log's columns: one of its own.
    std::set<QString> Taken;
    for (int R = 0; R < T->rowCount(); ++R)
        if (const QTableWidgetItem *Item = T->item(R, colLabel)) Taken.insert(Item->text());
    if (Row.Label.empty())
        Row.Label = std::to_string(Row.Address) + ":" + std::to_string(Row.Register);
    const std::string Base = Row.Label;
    for (int N = 2; Taken.count(Text(Row.Label)); ++N)
        Row.Label = Base + " (" + std::to_string(N) + ")";

    const QSignalBlocker Block(T);
    const int R = T->rowCount();
    T->insertRow(R);
    const std::pair<int, QString> Settings[] = {
        {colLabel, Text(Row.Label)},
        {colAddress, QString::number(Row.Address)},
        {colRegister, QString::number(Row.Register)},
        {colType, QString::fromLatin1(RegDataTypeText(Row.Type))},
        {colOrder, QString::fromLatin1(WordOrderText(Row.Order))},
        {colCount, QString::number(Row.Count)},
        {colScale, NumberText(Row.Scale)},
        {colOffset, NumberText(Row.Offset)},
        {colUnit, Text(Row.Unit)}};
    for (const auto &[C, Cell] : Settings) T->setItem(R, C, new QTableWidgetItem(Cell));
    ClearResults(R);
    ApplyEnabled();
}

void TWatchPage::ClearResults(int Row) {
    QTableWidget *T = ui->LVWatch;
    const QSignalBlocker Block(T);
    for (int C = 0; C < colCount_; ++C) {
        if (IsSetting(C)) continue;
        auto *Item = new QTableWidgetItem;
        Item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        if (C == colErrors) Item->setText(QStringLiteral("0"));
        T->setItem(Row, C, Item);
    }
}

void TWatchPage::TypeEdited(int Row) {
    // A type of a fixed size takes its own count; a bit row starts at one
    // input, a string keeps what it had.
    QTableWidget *T = ui->LVWatch;
    const QTableWidgetItem *Type = T->item(Row, colType);
    if (!Type) return;
    for (int I = 0; I < RegDataTypeCount; ++I) {
        const TRegTypeInfo &Info = RegTypeInfo(static_cast<TRegDataType>(I));
        if (Type->text().compare(QString::fromLatin1(Info.Text), Qt::CaseInsensitive) != 0)
            continue;
        const QSignalBlocker Block(T);
        if (Info.CountOnChoice > 0)
            T->item(Row, colCount)->setText(QString::number(Info.CountOnChoice));
        if (!Info.WordOrder)
            T->item(Row, colOrder)->setText(QString::fromLatin1(WordOrderText(woMSWF)));
    }
}

void TWatchPage::RemoveRow() {
    QTableWidget *T = ui->LVWatch;
    const int R = T->currentRow();
    if (R < 0 || FWatching) return;
    T->removeRow(R);
    ApplyEnabled();
}

void TWatchPage::Begin(const std::vector<TWatchRow> &Rows,
                       std::chrono::system_clock::time_point Start) {
    FRows = Rows;
    FStats.assign(Rows.size(), {});
    FStart = Start;
    for (int R = 0; R < ui->LVWatch->rowCount(); ++R) ClearResults(R);
    Chart().ClearSeries();
    for (const TWatchRow &R : Rows) Chart().AddSeries(Text(R.Label), Text(R.Unit));
}

void TWatchPage::ShowPoll(const TWatchPoll &Poll) {
    QTableWidget *T = ui->LVWatch;
    const QSignalBlocker Block(T);
    const auto At = FStart + std::chrono::milliseconds(Poll.AtMs);
    const qint64 AtMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(At.time_since_epoch()).count();
    for (size_t I = 0; I < Poll.Readings.size() && I < FRows.size(); ++I) {
        const int R = static_cast<int>(I);
        if (R >= T->rowCount()) break;
        const TWatchRow &Row = FRows[I];
        const TWatchReading &Reading = Poll.Readings[I];
        TWatchStats &S = FStats[I];
        S.Add(Reading, Poll.AtMs);
        const QString Unit = Row.Unit.empty() ? QString() : QLatin1Char(' ') + Text(Row.Unit);
        if (Reading.Ok) {
            T->item(R, colValue)->setText(Text(Reading.Text) + Unit);
            for (int C : {colLabel, colValue}) T->item(R, C)->setData(Qt::ForegroundRole, {});
            T->item(R, colLastRead)
                ->setText(
                    QDateTime::fromMSecsSinceEpoch(AtMs).toString(QStringLiteral("HH:mm:ss")));
            if (Reading.Value) Chart().Append(R, AtMs, *Reading.Value);
        } else {
            // The row is marked with why, the last good value kept.
            for (int C : {colLabel, colValue})
                T->item(R, C)->setData(Qt::ForegroundRole, QColor(Qt::red));
            T->item(R, colReason)->setText(Say(Reading.Why));
            T->item(R, colReason)->setToolTip(Say(Reading.Why));
            Chart().Append(R, AtMs, std::nan(""));
        }
        if (S.Min) {
            T->item(R, colMin)->setText(Text(FormatScaled(Row, *S.Min, *S.Min)) + Unit);
            T->item(R, colMax)->setText(Text(FormatScaled(Row, *S.Max, *S.Max)) + Unit);
            T->item(R, colMean)->setText(QString::number(*S.Mean(), 'g', 6) + Unit);
        }
        T->item(R, colErrors)->setText(QString::number(S.Errors));
    }
}

void TWatchPage::SetWatching(bool Watching) {
    FWatching = Watching;
    ApplyEnabled();
}

void TWatchPage::SetLocked(bool Locked) {
    FLocked = Locked;
    ApplyEnabled();
}

void TWatchPage::ApplyEnabled() {
    const bool Free = !FWatching && !FLocked;
    for (QWidget *W :
         std::initializer_list<QWidget *>{ui->btnWatchAdd, ui->btnWatchLoad, ui->btnWatchSave,
                                          ui->edWatchInterval, ui->btnWatchCsv, ui->btnWatchStart})
        W->setEnabled(Free);
    ui->btnWatchRemove->setEnabled(Free && ui->LVWatch->currentRow() >= 0);
    ui->btnWatchStop->setEnabled(FWatching);
    ui->LVWatch->setEditTriggers(Free ? QAbstractItemView::DoubleClicked |
                                            QAbstractItemView::EditKeyPressed |
                                            QAbstractItemView::AnyKeyPressed
                                      : QAbstractItemView::NoEditTriggers);
}

void TWatchPage::ShowPaused() {
    ui->btnWatchPause->setText(Chart().Paused() ? tr("Res&ume") : tr("Pa&use"));
}

void TWatchPage::SetLogPath(const QString &Path) {
    FLogPath = Path;
    ui->lblWatchCsv->setText(Path.isEmpty() ? tr("No log")
                                            : tr("Log: %1").arg(QFileInfo(Path).fileName()));
    ui->lblWatchCsv->setToolTip(Path);
}

void TWatchPage::ChooseLog() {
    // Cancelled: the watch runs without a log.
    SetLogPath(PickWatchFile(this, TWatchFile::CsvLog));
}

void TWatchPage::LoadList() {
    const QString Path = PickWatchFile(this, TWatchFile::OpenList);
    if (Path.isEmpty()) return;
    const TWatchListRead Read = ReadWatchListFile(Path.toStdString());
    if (!Read.Ok()) {
        ShowErrorMsg(AppTitle(),
                     tr("The watch list cannot be loaded:") + QLatin1Char('\n') + Text(Read.Error));
        return;
    }
    SetRows(Read.Rows);
}

void TWatchPage::SaveList() {
    const TWatchListRead List = Rows();
    if (!List.Ok()) {
        ShowErrorMsg(AppTitle(),
                     tr("The watch list cannot be used:") + QLatin1Char('\n') + Text(List.Error));
        return;
    }
    const QString Path = PickWatchFile(this, TWatchFile::SaveList);
    if (Path.isEmpty()) return;
    std::ofstream Out(Path.toStdString(), std::ios::out | std::ios::trunc);
    Out << WatchListText(List.Rows);
    Out.close();
    if (!Out) ShowErrorMsg(AppTitle(), tr("The watch list cannot be saved to %1.").arg(Path));
}

void TWatchPage::ExportPng() {
    const QString Path = PickWatchFile(this, TWatchFile::Png);
    if (Path.isEmpty()) return;
    if (!Chart().SavePng(Path))
        ShowErrorMsg(AppTitle(), tr("The picture cannot be saved to %1.").arg(Path));
}
