// Every test program keeps what the programs store for the user (the update
// records under $XDG_STATE_HOME) in a folder of its own run, never in the
// tester's home: the variable is set before main(), so the programs a test
// starts inherit it. Compiled into every program that links the test
// support. A test that wants another place sets the variable itself.
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace {

struct TTestStateHome {
    std::string Path;
    TTestStateHome() {
        const char *Tmp = getenv("TMPDIR");
        std::string Template = std::string(Tmp && *Tmp ? Tmp : "/tmp") + "/veldra-state-XXXXXX";
        if (mkdtemp(Template.data())) {
            Path = Template;
            setenv("XDG_STATE_HOME", Path.c_str(), 1);
        }
    }
    ~TTestStateHome() {
        std::error_code Ignored;
        if (!Path.empty()) std::filesystem::remove_all(Path, Ignored);
    }
};

const TTestStateHome StateHome;

}  // namespace
