#pragma once
// --trace: every frame sent and received, one line each on standard error.

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/FrameTrace.h"

class TConsole;

// "   12.345 TX F5 05 0C 00 00 3A"; with a port name "   12.345 /dev/ttyUSB0 TX ...";
// a wait that received nothing reads "RX (none)"; bytes a link threw away
// unread "RX dropped 4096 bytes (input buffer full)".
std::string FormatTraceLine(double Ms, const std::string &Port, TTraceDir Dir, const uint8_t *Data,
                            size_t Count);

// Installs the frame hook that prints through Console, times counted from
// this call. ShowPort adds the port to every line (several ports at once).
void StartFrameTrace(TConsole &Console, bool ShowPort);
// Removes the hook.
void StopFrameTrace();
