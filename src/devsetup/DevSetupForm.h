#pragma once

#include <optional>
// The sensor setup window: shared connection settings and three pages
// (scan for sensors, comm setup, register check/update).
//
// Every action creates its own Modbus master for the address it needs and
// frees it before returning; the window keeps none. While a scan runs the
// Scan button is disabled, and that alone keeps the window open and on its
// page.

#include <QDialog>
#include <memory>
#include <string>

#include "modbus/ModbusRTU.h"

namespace Ui {
class TDevSetupForm;
}
class THotPlugWatcher;

class TDevSetupForm : public QDialog {
    Q_OBJECT
public:
    explicit TDevSetupForm(QWidget *Owner = nullptr);
    ~TDevSetupForm() override;

    // Port name of the chosen entry of the port list; call only when one is
    // chosen.
    std::string GetSelectedPort() const;
    // Line settings from the shared controls.
    TPortParams GetPortParams() const;

    // Rebuilds the port list, keeping the chosen port when it is still
    // there. During a scan the rebuild waits until the scan has ended.
    void ReloadPortList();

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
    void ShowScanCounts(int Scanned, int Found);
    void EndScan();

    void btnCommReadClick();
    void btnCommWriteClick();

    void cbUpdDataTypeChange();
    void btnUpdReadClick();
    void btnUpdWriteClick();

    bool PortChosen() const;
    // Shows "COM port not selected" and returns false when no port is chosen.
    bool CheckPortChosen() const;
    std::optional<qlonglong> CheckUpdStart() const;

    std::unique_ptr<Ui::TDevSetupForm> ui;
    THotPlugWatcher *FHotPlug = nullptr;
    bool bStopScan = false;
    bool bReloadPending = false;  // a reload arrived during a scan
    int FPage = 0;                // page shown, restored when a change is refused
    bool FScreenWatched = false;
};
