#include "widgets/ErrorBox.h"

#include "widgets/MsgBox.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

QString ErrorMessageText(const QString &Msg)
{
    if (!Msg.isEmpty() && Msg.back().unicode() > u'.')
        return Msg + QLatin1Char('.');
    return Msg;
}

static void ShowDefaultErrorBox(const QString &Text)
{
    if (HasMsgPresenter()) {
        PresentMsg(TMsgKind::Error, AppTitle(), Text);
        return;
    }
    QMessageBox Box(QMessageBox::Critical, AppTitle(), Text, QMessageBox::Ok);
    Box.setDefaultButton(QMessageBox::Ok);
    Box.button(QMessageBox::Ok)->setText(QCoreApplication::translate("MsgBox", "OK"));
    ExecMsgBox(Box);
}

void ShowException(const std::exception &E)
{
    ShowDefaultErrorBox(ErrorMessageText(QString::fromLocal8Bit(E.what())));
}

void ShowUnknownException()
{
    ShowDefaultErrorBox(ErrorMessageText(QCoreApplication::translate("MsgBox", "Unknown error")));
}
