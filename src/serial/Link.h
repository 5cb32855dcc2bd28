#pragma once
// The serial line as both protocols see it: open with line settings (and
// say why not), write, read what has arrived, wait for input, clear. A
// local device is a TComPort, a network serial server or gateway a
// TNetLink; LinkFactory.h picks one from the port name. Tests put a
// scripted link in their place.
//
// Errors of an open line travel as EComPort, as the port raises them; only
// Open hands its error back as a value. A stop asked for by a signal
// (serial/Interrupt.h) ends Write, Read and WaitForInput with EInterrupted.

#include <optional>
#include <string>

#include "serial/LineTypes.h"

// The settings a protocol opens a line with.
struct TLinkSettings {
    std::string Port;  // device name or path (see TComPort::DevicePath)
    TBaudRate BaudRate = br9600;
    TDataBits DataBits = dbEight;
    TParityBits Parity = prNone;
    std::optional<bool> ParityCheck;  // unset: the line keeps what it has
    TStopBits StopBits = sbOneStopBit;
    TRTSFlowControl ControlRTS = rtsDisable;
    TDTRFlowControl ControlDTR = dtrDisable;
    bool operator==(const TLinkSettings &) const = default;
};

class TLink {
public:
    virtual ~TLink() = default;

    // Opens the line with Settings; a line already open is switched to
    // them. Empty when the line is open, else why it is not (it is then
    // closed).
    virtual std::optional<EComPort> Open(const TLinkSettings &Settings) = 0;
    // Closes the line if it is open.
    virtual void Close() = 0;
    virtual bool Connected() const = 0;
    // The settings in force (those of the last Open).
    virtual TLinkSettings Settings() const = 0;

    // Writes Count bytes; returns how many left within the write deadline.
    virtual int Write(const void *Buffer, int Count) = 0;
    // Takes at most Count of the bytes already received, without waiting;
    // 0 when none are.
    virtual int Read(void *Buffer, int Count) = 0;
    // Blocks until received bytes are waiting or TimeoutMs has passed; true
    // when bytes are waiting.
    virtual bool WaitForInput(int TimeoutMs) = 0;
    // Empties the receive and transmit queues.
    virtual void Clear() = 0;
};
