// One copy per user, with two (and more) real processes of the program.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFileInfo>
#include <QProcess>
#include <cstring>

#include "GuiSupport.h"
#include "TempDir.h"

namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    // Every process of a test shares one private runtime folder, so that
    // other programs (and other test runs) never meet these copies.
    // NoRuntimeDir: without $XDG_RUNTIME_DIR, with the test's folder as the
    // temporary folder ($TMPDIR).
    std::unique_ptr<QProcess> Start(bool NoRuntimeDir = false) {
        auto P = std::make_unique<QProcess>();
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        if (NoRuntimeDir) {
            Env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
            Env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(Dir.Path()));
        } else {
            Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(Dir.Path()));
        }
        Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        Env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("veldra.instance.info=true"));
        Env.insert(QStringLiteral("VELDRA_EXTRA_PORTS"), QString());
        P->setProcessEnvironment(Env);
        P->setProcessChannelMode(QProcess::SeparateChannels);
        P->start(QStringLiteral(VELDRA_UPDATE_PATH), {});
        EXPECT_TRUE(P->waitForStarted(10000));
        return P;
    }

    QString SocketPath() const { return QString::fromStdString(Dir.File("Veldra-Update")); }

    // The first copy listens once a connection succeeds (each try also asks
    // it to come to the front, which does no harm).
    bool WaitListening() {
        return WaitUntil(
            [&] {
                const QByteArray Path = QFile::encodeName(SocketPath());
                sockaddr_un Addr{};
                Addr.sun_family = AF_UNIX;
                std::strncpy(Addr.sun_path, Path.constData(), sizeof Addr.sun_path - 1);
                const int Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const bool Ok = Fd >= 0 && ::connect(Fd, reinterpret_cast<const sockaddr *>(&Addr),
                                                     sizeof Addr) == 0;
                if (Fd >= 0) ::close(Fd);
                return Ok;
            },
            30000);
    }

    // Reads the first copy's log until Text appears.
    static bool WaitLog(QProcess &P, QByteArray &Log, const char *Text) {
        return WaitUntil([&] {
            P.waitForReadyRead(50);
            Log += P.readAllStandardError();
            return Log.contains(Text);
        });
    }

    TTempDir Dir;
};

TEST_F(SingleInstanceTest, SecondStartRaisesTheFirstAndEndsSilently) {
    auto First = Start();
    ASSERT_TRUE(WaitListening());
    QByteArray FirstLog;
    ASSERT_TRUE(WaitLog(*First, FirstLog, "brought to front"));  // from WaitListening's probe
    FirstLog.clear();

    // The socket is reachable by its owner only.
    struct stat St {};
    ASSERT_EQ(::stat(QFile::encodeName(SocketPath()).constData(), &St), 0);
    EXPECT_TRUE(S_ISSOCK(St.st_mode));
    EXPECT_EQ(St.st_mode & 077, 0u) << std::oct << St.st_mode;

    auto Second = Start();
    ASSERT_TRUE(Second->waitForFinished(30000));
    EXPECT_EQ(Second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Second->exitCode(), 0);
    EXPECT_TRUE(Second->readAllStandardOutput().isEmpty());
    EXPECT_FALSE(Second->readAllStandardError().contains("listening"));

    EXPECT_TRUE(WaitLog(*First, FirstLog, "another copy started"));
    EXPECT_TRUE(WaitLog(*First, FirstLog, "brought to front"));
    EXPECT_EQ(First->state(), QProcess::Running);
    First->kill();
    First->waitForFinished(10000);
}

TEST_F(SingleInstanceTest, SocketLeftByACrashDoesNotBlockTheNextStart) {
    auto Crashed = Start();
    ASSERT_TRUE(WaitListening());
    Crashed->kill();  // SIGKILL: no clean-up, the socket file stays
    ASSERT_TRUE(Crashed->waitForFinished(10000));
    ASSERT_TRUE(QFileInfo::exists(SocketPath()));

    auto Next = Start();
    ASSERT_TRUE(WaitListening()) << "the next start did not take over";
    EXPECT_EQ(Next->state(), QProcess::Running);

    // And it is the one instance now: a further start ends at once.
    auto Third = Start();
    ASSERT_TRUE(Third->waitForFinished(30000));
    EXPECT_EQ(Third->exitCode(), 0);
    EXPECT_EQ(Next->state(), QProcess::Running);
    Next->kill();
    Next->waitForFinished(10000);
}

// Without $XDG_RUNTIME_DIR the socket lives in a folder of our own in the
// temporary folder. A folder of that name that another user made first, or
// that others may enter, is refused: the program then starts anyway and
// says why, instead of ending without a window.
TEST_F(SingleInstanceTest, FallbackFolderMustBeOursAndPrivate) {
    const std::string Private = Dir.File("veldra-update-" + std::to_string(::getuid()));
    struct TCase {
        const char *Name;
        int Mode;      // -1: no folder yet
        uid_t Owner;   // of the folder made beforehand
        bool Guarded;  // the copy listens in it
    };
    const TCase Cases[] = {
        {"no folder yet: made private", -1, ::getuid(), true},
        {"open to everybody", 0777, ::getuid(), false},
        {"readable by the group", 0750, ::getuid(), false},
        {"another user's", 0700, 65534, false},
    };
    for (const TCase &C : Cases) {
        SCOPED_TRACE(C.Name);
        ::rmdir(Private.c_str());
        if (C.Mode >= 0) {
            ASSERT_EQ(::mkdir(Private.c_str(), 0700), 0);
            ASSERT_EQ(::chmod(Private.c_str(), static_cast<mode_t>(C.Mode)), 0);
            if (C.Owner != ::getuid() &&
                ::chown(Private.c_str(), C.Owner, static_cast<gid_t>(-1)) != 0) {
                ::rmdir(Private.c_str());
                continue;  // only root can give a folder away
            }
        }
        auto First = Start(true);
        QByteArray Log;
        if (C.Guarded) {
            ASSERT_TRUE(WaitLog(*First, Log, "listening on")) << Log.constData();
            EXPECT_TRUE(Log.contains(QByteArray::fromStdString(Private))) << Log.constData();
            struct stat St {};
            ASSERT_EQ(::lstat(Private.c_str(), &St), 0);
            EXPECT_TRUE(S_ISDIR(St.st_mode));
            EXPECT_EQ(St.st_mode & 07777, 0700u);
            EXPECT_EQ(St.st_uid, ::getuid());
            // A second copy finds the first there and ends.
            auto Second = Start(true);
            ASSERT_TRUE(Second->waitForFinished(30000));
            EXPECT_EQ(Second->exitCode(), 0);
        } else {
            ASSERT_TRUE(WaitLog(*First, Log, "no single-instance check")) << Log.constData();
            EXPECT_FALSE(Log.contains("listening on")) << Log.constData();
            // It runs: a window beats none.
            EXPECT_FALSE(First->waitForFinished(1000));
            EXPECT_EQ(First->state(), QProcess::Running);
            // Nothing of ours was put into the refused folder.
            EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Private + "/Veldra-Update")));
        }
        First->kill();
        First->waitForFinished(10000);
        ::unlink((Private + "/Veldra-Update").c_str());
        ::rmdir(Private.c_str());
    }
}

}  // namespace
