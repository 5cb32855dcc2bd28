#pragma once
// A real ser2net (Debian package) in front of local serial devices, for
// the tests of network ports: started on 127.0.0.1 with free ports and a
// configuration in a temporary directory, stopped again by its pid.

#include <string>
#include <vector>

#include "TempDir.h"

class TSer2Net {
public:
    enum class TMode { Rfc2217, RawTcp };
    struct TLine {
        TMode Mode;
        std::string Device;             // the serial device behind the port
        std::string Line = "19200e81";  // the line setting of a raw port
    };

    explicit TSer2Net(std::vector<TLine> Lines);
    ~TSer2Net();
    TSer2Net(const TSer2Net &) = delete;
    TSer2Net &operator=(const TSer2Net &) = delete;

    // Starts ser2net and waits until every port accepts connections; false
    // when it ended or did not listen in time.
    bool Start(int TimeoutMs = 10000);
    // The URL of line I ("rfc2217://127.0.0.1:N" or "tcp://127.0.0.1:N").
    std::string Url(size_t I) const;
    int Port(size_t I) const { return FPorts.at(I); }
    // Kills the server at once (SIGKILL) and reaps it.
    void Kill();
    void Stop();

    // A TCP port on 127.0.0.1 that nothing listens on just now.
    static int FreePort();
    // Whether something accepts connections on 127.0.0.1:Port.
    static bool Accepts(int Port);

private:
    std::vector<TLine> FLines;
    std::vector<int> FPorts;
    TTempDir FDir;
    int FPid = -1;
};
