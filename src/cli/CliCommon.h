#pragma once
// What every command of the command line shares: exit codes, the run's
// context and the result that becomes either text or one JSON object.

#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/Console.h"
#include "settings/Settings.h"

// Exit codes of the program.
enum : int {
    ExitOk = 0,        // done
    ExitFailed = 1,    // the device or the file said no
    ExitUsage = 2,     // the command line is wrong
    ExitPort = 3,      // the serial port cannot be used
    ExitInterrupted = 130,  // stopped by Ctrl+C (a scan)
};

// A command line that parsed but makes no sense (checked before any port is
// opened). Reported with the command's help text and exit code 2.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TCliContext {
    bool Json = false;        // one JSON object on standard output instead of text
    bool Trace = false;       // frames on standard error
    bool StdinIsTerminal = false;
    const TSettings *Settings = nullptr;
    TConsole *Console = nullptr;
};

// The outcome of one command. Text lines go to standard output at once
// (text mode); error texts always go to standard error; in JSON mode the
// collected fields are printed as one object by Finish.
class TResult {
public:
    TResult(TCliContext &Ctx, const std::string &Command) : FCtx(Ctx) { FJson["command"] = Command; }

    nlohmann::json &Json() { return FJson; }
    nlohmann::json &operator[](const char *Key) { return FJson[Key]; }
    // A result line on standard output (text mode only). It may carry text
    // from a device or a file: control characters are shown, not obeyed.
    void Text(const std::string &Line) {
        if (!FCtx.Json) FCtx.Console->Out(VisibleText(Line));
    }
    // An error text on standard error; the first one becomes the JSON
    // "error" field, later ones go to "details".
    void ErrorText(const std::string &Line) {
        FCtx.Console->Err(Line);
        if (!FJson.contains("error"))
            FJson["error"] = Line;
        else
            FJson["details"].push_back(Line);
    }
    // Ends the command: prints the JSON object (JSON mode) and returns Code.
    int Finish(int Code) {
        if (FCtx.Json) {
            FJson["ok"] = Code == ExitOk;
            FJson["exit_code"] = Code;
            // The settings file that was read (null without one).
            if (FCtx.Settings && !FCtx.Settings->FileName().empty())
                FJson["settings_file"] = FCtx.Settings->FileName();
            else
                FJson["settings_file"] = nullptr;
            FCtx.Console->Out(FJson.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        }
        return Code;
    }
    // ErrorText, then Finish.
    int Fail(int Code, const std::string &Line) {
        ErrorText(Line);
        return Finish(Code);
    }

private:
    TCliContext &FCtx;
    nlohmann::json FJson;
};
