#pragma once
// The production station as a window: a firmware file chosen once, then
// every sensor in bootloader mode that appears on a port is updated (the
// station job, jobs/StationJob.h, on worker threads), a row per port and the
// totals below. Stop (or closing the window) ends it in order: an upload
// under way ends at its next packet.

#include <QDialog>
#include <QString>
#include <map>
#include <memory>

#include "jobs/StationJob.h"
#include "widgets/JobRunner.h"

namespace Ui {
class StationForm;
}
class QTreeWidgetItem;
class THotPlugWatcher;
class TSettings;
struct TFirmwareImage;

class TStationForm : public QDialog {
    Q_OBJECT
public:
    // Catalogue: the program's settings (update limits, sensor names); it
    // outlives the window. Records go to RecordsPath (empty: none).
    explicit TStationForm(const TSettings *Catalogue, QWidget *Owner = nullptr,
                          std::string RecordsPath = DefaultRecordsPathForWindow());
    ~TStationForm() override;

    bool IsRunning() const { return FRunner.Busy(); }
    // Test seam: the ports the station watches (empty: the discovery's).
    void SetPortLister(std::function<std::vector<std::string>()> Lister) {
        FLister = std::move(Lister);
    }
    // Test seam: the time between two looks at a port.
    void SetInterval(int Ms) { FIntervalMs = Ms; }
    static std::string DefaultRecordsPathForWindow();

signals:
    // The station has ended and every worker is gone.
    void StationEnded();

public slots:
    void btnStationFileClick();
    void btnStationStartClick();
    void btnStationStopClick();
    void done(int Result) override;

private:
    void Show(const TStationReport &Report);
    void ShowTotals(const TStationTotals &Totals);
    void UpdateControls();
    QTreeWidgetItem *Row(const std::string &Port);

    std::unique_ptr<Ui::StationForm> ui;
    std::unique_ptr<TSettings> FNoCatalogue;  // defaults, while the program has none
    const TSettings *FCatalogue;
    std::string FRecordsPath;
    QString FFile;
    std::unique_ptr<TFirmwareImage> FImage;  // the image of the running station
    std::unique_ptr<TStationJob> FJob;
    std::function<std::vector<std::string>()> FLister;
    int FIntervalMs = 2000;
    std::map<std::string, QTreeWidgetItem *> FRows;
    QString FRecordProblem;
    THotPlugWatcher *FHotPlug = nullptr;
    TJobRunner FRunner;  // last: its destructor waits for the job
};
