#include "shell/Application.h"

#include "shell/MsgBox.h"
#include "shell/WindowHelpers.h"

#include <QMessageBox>

static void InitResourcesOutsideNamespace()
{
    Q_INIT_RESOURCE(shell);
}

void InitShellResources()
{
    static const bool Done = (InitResourcesOutsideNamespace(), true);
    (void)Done;
}

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    InitShellResources();
    setApplicationName(AppTitle());
    // No application display name: X11 and Wayland append it to every
    // window title (" — Veldra-Update"), and each window's title is its own.
    setWindowIcon(AppIcon());
    // Closing the main window (after its exit question) ends the program.
    setQuitOnLastWindowClosed(true);
}

bool TApplication::notify(QObject *Receiver, QEvent *Event)
{
    try {
        return QApplication::notify(Receiver, Event);
    } catch (const std::exception &E) {
        ShowException(E);
    } catch (...) {
        ShowUnknownException();
    }
    return false;
}

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
    ExecMsgBox(Box);
}

void ShowException(const std::exception &E)
{
    ShowDefaultErrorBox(ErrorMessageText(QString::fromLocal8Bit(E.what())));
}

void ShowUnknownException()
{
    ShowDefaultErrorBox(ErrorMessageText(QStringLiteral("Unknown error")));
}
