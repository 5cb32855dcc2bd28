#include "devsetup/DevSetupForm.h"

TDevSetupForm::TDevSetupForm(QWidget *Owner) : QDialog(Owner) {
    setWindowTitle(QStringLiteral("Setup"));
}

TDevSetupForm::~TDevSetupForm() = default;
