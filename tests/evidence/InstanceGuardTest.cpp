// The single-instance socket answers only its owner: a process of another
// user can neither reach it nor pose as the running copy to it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <cstring>

#include "TempDir.h"
#include "app/SingleInstance.h"

namespace {

constexpr uid_t Nobody = 65534;

// Connects to the socket at Path as user Uid in a child; returns the errno
// of connect (0 when it got through).
int ConnectAs(uid_t Uid, const std::string &Path) {
    int P[2];
    if (pipe(P) != 0) return -1;
    const pid_t Pid = fork();
    if (Pid == 0) {
        close(P[0]);
        int Result = -1;
        if (setgid(Uid) == 0 && setuid(Uid) == 0) {
            const int S = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un A{};
            A.sun_family = AF_UNIX;
            std::strncpy(A.sun_path, Path.c_str(), sizeof A.sun_path - 1);
            Result = connect(S, reinterpret_cast<sockaddr *>(&A), sizeof A) == 0 ? 0 : errno;
        }
        (void)!write(P[1], &Result, sizeof Result);
        _exit(0);
    }
    close(P[1]);
    int Result = -1;
    if (read(P[0], &Result, sizeof Result) != sizeof Result) Result = -1;
    close(P[0]);
    int Status = 0;
    waitpid(Pid, &Status, 0);
    return Result;
}

}  // namespace

TEST(InstanceGuard, OnlyItsOwnerReachesTheSocket) {
    TTempDir Dir;
    // A folder everyone may enter: only the socket's own rights protect it.
    ASSERT_EQ(chmod(Dir.Path().c_str(), 0755), 0);
    const std::string Name = Dir.File("Veldra-Update");
    ASSERT_TRUE(CheckPrevInstance(QString::fromStdString(Name)));

    struct stat St {};
    ASSERT_EQ(stat(Name.c_str(), &St), 0);
    EXPECT_TRUE(S_ISSOCK(St.st_mode));
    EXPECT_EQ(St.st_uid, getuid());
    EXPECT_EQ(St.st_mode & 0077, 0u) << std::oct << (St.st_mode & 07777);

    // The owner gets through (a second copy of the same user is told).
    EXPECT_EQ(ConnectAs(getuid(), Name), 0);
    if (getuid() != 0) {
        RemoveInstanceGuard();
        GTEST_SKIP() << "another user's attempt needs root to switch users";
    }
    EXPECT_EQ(ConnectAs(Nobody, Name), EACCES);
    RemoveInstanceGuard();
}

// A socket of the right name whose listener runs under another user: the
// check tells it nothing and lets this copy start.
TEST(InstanceGuard, AListenerOfAnotherUserIsNotOurCopy) {
    if (getuid() != 0) GTEST_SKIP() << "a listener of another user needs root to switch users";
    TTempDir Dir;
    ASSERT_EQ(chmod(Dir.Path().c_str(), 0777), 0);
    const std::string Name = Dir.File("Veldra-Update");
    int Ready[2], Done[2];
    ASSERT_EQ(pipe(Ready), 0);
    ASSERT_EQ(pipe(Done), 0);
    const pid_t Pid = fork();
    if (Pid == 0) {
        close(Ready[0]);
        close(Done[1]);
        char Got = 0;
        if (setgid(Nobody) == 0 && setuid(Nobody) == 0) {
            umask(0);
            const int S = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un A{};
            A.sun_family = AF_UNIX;
            std::strncpy(A.sun_path, Name.c_str(), sizeof A.sun_path - 1);
            if (bind(S, reinterpret_cast<sockaddr *>(&A), sizeof A) == 0 && listen(S, 4) == 0) {
                (void)!write(Ready[1], "R", 1);
                // Report whether the connection carried any bytes.
                const int C = accept(S, nullptr, nullptr);
                char Buf[16];
                Got = C >= 0 && read(C, Buf, sizeof Buf) > 0 ? 'Y' : 'N';
            }
        }
        (void)!write(Ready[1], &Got, 1);
        _exit(0);
    }
    close(Ready[1]);
    close(Done[0]);
    char R = 0;
    ASSERT_EQ(read(Ready[0], &R, 1), 1);
    ASSERT_EQ(R, 'R');
    testing::internal::CaptureStderr();
    EXPECT_TRUE(CheckPrevInstance(QString::fromStdString(Name)));
    const std::string Err = testing::internal::GetCapturedStderr();
    EXPECT_NE(Err.find("held by another user"), std::string::npos) << Err;
    char Got = 0;
    EXPECT_EQ(read(Ready[0], &Got, 1), 1);
    EXPECT_EQ(Got, 'N');  // told nothing
    close(Ready[0]);
    close(Done[1]);
    int Status = 0;
    waitpid(Pid, &Status, 0);
    RemoveInstanceGuard();
}

TEST(InstanceGuard, NoChannelStillStartsAndSaysWhy) {
    testing::internal::CaptureStderr();
    EXPECT_TRUE(CheckPrevInstance(QString(), QStringLiteral("/tmp/x belongs to another user")));
    const std::string Err = testing::internal::GetCapturedStderr();
    EXPECT_NE(Err.find("no single-instance check: /tmp/x belongs to another user"),
              std::string::npos)
        << Err;
    RemoveInstanceGuard();
}

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    // Test discovery runs this too, without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    return RUN_ALL_TESTS();
}
