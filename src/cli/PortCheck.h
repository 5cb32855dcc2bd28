#pragma once
// Telling "the port cannot be opened" from "no device answers": the
// protocol objects keep the reason their open failed, and the command line
// reports it in the words of jobs/PortProblem.h (the windows give the same
// facts).

#include <string>

#include "jobs/PortProblem.h"

class TResult;

// Reports the problem on standard error (and in the JSON fields) and
// returns ExitPort.
int ReportPortProblem(TResult &Result, const std::string &Port, const TPortProblem &Problem);
