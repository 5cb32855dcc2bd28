#pragma once
// The sensor setup window: shared connection settings and four pages
// (scan for sensors, comm setup, register check/update, watch).
//
// Every action is a job (jobs/ScanJob.h, jobs/RegisterJob.h) that runs on a
// worker thread with its own Modbus master and a copy of the settings it
// needs; the window keeps no master. While a job runs, the controls that
// could start a second one are disabled, the window stays open and on its
// page, and a port list reload waits until the job has ended.

#include <QDialog>
#include <QSemaphore>
#include <QSize>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "jobs/FindJob.h"
#include "jobs/ScanJob.h"
#include "jobs/WatchJob.h"
#include "modbus/ModbusRTU.h"
#include "widgets/JobWindow.h"

namespace Ui {
class TDevSetupForm;
}
class THotPlugWatcher;
class TSettings;
class TScanPage;
class TCommPage;
class TRegsPage;
class TWatchPage;

class TDevSetupForm : public QDialog {
    Q_OBJECT
public:
    // Catalogue: the program's sensor catalogue (names shown by a scan), or
    // nullptr while none exists; it outlives the window.
    explicit TDevSetupForm(const TSettings *Catalogue, QWidget *Owner = nullptr);
    ~TDevSetupForm() override;

    // Port name of the chosen entry of the port list; call only when one is
    // chosen.
    std::string GetSelectedPort() const;
    // Line settings from the shared controls.
    TPortParams GetPortParams() const;

    // Rebuilds the port list, keeping the chosen port when it is still
    // there. While a job runs the rebuild waits until it has ended.
    void ReloadPortList();

    // A scan, a read or a write is running on the worker thread.
    bool IsBusy() const { return FJobs.Busy(); }
    // A watch is running (IsBusy too).
    bool IsWatching() const { return bWatching; }

    // The time-out of each probe of the scan page's line search (the
    // search's own default until set).
    void SetProbeTimeout(int Ms) { FProbeTimeoutMs = Ms; }

signals:
    // A job has ended and its result is shown.
    void JobFinished();

protected:
    void showEvent(QShowEvent *Event) override;
    void closeEvent(QCloseEvent *Event) override;
    void done(int Result) override;

private:
    void FormCreate();
    void FormShow();
    void FormAfterMonitorDpiChanged();
    bool FormCloseQuery() const;
    bool PageControl1Changing() const;
    void PageControl1Change(int Index);
    void btnCloseClick();
    void btnReloadClick();
    void WMReloadPorts();

    void btnScanClick();
    void btnStopScanClick();
    void SetScanControlsEnabled(bool Enabled);
    void SetActionsEnabled(bool Enabled);
    void ShowScanResult(const TScanResult &Result, const std::string &Port);
    // The scan page's line search: every usual bit rate and parity with
    // each address of the range.
    void RunLineSearch(TFindOptions Options);
    void ShowFindResult(const TFindResult &Result, const std::string &Port);
    // The connection settings show Setting.
    void UseLineSetting(const TLineSetting &Setting);
    // After every job: the reload that had to wait, then JobFinished.
    void JobEnded();

    void btnCommReadClick();
    void btnCommWriteClick();
    // A scan row picked: a sensor the settings file describes fills the
    // comm setup page (others leave it alone).
    void LVScanPicked(int Address, int SensorID);
    // Read with no register given: the sensor at the address is
    // identified and, when the settings file describes it, its settings read.
    void CommReadByKind();

    void btnUpdReadClick();
    void btnUpdWriteClick();

    // The watch page: Start reads the page's rows round after round until
    // Stop, a port error or the window's close.
    void btnWatchStartClick();
    void btnWatchStopClick();
    void btnWatchAddClick();
    void SetWatchControlsEnabled(bool Enabled);
    void ShowWatchResult(const TWatchResult &Result, const std::string &Port, bool LogFailed,
                         const QString &LogPath);
    // The window's size for the page shown: the watch page's table and
    // chart need room, the others keep the window's own size.
    void FitSizeToPage();

    TScanPage &ScanPage() const;
    TCommPage &CommPage() const;
    TRegsPage &RegsPage() const;
    TWatchPage &WatchPage() const;

    bool PortChosen() const;
    // Shows "COM port not selected" and returns false when no port is chosen.
    bool CheckPortChosen() const;
    std::optional<qlonglong> CheckUpdStart() const;

    std::unique_ptr<Ui::TDevSetupForm> ui;
    THotPlugWatcher *FHotPlug = nullptr;
    std::atomic<bool> bStopScan{false};
    int FProbeTimeoutMs = CFindProbeTimeoutMs;
    // The scan goes on to the next address once the window has shown the
    // last one and served its event queue (Stop is seen in between).
    QSemaphore FScanPace;
    bool bReloadPending = false;  // a reload arrived during a job
    std::atomic<bool> bStopWatch{false};
    bool bWatching = false;
    bool bCloseAfterJob = false;  // closed while watching: once the watch has ended
    std::string FWatchPort;       // the port a watch reads
    bool bWatchPortGone = false;  // a hot-plug event took it away
    QSize FWatchSize;             // the watch page's size, as the user left it
    // Runs every action; locks the actions' controls meanwhile.
    TJobWindow FJobs;
    int FPage = 0;  // page shown, restored when a change is refused
    bool FScreenWatched = false;
};
