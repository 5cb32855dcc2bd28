#include "cli/PortCheck.h"

#include "cli/CliCommon.h"

int ReportPortProblem(TResult &Result, const std::string &Port, const TPortProblem &Problem) {
    Result["port"] = Port;
    Result.ErrorText(PortProblemLine(Port, Problem));
    if (const std::string hint = PortAccessHint(Port, Problem); !hint.empty())
        Result.ErrorText(hint);
    if (Problem.Errno > 0) Result["errno"] = Problem.Errno;
    return Result.Finish(ExitPort);
}
