// The single-instance socket answers only its owner: a process of another
// user can neither reach it nor pose as the running copy to it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLocalServer>
#include <cerrno>
#include <cstring>

#include "TempDir.h"
#include "shell/SingleInstance.h"

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

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    // Test discovery runs this too, without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    return RUN_ALL_TESTS();
}
