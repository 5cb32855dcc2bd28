#include "cli/PortCheck.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "cli/CliCommon.h"
#include "serial/LineTypes.h"

TPortProblem PortProblemOf(const EComPort &E) {
    return {E.what(), E.OsError()};
}

std::string PortProblemText(const TPortProblem &Problem) {
    std::string text = Problem.Text;
    if (Problem.Errno > 0) text += " - " + std::string(std::strerror(Problem.Errno));
    // EBUSY: another holder's exclusive use; EAGAIN: its lock.
    if (Problem.Errno == EBUSY || Problem.Errno == EAGAIN) text += " - in use by another program";
    return text;
}

std::string PortProblemLine(const std::string &Port, const TPortProblem &Problem) {
    return Port + ": " + PortProblemText(Problem);
}

std::string PortAccessHint(const std::string &Port, const TPortProblem &Problem) {
    if (Problem.Errno != EACCES && Problem.Errno != EPERM) return "";
    // Serial adapters belong to "dialout" on Debian and its relatives, but
    // name the group the device really belongs to.
    std::string group = "dialout";
    const std::string path = Port.find('/') == std::string::npos ? "/dev/" + Port : Port;
    struct stat st {};
    st.st_gid = static_cast<gid_t>(-1);
    if (::stat(path.c_str(), &st) == 0) {
        if (const struct group *g = ::getgrgid(st.st_gid))
            group = g->gr_name;
        else
            group = std::to_string(st.st_gid);
    }
    if (st.st_gid == 0 && group == "root")
        return "This port belongs to the group 'root': ask the administrator for access.";
    return "To get access, add your user to the '" + group + "' group (sudo usermod -aG " + group +
           " $USER), then log out and in again.";
}

int ReportPortProblem(TResult &Result, const std::string &Port, const TPortProblem &Problem) {
    Result["port"] = Port;
    Result.ErrorText(PortProblemLine(Port, Problem));
    if (const std::string hint = PortAccessHint(Port, Problem); !hint.empty())
        Result.ErrorText(hint);
    if (Problem.Errno > 0) Result["errno"] = Problem.Errno;
    return Result.Finish(ExitPort);
}
