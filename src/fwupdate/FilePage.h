#pragma once
// The wizard's second page: the Load file button, the chosen file's name,
// and the sensor ID, version and status read from it. Loading and checking
// the file are the wizard's (jobs/FirmwareJob.h).

#include <QString>
#include <QWidget>
#include <memory>

namespace Ui {
class TFilePage;
}

class TFilePage : public QWidget {
    Q_OBJECT
public:
    explicit TFilePage(QWidget *Parent = nullptr);
    ~TFilePage() override;

    Ui::TFilePage &Controls() { return *ui; }

    // The file's name beside the button, cut in the middle when long; the
    // whole path as the tooltip.
    void ShowFileName(const QString &Path);
    // A file that can be uploaded: its sensor name and version, and
    // "Loaded" in green.
    void ShowLoaded(const QString &Name, const QString &Version);
    // A file that cannot: "N/A" for name and version, and why in red;
    // Detail (which check failed) on the line under it, or none.
    void ShowRefused(const QString &Reason, const QString &Detail = QString());

private:
    std::unique_ptr<Ui::TFilePage> ui;
};
