#pragma once
// Telling "the port cannot be opened" from "no device answers": the
// protocol objects keep the reason their open failed, and the command line
// reports it in the words below.

#include <string>

class EComPort;
class TResult;

struct TPortProblem {
    std::string Text;  // the port's own error text
    int Errno = -1;    // operating-system error number, -1 when none
};

TPortProblem PortProblemOf(const EComPort &E);

// "<text> - <system text>", and for a port that another program holds
// " - in use by another program".
std::string PortProblemText(const TPortProblem &Problem);
// The lines reported for a port problem: "<port>: <text> (<system text>)"
// and, for a permission error, how to get access.
std::string PortProblemLine(const std::string &Port, const TPortProblem &Problem);
std::string PortAccessHint(const std::string &Port, const TPortProblem &Problem);

// Reports the problem on standard error (and in the JSON fields) and
// returns ExitPort.
int ReportPortProblem(TResult &Result, const std::string &Port, const TPortProblem &Problem);
