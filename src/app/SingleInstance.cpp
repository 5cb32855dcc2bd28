#include "app/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "widgets/MsgBox.h"

Q_LOGGING_CATEGORY(lcInstance, "veldra.instance", QtWarningMsg)

namespace {

// The listening socket of the running copy, its notifier and its path.
int ListenFd = -1;
QSocketNotifier *Notifier = nullptr;
QByteArray ListenPath;

// How long a second copy waits for the running one to take its call.
constexpr int kConnectTimeoutMs = 2000;
std::function<void()> &NotifyHandler() {
    static std::function<void()> H;
    return H;
}

// True when the process at the other end of a connected local socket runs
// under our own user id.
bool PeerIsOurs(int Fd) {
    ucred Cred{};
    socklen_t Len = sizeof Cred;
    if (Fd < 0 || getsockopt(Fd, SOL_SOCKET, SO_PEERCRED, &Cred, &Len) != 0) return false;
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

// The socket address of Name; false when the path does not fit.
bool AddressOf(const QString &Name, sockaddr_un &Addr) {
    const QByteArray Path = QFile::encodeName(Name);
    Addr = sockaddr_un{};
    Addr.sun_family = AF_UNIX;
    if (Path.isEmpty() || static_cast<size_t>(Path.size()) >= sizeof Addr.sun_path) return false;
    std::memcpy(Addr.sun_path, Path.constData(), static_cast<size_t>(Path.size()));
    return true;
}

void OnNewConnection() {
    for (;;) {
        const int Peer = ::accept4(ListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (Peer < 0) {
            if (errno == EINTR) continue;
            return;  // EAGAIN: all taken; anything else: wait for the next call
        }
        // Reading is not needed: a connection is the announcement.
        const bool Ours = PeerIsOurs(Peer);
        ::close(Peer);
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

// How a call to the running copy ended.
enum class TCall { Answered, Stranger, NobodyListens, Failed };

// Tells the running copy to come to the front, waiting at most
// kConnectTimeoutMs for it to take the call. A listener of another user is
// told nothing (Stranger). NobodyListens: no socket, or a socket nobody
// listens on (a crashed copy's leftover).
TCall NotifyPrevInstance(const QString &Name) {
    sockaddr_un Addr{};
    if (!AddressOf(Name, Addr)) return TCall::Failed;
    const int Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Fd < 0) return TCall::Failed;
    int Rc = ::connect(Fd, reinterpret_cast<const sockaddr *>(&Addr), sizeof Addr);
    if (Rc != 0 && (errno == EINPROGRESS || errno == EAGAIN)) {
        // The running copy's queue is full: give it the time to take the call.
        pollfd P{Fd, POLLOUT, 0};
        if (::poll(&P, 1, kConnectTimeoutMs) == 1) {
            int Err = 0;
            socklen_t Len = sizeof Err;
            ::getsockopt(Fd, SOL_SOCKET, SO_ERROR, &Err, &Len);
            errno = Err;
            Rc = Err == 0 ? 0 : -1;
        } else {
            errno = ETIMEDOUT;
        }
    }
    if (Rc != 0) {
        const int Err = errno;
        ::close(Fd);
        return Err == ENOENT || Err == ECONNREFUSED ? TCall::NobodyListens : TCall::Failed;
    }
    if (!PeerIsOurs(Fd)) {
        ::close(Fd);
        return TCall::Stranger;
    }
    static const char Front[] = "front\n";
    (void)::send(Fd, Front, sizeof Front - 1, MSG_NOSIGNAL);
    ::close(Fd);
    return TCall::Answered;
}

// Listens on Name, a socket only our user may reach. Empty when it
// listens, else why not.
QString Listen(const QString &Name) {
    sockaddr_un Addr{};
    if (!AddressOf(Name, Addr)) return QStringLiteral("the name is too long for a socket");
    const int Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
    // Closed to others from the start: the socket file is made under this
    // mask, not opened up and closed afterwards.
    const mode_t Old = ::umask(077);
    const int Rc = ::bind(Fd, reinterpret_cast<const sockaddr *>(&Addr), sizeof Addr);
    const int BindErr = errno;
    ::umask(Old);
    if (Rc != 0 || ::listen(Fd, 16) != 0) {
        const int Err = Rc != 0 ? BindErr : errno;
        ::close(Fd);
        if (Rc == 0) ::unlink(Addr.sun_path);
        return QString::fromLocal8Bit(std::strerror(Err));
    }
    ListenFd = Fd;
    ListenPath = QByteArray(Addr.sun_path);
    Notifier = new QSocketNotifier(Fd, QSocketNotifier::Read, qApp);
    QObject::connect(Notifier, &QSocketNotifier::activated, Notifier, &OnNewConnection);
    return {};
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
    switch (NotifyPrevInstance(Name)) {
        case TCall::Answered:
            return false;
        case TCall::Stranger:
            SayOnStderr(Name + QStringLiteral(" is held by another user"));
            return true;
        case TCall::Failed:
            // A copy too busy to take the call (or a socket we may not reach)
            // counts as a running copy.
            return false;
        case TCall::NobodyListens:
            break;
    }
    // Nobody listens: a socket file still there is a crashed copy's leftover.
    ::unlink(QFile::encodeName(Name).constData());
    if (const QString Why = Listen(Name); !Why.isEmpty()) {
        SayOnStderr(QStringLiteral("cannot listen on ") + Name + QStringLiteral(": ") + Why);
        return true;
    }
    qCInfo(lcInstance) << "listening on" << Name;
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
    if (ListenFd >= 0) {
        delete Notifier;
        Notifier = nullptr;
        ::close(ListenFd);
        ListenFd = -1;
        ::unlink(ListenPath.constData());
        ListenPath.clear();
    }
    NotifyHandler() = nullptr;
}
