#pragma once
// Why a port could not be used and what to do about it: the facts both
// faces report when a port does not open (or goes away). veldra-cli prints
// the port's own text with the system's reason and, for a permission error,
// how to get access; the windows add the reason and the remedy to their
// box, each a text of the jobs' table (JobTexts.h) with its facts as
// arguments, so that they show it in the user's language.

#include <string>

#include "jobs/JobTexts.h"

class EComPort;

struct TPortProblem {
    std::string Text;  // the port's own error text
    int Errno = -1;    // operating-system error number, -1 when none
};

TPortProblem PortProblemOf(const EComPort &E);

// What kind of fault a port problem is.
enum class TPortFault {
    Other,        // none of those below: the port's own text says it
    Permission,   // the user may not open the device
    Busy,         // another program holds it
    Missing,      // no such device (an adapter unplugged)
    Unreachable,  // a network server that cannot be reached
    Refused,      // a network server that refuses the connection
};

struct TPortAdvice {
    TPortFault Fault = TPortFault::Other;
    // Permission: the group the device belongs to ("dialout" when it
    // cannot be told), and whether that is root's group (then only the
    // administrator can help).
    std::string Group;
    bool RootOnly = false;
    TJobReason Reason;  // what happened, naming the port
    TJobReason Remedy;  // what to do; empty when nothing general helps
};

TPortFault PortFaultOf(const std::string &Port, const TPortProblem &Problem);
// The fault with its reason and remedy; a permission error looks up the
// device's group.
TPortAdvice AdvisePort(const std::string &Port, const TPortProblem &Problem);
// Reason and remedy in English, one line each.
std::string PortAdviceText(const TPortAdvice &Advice);

// "<text> - <system text>", and for a port that another program holds
// " - in use by another program".
std::string PortProblemText(const TPortProblem &Problem);
// The lines veldra-cli reports for a port problem: "<port>: <text> - <system
// text>" and, for a permission error, how to get access ("" otherwise).
std::string PortProblemLine(const std::string &Port, const TPortProblem &Problem);
std::string PortAccessHint(const std::string &Port, const TPortProblem &Problem);
