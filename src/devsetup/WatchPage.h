#pragma once
// The setup window's "Watch" page: a list of registers read round after
// round (jobs/WatchList.h), each row with its last value, the time of its
// last good read, min, max, mean, its error count and the reason of its
// last failed read; a strip chart of the rows; the list's file, the
// chart's picture and the choice of a CSV log. The watch itself is a job
// the window runs (jobs/WatchJob.h) on the shared connection controls.

#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "jobs/WatchJob.h"
#include "jobs/WatchList.h"

namespace Ui {
class TWatchPage;
}
class TStripChart;

// The files the page asks for.
enum class TWatchFile { OpenList, SaveList, CsvLog, Png };
// Asks for a file of a kind; returns its path or "" when cancelled.
using TWatchFilePicker = std::function<QString(QWidget *Parent, TWatchFile Kind)>;
// Replaces the file dialogues of every watch page (tests); an empty
// function restores the dialogues.
void SetWatchFilePicker(TWatchFilePicker Picker);

class TWatchPage : public QWidget {
    Q_OBJECT
public:
    explicit TWatchPage(QWidget *Parent = nullptr);
    ~TWatchPage() override;

    Ui::TWatchPage &Controls() { return *ui; }
    TStripChart &Chart();

    // The rows as the table holds them, checked as a list file is (the
    // error names the row and the field).
    TWatchListRead Rows() const;
    // The table holds Rows (their results cleared).
    void SetRows(const std::vector<TWatchRow> &Rows);
    // A row added at the end, its label made unique when needed.
    void AddRow(TWatchRow Row);
    int RowCount() const;

    // 0 (as fast as the line allows) or 100 ms .. 1 h.
    int IntervalMs() const;
    // The CSV log the next watch writes ("" for none).
    QString LogPath() const { return FLogPath; }
    void SetLogPath(const QString &Path);

    // A watch begins at Start with Rows: results, statistics and chart
    // start afresh.
    void Begin(const std::vector<TWatchRow> &Rows, std::chrono::system_clock::time_point Start);
    // One round: each row's value or failure, its statistics, the chart.
    void ShowPoll(const TWatchPoll &Poll);
    // What a row has shown since Begin.
    const TWatchStats &Stats(int Row) const { return FStats.at(static_cast<size_t>(Row)); }
    // While a watch runs, the list and its choices are locked; Stop is the
    // only way on.
    void SetWatching(bool Watching);
    // Locked by another job of the window (nothing may start).
    void SetLocked(bool Locked);

private:
    void LoadList();
    void SaveList();
    void ChooseLog();
    void ExportPng();
    void RemoveRow();
    void TypeEdited(int Row);
    void ShowPaused();
    void ApplyEnabled();
    void ClearResults(int Row);

    std::unique_ptr<Ui::TWatchPage> ui;
    QString FLogPath;
    bool FWatching = false, FLocked = false;
    std::vector<TWatchRow> FRows;  // of the watch running or last run
    std::vector<TWatchStats> FStats;
    std::chrono::system_clock::time_point FStart;
};
