#pragma once
// The firmware update wizard: connect to a sensor in bootloader mode, load a
// firmware file, upload it, show the result, and on to the next sensor.
//
// Pages: 1 connect, 2 file, 3 upload, 4 result. Connecting and uploading
// run as jobs on a worker thread (jobs/FirmwareJob.h); the window shows
// their progress and results as they come back and keeps its event loop
// turning. While a job runs the link belongs to it: the window only marks
// a close that has to wait (a port that vanished) and does it afterwards.
//
// Each page is a class with a .ui of its own (ConnectPage.h, FilePage.h,
// UploadPage.h, ResultPage.h): it holds the page's controls and shows what
// it is given. The window holds the pages and the buttons below them, leads
// from page to page and runs the jobs.

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "jobs/FirmwareJob.h"
#include "jobs/UpdateRecord.h"
#include "widgets/JobWindow.h"

namespace Ui {
class FWUpdateForm;
}
class THotPlugWatcher;
class TSettings;
class TConnectPage;
class TFilePage;
class TUploadPage;
class TResultPage;

// Asks for a firmware file; returns its path or "" when cancelled.
using TFirmwareFilePicker = std::function<QString(QWidget *Parent)>;
// Replaces the open-file dialogue of every wizard (tests); an empty function
// restores the dialogue.
void SetFirmwareFilePicker(TFirmwareFilePicker Picker);
// Asks for a firmware file as the wizard does (the picker above, else the
// dialogue); "" when cancelled.
QString AskFirmwareFile(QWidget *Parent);

class TFWUpdateForm : public QDialog {
    Q_OBJECT
public:
    // Catalogue: the program's sensor catalogue (names, versions, update
    // limits), or nullptr while none exists; it outlives the window.
    explicit TFWUpdateForm(const TSettings *Catalogue, QWidget *Owner = nullptr);
    ~TFWUpdateForm() override;

    // State, for whoever drives the window.
    bool IsConnected() const { return bConnected; }
    bool IsLoaded() const { return bLoaded; }
    bool IsUpdating() const { return bUpdating; }
    bool IsFinished() const { return bFinished; }
    // A connect or an upload is running on the worker thread.
    bool IsBusy() const { return FJobs.Busy(); }
    int PageIndex() const;  // 0..3
    // The bootloader protocol on the line of the last connect (there is
    // none before the first).
    TXComm &Link() { return FLine->XComm(); }

    // What a hot-plug notification does: queue a reload of the port list.
    void PostReloadPorts();

signals:
    // A connect or an upload has ended and its result is shown.
    void JobFinished();

public slots:
    void btnConnectClick();
    void btnReloadClick();
    void cbCOMPortChange(int Index);
    void btnLoadFileClick();
    void btnNextClick();
    void btnPrevClick();
    void btnUpdNextDeviceClick();
    void btnCloseClick();
    // Escape, Close and the title bar end here; refused while uploading.
    void reject() override;
    void done(int Result) override;

protected:
    void showEvent(QShowEvent *Event) override;
    void closeEvent(QCloseEvent *Event) override;

private:
    void FormCloseQuery(bool &CanClose);
    void FormClose();
    void ReloadPortList();
    void Disconnect();
    void UpdateFirmware();
    void ShowUploadResult(const TUploadResult &Result);
    // What a successful update did: sensor, old and new version, file,
    // packets sent and repeated, time taken.
    QString UploadSummary(const TUploadResult &Result) const;
    void ShowConnectResult(const TBootSensor &Sensor, const std::string &Port);
    // The record of an attempt on the connected sensor: who, where, which
    // file and sensor; the result is the caller's.
    TUpdateRecord NewRecord() const;
    // Writes a refusal's record at once (nothing was sent).
    void RecordRefusal(const std::string &Result, const std::string &Reason);
    // A record that could not be written: a box after the result.
    void ShowRecordWarning(const std::string &Why);
    // After every job: the close that had to wait, then JobFinished.
    void JobEnded();
    void SetConnectControlsEnabled(bool Enabled);
    void PreparePage3();
    void ShowPage(int Index);
    void CloseLine();
    TConnectPage &ConnectPage() const;
    TFilePage &FilePage() const;
    TUploadPage &UploadPage() const;
    TResultPage &ResultPage() const;

    std::unique_ptr<Ui::FWUpdateForm> ui;
    // The line of the last connect, made anew for each; null before the first.
    std::unique_ptr<TBootLine> FLine;
    bool bConnected = false;
    bool bLoaded = false;
    bool bUpdating = false;
    bool bFinished = false;
    // The file last chosen in the dialogue, and its bytes as checked.
    QString FFileName;
    TFirmwareImage FImage;
    // The link's port vanished while a job ran: closed when it ends.
    bool bClosePending = false;
    // Runs connect and upload; locks the port controls meanwhile.
    TJobWindow FJobs;
    QElapsedTimer FUploadClock;  // from the start of the upload
    // Where the records go ("" for nowhere), and the sensor of the last
    // connect on its port, for them.
    std::string FRecordsPath;
    TBootSensor FSensor;
    std::string FSensorPort;
    bool bScreenWatched = false;
    THotPlugWatcher *FHotPlug = nullptr;
};
