#pragma once
// The link a port name calls for: tcp:// and rfc2217:// URLs are lines
// behind a network serial server (TNetLink), every other name a local
// serial device (TComPort).

#include <functional>
#include <memory>
#include <string>

#include "serial/Link.h"

bool IsNetworkPort(const std::string &Port);
std::unique_ptr<TLink> MakeLink(const std::string &Port);
// A local serial line not yet opened (what a protocol holds before its
// first Open picks the link for a port name).
std::unique_ptr<TLink> MakeSerialLink();
// Whether Link is of the kind MakeLink(Port) would make.
bool LinkFitsPort(const TLink &Link, const std::string &Port);

// Tests put their own lines in place: while a maker is set, MakeLink asks
// it first (a null answer falls back to the real line) and LinkFitsPort
// says no, so every open takes a line from it. Set it while no link is
// being made; an empty maker restores the real lines.
using TLinkMaker = std::function<std::unique_ptr<TLink>(const std::string &Port)>;
void SetLinkMaker(TLinkMaker Maker);
