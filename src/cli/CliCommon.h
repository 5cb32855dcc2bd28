#pragma once
// What every command of the command line shares: exit codes, the run's
// context and the result that becomes either text or one JSON object.

#include <csignal>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "cli/Console.h"
#include "serial/Interrupt.h"
#include "settings/Settings.h"

// The JSON object as printed: one line, undecodable bytes replaced, and no
// control or hidden format character raw (EscapeJsonControls).
inline std::string JsonText(const nlohmann::json &J) {
    return EscapeJsonControls(J.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

// Exit codes of the program.
enum : int {
    ExitOk = 0,      // done
    ExitFailed = 1,  // the device or the file said no
    ExitUsage = 2,   // the command line is wrong
    ExitPort = 3,    // the serial port cannot be used
    // Stopped by a signal: 128 + its number (InterruptExitCode), 130 for
    // SIGINT (Ctrl+C), 143 for SIGTERM, 129 for SIGHUP.
    ExitInterrupted = 130,
};

// A command line that parsed but makes no sense (checked before any port is
// opened). Reported with the command's usage line and exit code 2.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TCliContext {
    bool Json = false;   // one JSON object on standard output instead of text
    bool Trace = false;  // frames on standard error
    bool StdinIsTerminal = false;
    // The settings file of the run: the commands take it from here (the
    // windows' global Settings is never set by the command line).
    const TSettings *Settings = nullptr;
    TConsole *Console = nullptr;
};

// The outcome of one command. Text lines go to standard output at once
// (text mode); error texts always go to standard error; in JSON mode the
// collected fields are printed as one object by Finish.
class TResult {
public:
    TResult(TCliContext &Ctx, const std::string &Command) : FCtx(Ctx) {
        FJson["command"] = Command;
    }

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
    // After a stop request (a signal) a failure is the interruption's: exit
    // code 128 + the signal, the reason added; a command that got its work
    // done before it reached a wait keeps its result. Either way the JSON
    // object names the signal ("interrupted").
    int Finish(int Code) {
        if (const int Signal = InterruptSignal()) {
            FJson["interrupted"] = SignalName(Signal);
            if (Code != ExitOk && Code != InterruptExitCode(Signal) &&
                !(FEndsOnCtrlC && Signal == SIGINT)) {
                const std::string Why = EInterrupted(Signal).what();
                if (!HasErrorText(Why)) ErrorText(Why);
                Code = InterruptExitCode(Signal);
            }
        }
        if (FCtx.Json) {
            FJson["ok"] = Code == ExitOk;
            FJson["exit_code"] = Code;
            // The settings file that was read (null without one, or when it
            // could not be read: then settings_error says why).
            if (FCtx.Settings && !FCtx.Settings->FileName().empty() && !FCtx.Settings->ReadFailed())
                FJson["settings_file"] = FCtx.Settings->FileName();
            else
                FJson["settings_file"] = nullptr;
            if (FCtx.Settings && FCtx.Settings->ReadFailed())
                FJson["settings_error"] = SettingsWarningText(*FCtx.Settings);
            FCtx.Console->Out(JsonText(FJson));
        }
        return Code;
    }
    // For a command whose ordinary end is Ctrl+C (watch): after a SIGINT
    // Finish keeps the command's own exit code.
    void EndsOnCtrlC() { FEndsOnCtrlC = true; }
    // Ends a command that a stop request (EInterrupted) cut short.
    int Stopped(int Signal) {
        ErrorText(EInterrupted(Signal).what());
        return Finish(InterruptExitCode(Signal));
    }
    // ErrorText, then Finish.
    int Fail(int Code, const std::string &Line) {
        ErrorText(Line);
        return Finish(Code);
    }

private:
    bool HasErrorText(const std::string &Line) const {
        if (FJson.contains("error") && FJson["error"] == Line) return true;
        if (!FJson.contains("details")) return false;
        for (const auto &D : FJson["details"])
            if (D == Line) return true;
        return false;
    }

    TCliContext &FCtx;
    nlohmann::json FJson;
    bool FEndsOnCtrlC = false;
};
