#pragma once
// The link a port name calls for: tcp:// and rfc2217:// URLs are lines
// behind a network serial server (TNetLink), every other name a local
// serial device (TComPort).

#include <memory>
#include <string>

#include "serial/Link.h"

bool IsNetworkPort(const std::string &Port);
std::unique_ptr<TLink> MakeLink(const std::string &Port);
// Whether Link is of the kind MakeLink(Port) would make.
bool LinkFitsPort(const TLink &Link, const std::string &Port);
