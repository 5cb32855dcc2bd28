#pragma once
// The main window: two tiles open the firmware update wizard and the sensor
// setup window, the bottom bar holds About and Exit. It owns the one
// Settings object and answers the single-instance guard.

#include <QWidget>
#include <memory>

namespace Ui {
class MainForm;
}
class QDialog;

class TMainForm : public QWidget {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *Parent = nullptr);
    ~TMainForm() override;

    // The tool window or About box shown at the moment, nullptr when none.
    QDialog *OpenToolWindow() const { return FToolWindow; }

public slots:
    void btnFWUpdateClick();
    void btnSetupClick();
    void btnStationClick();
    void btnAboutClick();
    void btnHistoryClick();
    void btnExitClick();

protected:
    void closeEvent(QCloseEvent *Event) override;

private:
    void FormCloseQuery(bool &CanClose);
    void InstanceNotify();
    void ShowTool(std::unique_ptr<QDialog> Window);

    std::unique_ptr<Ui::MainForm> ui;
    QDialog *FToolWindow = nullptr;
};

// "Veldra-Update, v<version>", from the executable's version information.
QString MainCaption();

class TSettings;
// The settings file as the About box names it: its path, "none" without
// one; for a file that could not be read the path with the reason
// (translated), and Problem set.
QString SettingsSourceForWindow(const TSettings &S, bool *Problem = nullptr);
