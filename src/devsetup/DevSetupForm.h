#pragma once
// The sensor setup window: shared connection settings and three pages
// (scan for sensors, comm setup, register check/update).

#include <QDialog>

class TDevSetupForm : public QDialog {
    Q_OBJECT
public:
    explicit TDevSetupForm(QWidget *Owner = nullptr);
    ~TDevSetupForm() override;
};
