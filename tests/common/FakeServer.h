#pragma once
// A misbehaving network serial server on 127.0.0.1, for the tests of
// network ports: it floods, drops the connection, or answers RFC 2217 line
// settings with values of its own. It serves one connection at a time in a
// thread of the test process, for at most its time limit, and is stopped
// (and joined) with the object.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

class TFakeServer {
public:
    enum class TBehaviour {
        Flood,          // sends Pattern without pause, FloodBytes per connection, then falls silent
        DropOnRequest,  // closes the connection as soon as the client has sent something
        Rfc2217,        // answers line settings (Answers replaces values), otherwise silent
        RefuseComPort,  // a Telnet server without RFC 2217: refuses the option
    };

    explicit TFakeServer(TBehaviour Behaviour);
    ~TFakeServer();
    TFakeServer(const TFakeServer &) = delete;
    TFakeServer &operator=(const TFakeServer &) = delete;

    // Set before Start.
    std::vector<uint8_t> Pattern{0x00};
    uint64_t FloodBytes = 256ULL << 20;
    // RFC 2217 command (1 rate, 2 data size, 3 parity, 4 stop size) -> the
    // value answered instead of the one asked for.
    std::map<uint8_t, uint32_t> Answers;
    int TimeLimitMs = 60000;

    // Listens on a free port of 127.0.0.1 and starts serving.
    bool Start();
    int Port() const { return FPort; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
    int Connections() const { return FConnections; }
    // Bytes sent by the flood over all connections.
    uint64_t Flooded() const { return FFlooded; }

private:
    void Run();
    void Serve(int Fd);
    void Flood(int Fd);
    void Telnet(int Fd);

    TBehaviour FBehaviour;
    int FListen = -1;
    int FPort = -1;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<int> FConnections{0};
    std::atomic<uint64_t> FFlooded{0};
    int64_t FEndMs = 0;
};
