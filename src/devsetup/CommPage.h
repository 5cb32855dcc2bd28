#pragma once
// The setup window's second page: the sensor's address and the register
// and value of its baud rate, framing and address settings. Reading and
// writing them are jobs the window runs (jobs/RegisterJob.h).

#include <QWidget>
#include <array>
#include <memory>
#include <optional>

#include "jobs/RegisterJob.h"
#include "settings/Settings.h"

class QComboBox;
class QLabel;

namespace Ui {
class TCommPage;
}

class TCommPage : public QWidget {
    Q_OBJECT
public:
    explicit TCommPage(QWidget *Parent = nullptr);
    ~TCommPage() override;

    Ui::TCommPage &Controls() { return *ui; }

    int Address() const;
    // The three rows: each register (none when its box is empty) and, for
    // a write, each value.
    TCommSettings Settings(bool WithValues) const;
    // No row names a register / no row has both a register and a value.
    bool NothingToRead() const;
    bool NothingToWrite() const;
    void ClearValues();
    // The values a read brought.
    void ShowRead(const TCommResult &Result);

    // A sensor of a kind the settings file describes, at Address: the
    // address and the kind's register numbers go into the boxes (a register
    // the file does not give leaves its box as it is), the old values are
    // emptied, and each row whose register is the kind's shows its value
    // with its meaning in a list of the known values. Name: the sensor as
    // the catalogue names it.
    void ShowKind(int Address, const TSensorComm &Comm, const QString &Name);
    // Back to plain numbers: the lists and the sensor line hidden, the
    // boxes as they are. Changing the address does this too.
    void ForgetKind();
    // The kind shown, nullptr without one.
    const TSensorComm *Kind() const { return FKind ? &*FKind : nullptr; }
    // Locks or frees the value lists with the page's other inputs.
    void SetListsEnabled(bool Enabled);

private:
    // A row's list shown (or hidden) and set to its value box.
    void UpdateList(size_t Row);

    std::unique_ptr<Ui::TCommPage> ui;
    std::optional<TSensorComm> FKind;
    int FKindAddress = 0;
    // Makes room for the lists while any shows: narrower number boxes,
    // row names over two lines where they need it.
    void FitColumns();

    std::array<QComboBox *, CommSettingCount> FLists{};
    QLabel *FKindLabel = nullptr;
};
