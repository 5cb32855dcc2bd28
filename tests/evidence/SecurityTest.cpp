// Files the program reads are never opened for writing nor changed, and a
// serial port held by one program cannot be taken by another.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "SimBootLine.h"
#include "TempDir.h"
#include "bootloader/XComm.h"
#include "serial/ComPort.h"
#include "settings/Settings.h"

// Every open() of the process passes through here, so the test sees the
// flags the code under test asked for, whoever runs it (root ignores file
// modes, so a read-only fixture alone proves nothing there).
namespace {
std::mutex OpensLock;
std::vector<std::pair<std::string, int>> &Opens() {
    static std::vector<std::pair<std::string, int>> V;
    return V;
}
std::string Watched;  // path prefix of interest

void Record(const char *Path, int Flags) {
    if (Path && !Watched.empty() && std::string(Path).rfind(Watched, 0) == 0) {
        std::lock_guard<std::mutex> L(OpensLock);
        Opens().emplace_back(Path, Flags);
    }
}

template <typename F>
F Next(const char *Name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, Name));
}
}  // namespace

extern "C" {
int open(const char *Path, int Flags, ...) {
    mode_t Mode = 0;
    if (Flags & (O_CREAT | O_TMPFILE)) {
        va_list Ap;
        va_start(Ap, Flags);
        Mode = static_cast<mode_t>(va_arg(Ap, int));
        va_end(Ap);
    }
    Record(Path, Flags);
    static auto Real = Next<int (*)(const char *, int, ...)>("open");
    return Real(Path, Flags, Mode);
}
int open64(const char *Path, int Flags, ...) {
    mode_t Mode = 0;
    if (Flags & (O_CREAT | O_TMPFILE)) {
        va_list Ap;
        va_start(Ap, Flags);
        Mode = static_cast<mode_t>(va_arg(Ap, int));
        va_end(Ap);
    }
    Record(Path, Flags);
    static auto Real = Next<int (*)(const char *, int, ...)>("open64");
    return Real(Path, Flags, Mode);
}
int openat(int Dir, const char *Path, int Flags, ...) {
    mode_t Mode = 0;
    if (Flags & (O_CREAT | O_TMPFILE)) {
        va_list Ap;
        va_start(Ap, Flags);
        Mode = static_cast<mode_t>(va_arg(Ap, int));
        va_end(Ap);
    }
    Record(Path, Flags);
    static auto Real = Next<int (*)(int, const char *, int, ...)>("openat");
    return Real(Dir, Path, Flags, Mode);
}
}

namespace {

struct TFileState {
    std::string Bytes;
    struct stat St {};
};

TFileState StateOf(const std::string &Path) {
    TFileState S;
    std::ifstream f(Path, std::ios::binary);
    std::ostringstream o;
    o << f.rdbuf();
    S.Bytes = o.str();
    stat(Path.c_str(), &S.St);
    return S;
}

void ExpectUnchanged(const TFileState &Before, const std::string &Path) {
    const TFileState After = StateOf(Path);
    EXPECT_EQ(After.Bytes, Before.Bytes) << Path;
    EXPECT_EQ(After.St.st_mtim.tv_nsec, Before.St.st_mtim.tv_nsec) << Path;
    EXPECT_EQ(After.St.st_mtim.tv_sec, Before.St.st_mtim.tv_sec) << Path;
    EXPECT_EQ(After.St.st_ctim.tv_nsec, Before.St.st_ctim.tv_nsec) << Path;
    EXPECT_EQ(After.St.st_mode, Before.St.st_mode) << Path;
}

// All opens of the watched files so far: read-only, nothing created or cut.
void ExpectOnlyReadOnlyOpens(size_t AtLeast) {
    std::lock_guard<std::mutex> L(OpensLock);
    EXPECT_GE(Opens().size(), AtLeast);
    for (const auto &[Path, Flags] : Opens()) {
        EXPECT_EQ(Flags & O_ACCMODE, O_RDONLY) << Path;
        EXPECT_EQ(Flags & (O_CREAT | O_TRUNC | O_APPEND), 0) << Path;
    }
}

}  // namespace

TEST(Security, FirmwareAndSettingsFilesAreOnlyRead) {
    TTempDir Dir;
    const std::vector<uint8_t> Esp = MakeCodImage(true, 300, 32 + 1000, 1);
    const std::vector<uint8_t> Avr = MakeCodImage(false, 9, 16 + 100, 2);
    const std::string EspPath = Dir.Write("esp.cod", std::string(Esp.begin(), Esp.end()));
    const std::string AvrPath = Dir.Write("avr.cod", std::string(Avr.begin(), Avr.end()));
    const std::string BadPath = Dir.Write("bad.cod", std::string(40, '\x11'));
    const std::string IniPath = Dir.Write(
        "veldra.ini",
        "[SETTINGS]\nMAX_RETRY=4\nMAX_FAILS=9\nTIMEOUT=700\n[SENSORS]\n9=Probe\n300=Meter\n");
    const std::vector<std::string> Files = {EspPath, AvrPath, BadPath, IniPath};
    for (const auto &F : Files) ASSERT_EQ(chmod(F.c_str(), 0444), 0);
    std::vector<TFileState> Before;
    for (const auto &F : Files) Before.push_back(StateOf(F));
    Watched = Dir.Path();

    TCODFileData Hdr;
    EXPECT_TRUE(ValidateFile(EspPath, Hdr));
    EXPECT_TRUE(ValidateFile(AvrPath, Hdr));
    EXPECT_FALSE(ValidateFile(BadPath, Hdr));
    // Whole uploads read the file again.
    for (const auto &[Path, Image, Id] :
         {std::tuple{EspPath, Esp, uint16_t{300}}, std::tuple{AvrPath, Avr, uint16_t{9}}}) {
        ASSERT_TRUE(ValidateFile(Path, Hdr));
        auto Own = std::make_unique<TSimBootLine>(Image, Id, 1, TBootFaults{}, 1000);
        TSimBootLine *Line = Own.get();
        TXComm X(*Own);
        X.SetClock(*Line);
        ASSERT_TRUE(X.Open("sim"));
        EXPECT_TRUE(X.UploadFile(Path, Hdr, nullptr));
    }
    const TSettings S(IniPath);
    EXPECT_FALSE(S.ReadFailed());
    EXPECT_EQ(S.FWUpdSettings().MaxRetry, 4);

    Watched.clear();
    ExpectOnlyReadOnlyOpens(Files.size());
    for (size_t i = 0; i < Files.size(); ++i) ExpectUnchanged(Before[i], Files[i]);
}

namespace {

// A child process that holds Path open through TComPort until told to go.
// Returns its pid; Ready reports whether it got the port.
pid_t HoldInChild(const std::string &Path, int &Release, bool &Ready) {
    int ToParent[2], ToChild[2];
    if (pipe(ToParent) != 0 || pipe(ToChild) != 0) return -1;
    const pid_t Pid = fork();
    if (Pid == 0) {
        close(ToParent[0]);
        close(ToChild[1]);
        {
            // Closed by its destructor before the child ends.
            TComPort P;
            TLinkSettings S;
            S.Port = Path;
            const char Ok = P.Open(S) ? 'n' : 'y';
            (void)!write(ToParent[1], &Ok, 1);
            char c;
            if (Ok == 'y') (void)!read(ToChild[0], &c, 1);  // until the parent closes its end
        }
        _exit(0);
    }
    close(ToParent[1]);
    close(ToChild[0]);
    char Ok = 'n';
    Ready = read(ToParent[0], &Ok, 1) == 1 && Ok == 'y';
    close(ToParent[0]);
    Release = ToChild[1];
    return Pid;
}

}  // namespace

TEST(Security, PortHeldByOneProgramCannotBeOpenedByAnother) {
    int Master = -1, Slave = -1;
    char Name[256] = {};
    ASSERT_EQ(openpty(&Master, &Slave, Name, nullptr, nullptr), 0);
    close(Slave);  // the master keeps the line alive
    const std::string Path = Name;

    int Release = -1;
    bool Ready = false;
    const pid_t Child = HoldInChild(Path, Release, Ready);
    ASSERT_GT(Child, 0);
    ASSERT_TRUE(Ready) << "the first program could not open " << Path;

    // Another program, and a second object of this one, are refused.
    TLinkSettings Settings;
    Settings.Port = Path;
    for (int Attempt = 0; Attempt < 2; ++Attempt) {
        TComPort P;
        const std::optional<EComPort> E = P.Open(Settings);
        if (!E) {
            ADD_FAILURE() << "a held port was opened a second time";
        } else {
            EXPECT_EQ(E->Code(), CError_OpenFailed);
            EXPECT_GT(E->OsError(), 0);
        }
        EXPECT_FALSE(P.Connected());
    }

    // Once the holder has ended, the port is free again.
    close(Release);
    int Status = 0;
    ASSERT_EQ(waitpid(Child, &Status, 0), Child);
    TComPort Mine;
    EXPECT_FALSE(Mine.Open(Settings));
    EXPECT_TRUE(Mine.Connected());

    // And while this process holds it, a child cannot have it.
    bool ChildGotIt = true;
    const pid_t Second = HoldInChild(Path, Release, ChildGotIt);
    ASSERT_GT(Second, 0);
    EXPECT_FALSE(ChildGotIt);
    close(Release);
    waitpid(Second, &Status, 0);
    close(Master);
}
