#pragma once
// The wizard's first page: the port list with its reload and Connect
// buttons, and the ID and version of the sensor found. Connecting is a job
// the wizard runs (jobs/FirmwareJob.h).

#include <QString>
#include <QWidget>
#include <memory>

namespace Ui {
class TConnectPage;
}

class TConnectPage : public QWidget {
    Q_OBJECT
public:
    explicit TConnectPage(QWidget *Parent = nullptr);
    ~TConnectPage() override;

    Ui::TConnectPage &Controls() { return *ui; }

    // The sensor found, by catalogue name and version text.
    void ShowSensor(const QString &Name, const QString &Version);
    // No sensor: "N/A" for both.
    void ClearSensor();
    // The port list, reload and Connect: enabled or locked while a job runs.
    void SetPortControlsEnabled(bool Enabled);
    // Reload and Connect as high as the port list beside them, whose height
    // follows the style and the screen's scale; call once shown.
    void LineUpPortButtons();

private:
    std::unique_ptr<Ui::TConnectPage> ui;
};
