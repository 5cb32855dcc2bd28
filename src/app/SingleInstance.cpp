#include "app/SingleInstance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "widgets/MsgBox.h"

Q_LOGGING_CATEGORY(lcInstance, "veldra.instance", QtWarningMsg)

namespace {

QLocalServer *Server = nullptr;
std::function<void()> &NotifyHandler() {
    static std::function<void()> H;
    return H;
}

// True when the process at the other end of a connected local socket runs
// under our own user id.
bool PeerIsOurs(qintptr Fd) {
    ucred Cred{};
    socklen_t Len = sizeof Cred;
    if (Fd < 0 || getsockopt(static_cast<int>(Fd), SOL_SOCKET, SO_PEERCRED, &Cred, &Len) != 0)
        return false;
    return Cred.uid == ::getuid();
}

void SayOnStderr(const QString &Why) {
    std::fprintf(stderr, "%s: no single-instance check: %s\n", qPrintable(AppTitle()),
                 qPrintable(Why));
    std::fflush(stderr);
}

// A folder that only we can use: a real folder (no link), ours, and
// closed to everybody else. Empty when it is fine, else why not.
QString PrivateDirProblem(const QString &Dir) {
    struct stat St {};
    if (::lstat(QFile::encodeName(Dir).constData(), &St) != 0)
        return Dir + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISDIR(St.st_mode)) return Dir + QStringLiteral(" is not a folder");
    if (St.st_uid != ::getuid()) return Dir + QStringLiteral(" belongs to another user");
    if ((St.st_mode & 077) != 0)
        return Dir + QStringLiteral(" is open to other users (mode %1)")
                         .arg(St.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

void OnNewConnection() {
    while (QLocalSocket *Peer = Server->nextPendingConnection()) {
        // Reading is not needed: a connection is the announcement.
        QObject::connect(Peer, &QLocalSocket::disconnected, Peer, &QObject::deleteLater);
        const bool Ours = PeerIsOurs(Peer->socketDescriptor());
        Peer->disconnectFromServer();
        if (!Ours) {
            qCWarning(lcInstance) << "ignored a connection from another user";
            continue;
        }
        qCInfo(lcInstance) << "another copy started";
        if (NotifyHandler()) {
            auto H = NotifyHandler();
            H();
        }
    }
}

// Tells the running copy to come to the front. True when one answered.
// Stranger is set when the listener runs under another user: it is told
// nothing.
bool NotifyPrevInstance(const QString &Name, QLocalSocket::LocalSocketError &Error,
                        bool &Stranger) {
    QLocalSocket Socket;
    Socket.connectToServer(Name, QIODevice::WriteOnly);
    if (!Socket.waitForConnected(2000)) {
        Error = Socket.error();
        return false;
    }
    if (!PeerIsOurs(Socket.socketDescriptor())) {
        Stranger = true;
        Socket.abort();
        return false;
    }
    Socket.write("front\n");
    Socket.waitForBytesWritten(1000);
    Socket.disconnectFromServer();
    return true;
}

}  // namespace

QString DefaultInstanceName(QString *Problem) {
    // The user's private runtime folder when it is one ($XDG_RUNTIME_DIR);
    // otherwise a folder of our own in the temporary folder, created 0700.
    // A folder that is not ours is refused: whoever made it could plant a
    // socket of that name there.
    const QString Runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!Runtime.isEmpty() && QDir::isAbsolutePath(Runtime) && PrivateDirProblem(Runtime).isEmpty())
        return QDir(Runtime).filePath(AppTitle());
    const QString Dir =
        QDir(QDir::tempPath())
            .filePath(AppTitle().toLower() + QLatin1Char('-') + QString::number(::getuid()));
    if (::mkdir(QFile::encodeName(Dir).constData(), 0700) != 0 && errno != EEXIST) {
        if (Problem)
            *Problem = Dir + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    if (const QString Why = PrivateDirProblem(Dir); !Why.isEmpty()) {
        if (Problem) *Problem = Why;
        return {};
    }
    return QDir(Dir).filePath(AppTitle());
}

bool CheckPrevInstance(const QString &Name, const QString &Problem) {
    // Without a channel the program starts anyway: a second window beats none.
    if (Name.isEmpty()) {
        SayOnStderr(Problem.isEmpty() ? QStringLiteral("no private folder for the socket")
                                      : Problem);
        return true;
    }
    QLocalSocket::LocalSocketError Error = QLocalSocket::UnknownSocketError;
    bool Stranger = false;
    if (NotifyPrevInstance(Name, Error, Stranger)) return false;
    if (Stranger) {
        SayOnStderr(Name + QStringLiteral(" is held by another user"));
        return true;
    }
    // Nobody listens: a socket file still there is a crashed copy's leftover.
    // Any other failure (a copy too busy to accept) counts as a running copy.
    if (Error != QLocalSocket::ServerNotFoundError && Error != QLocalSocket::ConnectionRefusedError)
        return false;
    QLocalServer::removeServer(Name);
    auto *S = new QLocalServer(qApp);
    S->setSocketOptions(QLocalServer::UserAccessOption);
    if (!S->listen(Name)) {
        SayOnStderr(QStringLiteral("cannot listen on ") + Name + QStringLiteral(": ") +
                    S->errorString());
        delete S;
        return true;
    }
    Server = S;
    QObject::connect(Server, &QLocalServer::newConnection, Server, &OnNewConnection);
    qCInfo(lcInstance) << "listening on" << Server->fullServerName();
    return true;
}

void SetInstanceNotify(std::function<void()> Handler) {
    NotifyHandler() = std::move(Handler);
}

void BringInstanceToFront(QWidget *Main) {
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
    if (!Front) Front = Main;
    if (Front) {
        Front->raise();
        Front->activateWindow();
    }
    if (Main) QApplication::alert(Main, 1000);
    qCInfo(lcInstance) << "brought to front";
}

void RemoveInstanceGuard() {
    if (Server) {
        Server->close();
        delete Server;
        Server = nullptr;
    }
    NotifyHandler() = nullptr;
}
