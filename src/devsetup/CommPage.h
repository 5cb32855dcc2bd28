#pragma once
// The setup window's second page: the sensor's address and the register
// and value of its baud rate, framing and address settings. Reading and
// writing them are jobs the window runs (jobs/RegisterJob.h).

#include <QWidget>
#include <memory>

#include "jobs/RegisterJob.h"

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

private:
    std::unique_ptr<Ui::TCommPage> ui;
};
