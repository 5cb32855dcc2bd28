#pragma once
// The wizard's third page: the instruction, the upload's progress bar and
// percentage, the packets sent and failed, and the "Validating..." panel
// shown once every packet is out. The upload itself is a job the wizard
// runs (jobs/FirmwareJob.h).

#include <QWidget>
#include <memory>

namespace Ui {
class TUploadPage;
}

class TUploadPage : public QWidget {
    Q_OBJECT
public:
    explicit TUploadPage(QWidget *Parent = nullptr);
    ~TUploadPage() override;

    Ui::TUploadPage &Controls() { return *ui; }

    // Ready for an upload: the "Update" instruction, nothing sent, no
    // progress, no "Validating...".
    void Prepare();
    // The upload has started.
    void ShowUpdating();
    // Packets sent and failed so far and the percentage done; at 100 the
    // "Validating..." panel in the middle of the area.
    void ShowProgress(int PacketsSent, int PacketsFail, int Progress);

private:
    std::unique_ptr<Ui::TUploadPage> ui;
};
