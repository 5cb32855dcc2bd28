#pragma once
// The History window: the update records (jobs/UpdateRecord.h) as a
// sortable table, newest first, with the filters of veldra-cli history
// (since, sensor ID, port, result), the CSV export of history --csv and a
// refresh. It only reads the records file.

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jobs/UpdateRecord.h"

namespace Ui {
class HistoryForm;
}
class TSettings;

// Asks where to save the CSV; returns the path or "" when cancelled.
using THistoryFilePicker = std::function<QString(QWidget *Parent)>;
// Replaces the save dialogue of every History window (tests); an empty
// function restores the dialogue.
void SetHistoryFilePicker(THistoryFilePicker Picker);

class THistoryForm : public QDialog {
    Q_OBJECT
public:
    // Reads the records where Catalogue's settings put them (RecordsPath);
    // RecordsFile, when given, instead.
    explicit THistoryForm(const TSettings *Catalogue, QWidget *Owner = nullptr,
                          const std::string &RecordsFile = {});
    ~THistoryForm() override;

    // The records the table shows at the moment, in file order.
    const std::vector<TUpdateRecord> &Shown() const { return FShown; }

public slots:
    void btnHistoryRefreshClick();
    void btnHistoryExportClick();

private:
    void ApplyFilter();
    void FillPortList();

    std::unique_ptr<Ui::HistoryForm> ui;
    std::string FPath;  // "" when recording is off
    TRecordsRead FRead;
    std::vector<TUpdateRecord> FShown;
};
