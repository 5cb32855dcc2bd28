#include "widgets/ErrorBox.h"

#include <cxxabi.h>

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "widgets/MsgBox.h"

QString ErrorMessageText(const QString &Msg) {
    if (!Msg.isEmpty() && Msg.back().unicode() > u'.') return Msg + QLatin1Char('.');
    return Msg;
}

static void ShowDefaultErrorBox(const QString &Text) {
    if (HasMsgPresenter()) {
        PresentMsg(TMsgKind::Error, AppTitle(), Text);
        return;
    }
    QMessageBox Box(QMessageBox::Critical, AppTitle(), Text, QMessageBox::Ok);
    Box.setDefaultButton(QMessageBox::Ok);
    Box.button(QMessageBox::Ok)->setText(QCoreApplication::translate("MsgBox", "OK"));
    ExecMsgBox(Box);
}

void ShowException(const std::exception &E) {
    ShowDefaultErrorBox(ErrorMessageText(QString::fromLocal8Bit(E.what())));
}

// The type of the exception being handled, readable ("int", "Foo::Bar"),
// or empty when the runtime cannot tell.
static QString CurrentExceptionType() {
    const std::type_info *Type = abi::__cxa_current_exception_type();
    if (!Type) return {};
    int Status = -1;
    const std::unique_ptr<char, void (*)(void *)> Name(
        abi::__cxa_demangle(Type->name(), nullptr, nullptr, &Status), std::free);
    return QString::fromUtf8(Status == 0 && Name ? Name.get() : Type->name());
}

void ShowUnknownException() {
    const QString Type = CurrentExceptionType();
    ShowDefaultErrorBox(ErrorMessageText(
        Type.isEmpty()
            ? QCoreApplication::translate("MsgBox", "Unknown error")
            : QCoreApplication::translate("MsgBox", "Unknown error (exception of type %1)")
                  .arg(Type)));
}
