#include "shell/SingleInstance.h"

#include "shell/MsgBox.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QStandardPaths>
#include <QWidget>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcInstance, "veldra.instance", QtWarningMsg)

namespace {

QLocalServer *Server = nullptr;
std::function<void()> &NotifyHandler()
{
    static std::function<void()> H;
    return H;
}

void OnNewConnection()
{
    while (QLocalSocket *Peer = Server->nextPendingConnection()) {
        // Reading is not needed: a connection is the announcement.
        QObject::connect(Peer, &QLocalSocket::disconnected, Peer, &QObject::deleteLater);
        Peer->disconnectFromServer();
        qCInfo(lcInstance) << "another copy started";
        if (NotifyHandler()) {
            auto H = NotifyHandler();
            H();
        }
    }
}

// Tells the running copy to come to the front. True when one answered.
bool NotifyPrevInstance(const QString &Name, QLocalSocket::LocalSocketError &Error)
{
    QLocalSocket Socket;
    Socket.connectToServer(Name, QIODevice::WriteOnly);
    if (!Socket.waitForConnected(2000)) {
        Error = Socket.error();
        return false;
    }
    Socket.write("front\n");
    Socket.waitForBytesWritten(1000);
    Socket.disconnectFromServer();
    return true;
}

}  // namespace

QString DefaultInstanceName()
{
    // The user's private runtime folder ($XDG_RUNTIME_DIR, or a 0700 folder
    // of the user's own that Qt checks): nobody else can plant a socket of
    // that name there.
    const QString Runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!Runtime.isEmpty() && QFileInfo(Runtime).isDir())
        return QDir(Runtime).filePath(AppTitle());
    return AppTitle() + QLatin1Char('-') + QString::number(::getuid());
}

bool CheckPrevInstance(const QString &Name)
{
    QLocalSocket::LocalSocketError Error = QLocalSocket::UnknownSocketError;
    if (NotifyPrevInstance(Name, Error))
        return false;
    // Nobody listens: a socket file still there is a crashed copy's leftover.
    // Any other failure (a copy too busy to accept) counts as a running copy.
    if (Error != QLocalSocket::ServerNotFoundError && Error != QLocalSocket::ConnectionRefusedError)
        return false;
    QLocalServer::removeServer(Name);
    auto *S = new QLocalServer(qApp);
    S->setSocketOptions(QLocalServer::UserAccessOption);
    if (!S->listen(Name)) {
        qCWarning(lcInstance) << "cannot listen on" << Name << S->errorString();
        delete S;
        return false;
    }
    Server = S;
    QObject::connect(Server, &QLocalServer::newConnection, Server, &OnNewConnection);
    qCInfo(lcInstance) << "listening on" << Server->fullServerName();
    return true;
}

void SetInstanceNotify(std::function<void()> Handler)
{
    NotifyHandler() = std::move(Handler);
}

void BringInstanceToFront(QWidget *Main)
{
    if (Main) {
        if (Main->isMinimized() || !Main->isVisible()) {
            Main->setWindowState(Main->windowState() & ~Qt::WindowMinimized);
            Main->show();
        }
        // A tool window minimised with the application comes back too.
        for (QWidget *W : QApplication::topLevelWidgets())
            if (W != Main && W->isVisible() && W->isMinimized())
                W->setWindowState(W->windowState() & ~Qt::WindowMinimized);
    }
    QWidget *Front = QApplication::activeModalWidget();
    if (!Front)
        Front = Main;
    if (Front) {
        Front->raise();
        Front->activateWindow();
    }
    if (Main)
        QApplication::alert(Main, 1000);
    qCInfo(lcInstance) << "brought to front";
}

void RemoveInstanceGuard()
{
    if (Server) {
        Server->close();
        delete Server;
        Server = nullptr;
    }
    NotifyHandler() = nullptr;
}
