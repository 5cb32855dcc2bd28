#pragma once
// The one place where a port name becomes a line: the name is parsed here,
// once, into what it names, and the link for it is made (not yet opened).
//   tcp://HOST:PORT         a transparent network serial server (TNetLink)
//   rfc2217://HOST:PORT     a network serial server that takes line settings
//   modbus-tcp://HOST[:PORT]  a Modbus TCP gateway (port 502 by default): a
//                           plain socket that carries Modbus TCP frames only
//   any other name          a local serial device (TComPort)
// The protocols get the link and nothing else; what the name says (a
// gateway wants the Modbus TCP framing, and carries no firmware update)
// travels with it in TLine.

#include <functional>
#include <memory>
#include <string>

#include "serial/Clock.h"
#include "serial/Link.h"
#include "serial/NetLink.h"

enum class TLineKind {
    Device,         // a local serial device
    SerialServer,   // tcp:// or rfc2217://: a serial line behind a server
    ModbusGateway,  // modbus-tcp://: Modbus TCP, no serial line of ours
};

struct TLineAddress {
    TLineKind Kind = TLineKind::Device;
    std::string Port;           // the name as given (messages and the trace use it)
    TNetLink::TAddress Server;  // the network kinds: where to connect
    bool IsNetwork() const { return Kind != TLineKind::Device; }
};

// What Port names. A network URL whose address cannot be connected to (no
// host, a bad port number) still parses: opening its link says why.
TLineAddress ParsePortName(const std::string &Port);

// A link for a port name, with what the name says and the clock of the
// deadlines of everything on it (a test's scripted line brings its own).
struct TLine {
    TLineAddress Address;
    std::unique_ptr<TLink> Link;
    TClock *Clock = &SystemClock();
};

// The link Port calls for, not yet opened.
TLine MakeLine(const std::string &Port);
// What the jobs take to get their line (MakeLine, or a test's scripted one).
using TLineMaker = std::function<TLine(const std::string &Port)>;

// Tests put their own lines in place behind windows that make their lines
// themselves: while a maker is set, MakeLine asks it first for the link (a
// null answer falls back to the real one); the address is parsed as ever.
// Set it while no link is being made; an empty maker restores the real
// lines.
using TLinkMaker = std::function<std::unique_ptr<TLink>(const std::string &Port)>;
void SetLinkMaker(TLinkMaker Maker);
