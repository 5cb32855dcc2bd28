#include "devsetup/ScanPage.h"

#include <QHeaderView>
#include <QStyle>
#include <QTreeWidgetItem>

#include "ui_ScanPage.h"
#include "widgets/WindowHelpers.h"

TScanPage::TScanPage(QWidget *Parent) : QWidget(Parent), ui(std::make_unique<Ui::TScanPage>()) {
    ui->setupUi(this);
    ui->btnStopScan->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    ui->btnStopScan->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // The progress bar shows only while a scan runs (empty, it looks like a
    // text field); its place stays so that nothing moves.
    QSizePolicy BarPolicy = ui->pbScanProgress->sizePolicy();
    BarPolicy.setRetainSizeWhenHidden(true);
    ui->pbScanProgress->setSizePolicy(BarPolicy);
    ui->pbScanProgress->hide();
    QHeaderView *Header = ui->LVScan->header();
    Header->setSectionsClickable(false);
    Header->setSectionsMovable(false);
    Header->setStretchLastSection(false);
    Header->setSectionResizeMode(0, QHeaderView::Fixed);
    Header->setSectionResizeMode(1, QHeaderView::Stretch);
    Header->setSectionResizeMode(2, QHeaderView::Fixed);
    Header->resizeSection(0, 70);
    Header->resizeSection(2, 85);
    auto Picked = [this](QTreeWidgetItem *Row) {
        if (!Row) return;
        emit SensorPicked(Row->data(0, Qt::UserRole).toInt(),
                          Row->data(0, Qt::UserRole + 1).toInt());
    };
    connect(ui->LVScan, &QTreeWidget::currentItemChanged, this,
            [Picked](QTreeWidgetItem *Row) { Picked(Row); });
    // A second click on the same row picks it again (after the address was
    // changed by hand).
    connect(ui->LVScan, &QTreeWidget::itemClicked, this,
            [Picked](QTreeWidgetItem *Row) { Picked(Row); });
}

TScanPage::~TScanPage() = default;

void TScanPage::Clear(bool Searching) {
    ui->LVScan->clear();
    // The settings a device answered at: a fourth column for a search only.
    ui->LVScan->setColumnCount(Searching ? 4 : 3);
    if (Searching) {
        ui->LVScan->headerItem()->setText(3, tr("Line settings"));
        QHeaderView *Header = ui->LVScan->header();
        Header->setSectionResizeMode(3, QHeaderView::Fixed);
        Header->resizeSection(3, 85);
    }
    ShowCounts(0, 0);
}

void TScanPage::ShowCounts(int Scanned, int Found) {
    ui->lblFound->setText(tr("Scanned: %1, found: %2").arg(Scanned).arg(Found));
}

void TScanPage::ShowRunning(bool Running) {
    ui->btnStopScan->setEnabled(Running);
    ui->pbScanProgress->setValue(0);
    ui->pbScanProgress->setVisible(Running);
}

QTreeWidgetItem *TScanPage::AddRow(const TScanDevice &Device) {
    auto *Row = new QTreeWidgetItem(ui->LVScan);
    Row->setText(0, QString::number(Device.Address));
    Row->setText(1, CatalogueText(Device.DeviceCode));
    Row->setText(2, CatalogueText(Device.Version));
    Row->setData(0, Qt::UserRole, Device.Address);
    Row->setData(0, Qt::UserRole + 1, Device.Id.Identified ? Device.Id.SensorID : -1);
    return Row;
}

void TScanPage::ShowStep(const TScanStep &Step, const std::optional<TScanDevice> &Device) {
    if (Device) AddRow(*Device);
    ShowCounts(Step.Scanned, Step.Found);
    ui->pbScanProgress->setValue(Step.Percent);
}

void TScanPage::ShowFindStep(const TFindStep &Step, const std::optional<TFindDevice> &Device) {
    if (Device)
        AddRow(Device->Device)
            ->setText(3, QString::fromStdString(LineSettingText(Device->Setting)));
    ShowCounts(static_cast<int>(Step.Probed), Step.Found);
    ui->pbScanProgress->setValue(Step.Percent);
}
