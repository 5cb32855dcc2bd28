#include "shell/MsgBox.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

TMsgPresenter &Presenter()
{
    static TMsgPresenter P;
    return P;
}

}  // namespace

QString AppTitle()
{
    return QStringLiteral("Veldra-Update");
}

void SetMsgPresenter(TMsgPresenter P)
{
    Presenter() = std::move(P);
}

bool HasMsgPresenter()
{
    return static_cast<bool>(Presenter());
}

std::unique_ptr<QMessageBox> BuildMsgBox(TMsgKind Kind, const QString &Title, const QString &Msg)
{
    auto Box = std::make_unique<QMessageBox>();
    // Messages may carry outside text (file names, device data): plain text.
    Box->setTextFormat(Qt::PlainText);
    Box->setText(Title);
    Box->setInformativeText(Msg);
    if (auto *Info = Box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        Info->setTextFormat(Qt::PlainText);
    switch (Kind) {
    case TMsgKind::Error:
        Box->setWindowTitle(QStringLiteral("Error"));
        Box->setIcon(QMessageBox::Critical);
        Box->setStandardButtons(QMessageBox::Ok);
        Box->setDefaultButton(QMessageBox::Ok);
        break;
    case TMsgKind::Info:
        Box->setWindowTitle(QStringLiteral("Information"));
        Box->setIcon(QMessageBox::Information);
        Box->setStandardButtons(QMessageBox::Ok);
        Box->setDefaultButton(QMessageBox::Ok);
        break;
    case TMsgKind::YesNo:
        Box->setWindowTitle(QStringLiteral("Confirm"));
        Box->setIcon(QMessageBox::Warning);
        Box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        Box->setDefaultButton(QMessageBox::Yes);
        Box->button(QMessageBox::Yes)->setText(QStringLiteral("&Yes"));
        Box->button(QMessageBox::No)->setText(QStringLiteral("&No"));
        break;
    }
    return Box;
}

int MsgResultFromButton(int StandardButton)
{
    switch (StandardButton) {
    case QMessageBox::Yes:
        return kMsgYes;
    case QMessageBox::No:
        return kMsgNo;
    case QMessageBox::Ok:
        return kMsgOk;
    default:
        // Closing a Yes/No box by Escape or the title bar is not a Yes.
        return 2;
    }
}

int PresentMsg(TMsgKind Kind, const QString &Title, const QString &Msg)
{
    if (Presenter()) {
        // Copy first: the presenter may replace itself while it runs.
        TMsgPresenter P = Presenter();
        return P(Kind, Title, Msg);
    }
    auto Box = BuildMsgBox(Kind, Title, Msg);
    Box->exec();
    return MsgResultFromButton(Box->standardButton(Box->clickedButton()));
}

int ShowErrorMsg(const QString &Title, const QString &Msg)
{
    PresentMsg(TMsgKind::Error, Title, Msg);
    return kMsgOk;
}

int ShowInfoMsg(const QString &Title, const QString &Msg)
{
    PresentMsg(TMsgKind::Info, Title, Msg);
    return kMsgOk;
}

int AskYesNo(const QString &Title, const QString &Msg)
{
    return PresentMsg(TMsgKind::YesNo, Title, Msg) == kMsgYes ? kMsgYes : kMsgNo;
}
