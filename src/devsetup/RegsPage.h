#pragma once
// The setup window's third page: one sensor's registers read and written as
// a typed value. The page sets itself up for the data type chosen, as the
// codecs' table of the types says (RegTypeInfo in modbus/RegisterCodecs.h);
// reading and writing are jobs the window runs (jobs/RegisterJob.h).

#include <QWidget>
#include <memory>
#include <optional>

#include "jobs/RegisterJob.h"

namespace Ui {
class TRegsPage;
}

class TRegsPage : public QWidget {
    Q_OBJECT
public:
    explicit TRegsPage(QWidget *Parent = nullptr);
    ~TRegsPage() override;

    Ui::TRegsPage &Controls() { return *ui; }

    int Address() const;
    // The start register; none when its box is empty.
    std::optional<qlonglong> StartRegister() const;
    // The block of the chosen type, order and count at Start.
    TRegBlock Block(uint16_t Start) const;
    // Whether the chosen type can be written at all ("bit" cannot).
    bool WriteAllowed() const;
    // What a write of the value shown would send; a string is stripped in
    // its edit first. Raises ERegConvertError for a number the type cannot
    // hold.
    TRegWritePlan PlanWrite();
    // No value shown.
    void ClearValue();
    // Shows what a read of Block gave, unless the page has been set up for
    // another block since (then the value would stand under inputs it was
    // not read for).
    void ShowRead(int Addr, const TRegBlock &Block, const TRegReadResult &Result);
    // While a read or write runs, every input it depends on is locked (and
    // Write stays disabled whatever type is chosen); afterwards each is as
    // the chosen type sets it up.
    void SetBusy(bool Busy);

private:
    void DataTypeChanged();
    void ApplyEnabled();

    bool FBusy = false;

    std::unique_ptr<Ui::TRegsPage> ui;
};
