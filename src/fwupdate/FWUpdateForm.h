#pragma once
// The firmware update wizard: connect to a sensor in bootloader mode, load a
// firmware file, upload it, show the result, and on to the next sensor.
//
// Pages: 1 connect, 2 file, 3 upload, 4 result. Everything runs on the
// user-interface thread; during an upload the window serves its event queue
// only from the progress report (UpdateProgress).

#include "bootloader/CodFile.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

namespace Ui { class FWUpdateForm; }
class TXComm;
class THotPlugWatcher;

// Asks for a firmware file; returns its path or "" when cancelled.
using TFirmwareFilePicker = std::function<QString(QWidget *Parent)>;
// Replaces the open-file dialogue of every wizard (tests); an empty function
// restores the dialogue.
void SetFirmwareFilePicker(TFirmwareFilePicker Picker);

class TFWUpdateForm : public QDialog {
    Q_OBJECT
public:
    explicit TFWUpdateForm(QWidget *Owner = nullptr);
    ~TFWUpdateForm() override;

    // State, for whoever drives the window.
    bool IsConnected() const { return bConnected; }
    bool IsLoaded() const { return bLoaded; }
    bool IsUpdating() const { return bUpdating; }
    bool IsFinished() const { return bFinished; }
    int PageIndex() const;  // 0..3
    TXComm &Link() { return *XComm; }

    // What a hot-plug notification does: queue a reload of the port list.
    void PostReloadPorts();

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
    void UpdateProgress(int PacketsSent, int PacketsFail, int Progress);
    void PreparePage3();
    void ShowFileName(const QString &Path);
    void ShowPage(int Index);
    void LineUpPortButtons();

    std::unique_ptr<Ui::FWUpdateForm> ui;
    std::unique_ptr<TXComm> XComm;
    bool bConnected = false;
    bool bLoaded = false;
    bool bUpdating = false;
    bool bFinished = false;
    TCODFileData Hdr;
    // The file last chosen in the dialogue, and its bytes as checked.
    QString FFileName;
    TByteArray FImage;
    // The link's port vanished while an upload ran: closed when it ends.
    bool bClosePending = false;
    bool bScreenWatched = false;
    THotPlugWatcher *FHotPlug = nullptr;
};
