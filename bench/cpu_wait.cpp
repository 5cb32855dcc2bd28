// CPU used by the bootloader link while it waits for a reply.
//
//   cpu_wait link PORT [TIMEOUT_MS]  Open() against a silent bootloader: three
//                                    transactions that each wait TIMEOUT_MS
//   cpu_wait validate FILE           one firmware-file check
//   cpu_wait upload PORT FILE        identify, then upload FILE (a paced
//                                    simulator gives line-speed figures)
//
// Prints wall time, CPU time (user + system) and CPU as a share of one core.
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bootloader/CodFile.h"
#include "bootloader/XComm.h"
#include "serial/LinkFactory.h"

namespace {

double CpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

double WallMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

void Print(const char *What, double Wall, double Cpu) {
    std::printf("%s: wall %.0f ms, cpu %.1f ms, %.2f %% of a core\n", What, Wall, Cpu,
                Wall > 0 ? 100.0 * Cpu / Wall : 0.0);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: cpu_wait link PORT [TIMEOUT_MS] | cpu_wait validate FILE\n");
        return 2;
    }
    const std::string Mode = argv[1];
    if (Mode == "link") {
        TLine Line = MakeLine(argv[2]);
        TXComm Link(*Line.Link);
        Link.SetDefTimeout(argc > 3 ? static_cast<uint32_t>(std::atoi(argv[3])) : 2000);
        const double W0 = WallMs(), C0 = CpuMs();
        const bool Found = Link.Open(argv[2]);
        Print(Found ? "open (sensor answered)" : "open on a silent line", WallMs() - W0,
              CpuMs() - C0);
        return 0;
    }
    if (Mode == "validate") {
        TCODFileData D;
        const double W0 = WallMs(), C0 = CpuMs();
        const bool Ok = ValidateFile(argv[2], D);
        Print(Ok ? "validate (valid)" : "validate (invalid)", WallMs() - W0, CpuMs() - C0);
        return Ok ? 0 : 1;
    }
    if (Mode == "upload" && argc > 3) {
        TLine Line = MakeLine(argv[2]);
        TXComm Link(*Line.Link);
        TCODFileData D;
        if (!Link.Open(argv[2]) || !ValidateFile(argv[3], D)) {
            std::fprintf(stderr, "no sensor or invalid file\n");
            return 1;
        }
        int Fails = 0;
        const double W0 = WallMs(), C0 = CpuMs();
        double LastReport = W0;
        // The data phase ends with the last report; the pause and the final
        // identification after it are not line speed.
        const bool Ok = Link.UploadFile(argv[3], D, [&](int, int F, int) {
            Fails = F;
            LastReport = WallMs();
        });
        const double Wall = LastReport - W0;
        Print(Ok ? "upload (done)" : "upload (failed)", Wall, CpuMs() - C0);
        std::printf("upload: %llu bytes at %d bit/s, %.0f bytes/s, %d failed attempts\n",
                    static_cast<unsigned long long>(D.FileSize), Link.BaudRate(),
                    D.FileSize / (Wall / 1000.0), Fails);
        return Ok ? 0 : 1;
    }
    std::fprintf(stderr, "unknown mode %s\n", Mode.c_str());
    return 2;
}
