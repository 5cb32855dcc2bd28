#pragma once
// The setup window's first page: an address range, the list of the sensors
// found and the scan's counts, progress and Stop button. The scan itself
// is a job the window runs (jobs/ScanJob.h).

#include <QWidget>
#include <memory>
#include <optional>

#include "jobs/FindJob.h"
#include "jobs/ScanJob.h"

class QTreeWidgetItem;

namespace Ui {
class TScanPage;
}

class TScanPage : public QWidget {
    Q_OBJECT
public:
    explicit TScanPage(QWidget *Parent = nullptr);
    ~TScanPage() override;

    Ui::TScanPage &Controls() { return *ui; }

    // An empty list and "Scanned: 0, found: 0"; the line settings column
    // shows for a line search only.
    void Clear(bool Searching = false);
    void ShowCounts(int Scanned, int Found);
    // Stop enabled and the progress bar shown, or both back at rest.
    void ShowRunning(bool Running);
    // One address done: its row when a sensor answered, the counts and
    // the progress.
    void ShowStep(const TScanStep &Step, const std::optional<TScanDevice> &Device);

    // One probe of a line search done: its row when a device answered
    // (with the line settings it answered at), the probes and the devices
    // so far, the progress over the whole plan.
    void ShowFindStep(const TFindStep &Step, const std::optional<TFindDevice> &Device);
signals:
    // The user picked a row (click, or the keyboard moving onto it): the
    // device's address and, for one of the maker's sensors, its device
    // code (-1 otherwise).
    void SensorPicked(int Address, int SensorID);

private:
    // A row for Device: address, device code, version; picking it names
    // the device.
    QTreeWidgetItem *AddRow(const TScanDevice &Device);

    std::unique_ptr<Ui::TScanPage> ui;
};
