// The parser of the command line and the dispatch to the commands.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "Version.h"
#include "cli/Commands.h"
#include "cli/Trace.h"
#include "jobs/PortsJob.h"
#include "serial/Interrupt.h"
#include "serial/LineTypes.h"
#include "settings/Settings.h"
#include "settings/SettingsLookup.h"

TPortParams PortParamsOf(const TLineOptions &Line) {
    TPortParams p;
    p.BaudRate = BaudRateFromText(Line.Baud);
    p.ParityBits = ParityFromText(Line.Parity);
    p.StopBits = StopBitsFromText(Line.StopBits);
    p.Timeout = std::clamp(Line.Timeout, CMinTimeout, CMaxTimeout);
    return p;
}

namespace {

std::vector<std::string> BaudTexts() {
    std::vector<std::string> texts;
    for (int r = br110; r <= br256000; ++r)
        texts.emplace_back(BaudRateText(static_cast<TBaudRate>(r)));
    return texts;
}

void AddLineOptions(CLI::App *Cmd, TLineOptions &Line) {
    Cmd->add_option("--baud", Line.Baud, "Bit rate")
        ->capture_default_str()
        ->check(CLI::IsMember(BaudTexts()))
        ->group("Line");
    Cmd->add_option("--parity", Line.Parity, "none, even or odd")
        ->capture_default_str()
        ->transform(CLI::IsMember({"none", "even", "odd"}, CLI::ignore_case))
        ->group("Line");
    Cmd->add_option("--stop-bits", Line.StopBits, "1 or 2")
        ->capture_default_str()
        ->check(CLI::IsMember({"1", "2"}))
        ->group("Line");
    Cmd->add_option("--timeout", Line.Timeout, "Reply time-out in ms, kept within 100..3000")
        ->capture_default_str()
        ->group("Line");
}

void AddPort(CLI::App *Cmd, std::string &Port) {
    Cmd->add_option("--port", Port, "Serial port (path or name under /dev)")->required();
}

void AddAddr(CLI::App *Cmd, int &Addr) {
    Cmd->add_option("--addr", Addr, "Modbus device address")->required()->check(CLI::Range(1, 247));
}

// Type names as the register page lists them, in any letter case.
const std::vector<std::string> &TypeTexts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> t;
        for (int i = 0; i < RegDataTypeCount; ++i)
            t.emplace_back(RegDataTypeText(static_cast<TRegDataType>(i)));
        return t;
    }();
    return texts;
}

void AddRegOptions(CLI::App *Cmd, TRegOptions &Opt) {
    AddPort(Cmd, Opt.Port);
    AddAddr(Cmd, Opt.Addr);
    Cmd->add_option("--reg", Opt.Reg, "First register (or discrete input), as sent")
        ->required()
        ->check(CLI::Range(0, 65535));
    Cmd->add_option("--type", Opt.Type, "float, int, uint16, BCD, uint32, string or bit")
        ->capture_default_str()
        ->transform(CLI::IsMember(TypeTexts(), CLI::ignore_case));
    Cmd->add_option("--count", Opt.Count,
                    "Registers (string) or inputs (bit); fixed for the other types")
        ->check(CLI::Range(1, 65535));
    Cmd->add_option("--order", Opt.Order, "Word order of float and uint32: MSWF or LSWF")
        ->capture_default_str()
        ->transform(CLI::IsMember({"MSWF", "LSWF"}, CLI::ignore_case));
    AddLineOptions(Cmd, Opt.Line);
}

void AddCommRow(CLI::App *Cmd, const std::string &Name, const std::string &What, TCommRow &Row,
                bool WithValue, int MinValue = 0, int MaxValue = 0) {
    CLI::Option *reg = Cmd->add_option("--" + Name + "-reg", Row.Reg, "Register of the " + What)
                           ->check(CLI::Range(0, 65535));
    if (!WithValue) return;
    CLI::Option *val = Cmd->add_option("--" + Name + "-val", Row.Value, "New value of the " + What);
    if (MaxValue > 0) val->check(CLI::Range(MinValue, MaxValue));
    reg->needs(val);
    val->needs(reg);
}

// The most deeply chosen command, for its help text.
const CLI::App *ChosenCommand(const CLI::App &App) {
    const CLI::App *cmd = &App;
    for (;;) {
        auto subs = cmd->get_subcommands();
        if (subs.empty()) return cmd;
        cmd = subs.front();
    }
}

int UsageError(const CLI::App &App, std::string Message) {
    const CLI::App *cmd = ChosenCommand(App);
    // A misspelt command reads better named than as "a subcommand is required".
    auto rest = cmd->remaining();
    if (rest.empty() && cmd->get_parent()) rest = cmd->get_parent()->remaining();
    if (!cmd->get_subcommands({}).empty() && !rest.empty() && !rest.front().starts_with("-"))
        Message = "Unknown command: " + rest.front();
    std::fprintf(stderr, "%s\n\n%s", Message.c_str(), cmd->help().c_str());
    return ExitUsage;
}

}  // namespace

int RunCli(int argc, char **argv) {
    CLI::App app{"Firmware update and Modbus RTU setup of RS-485 sensors, from the command line.",
                 "veldra-cli"};
    app.require_subcommand(1);
    app.footer(
        "Exit codes: 0 done, 1 the device or file said no, 2 usage error, 3 the port cannot be "
        "used.");

    std::string settingsFile;
    bool trace = false, json = false;
    app.add_option("--settings", settingsFile,
                   "Settings file to read instead of the first of "
                   "~/.config/veldra-update/veldra-update.ini, "
                   "/etc/xdg/veldra-update/veldra-update.ini and the executable's path with .ini")
        ->check(CLI::ExistingFile);
    // The version and the settings file a command would read. Added after
    // --settings, whose value (checked) is then already in place.
    app.set_version_flag("--version", [&settingsFile] {
        const TSettings settings(FindSettingsFile(settingsFile));
        return std::string(veldra::kVersion) + "\nSettings: " + SettingsSourceText(settings);
    });
    app.add_flag("--trace", trace, "Every frame sent and received on standard error");
    app.add_flag("--json", json, "One JSON object on standard output instead of text");

    auto *ports = app.add_subcommand("ports", "List the serial ports: DEVICEID<TAB>DESCRIPTION");

    std::string infoFile;
    auto *info = app.add_subcommand("info", "Validate a firmware file and show its header");
    info->add_option("FILE", infoFile, "Firmware file (.cod)")->required();

    std::string identPort;
    auto *identify =
        app.add_subcommand("identify", "Find a sensor in bootloader mode (19200, then 57600 baud)");
    AddPort(identify, identPort);

    TFlashOptions flashOpt;
    auto *flash = app.add_subcommand(
        "flash", "Update the firmware of one or more sensors in bootloader mode");
    flash->add_option("--port", flashOpt.Ports, "Serial port; repeat for several sensors at once")
        ->required()
        ->allow_extra_args(false);
    flash->add_flag("--yes,-y", flashOpt.Yes, "Answer yes to the older/same version questions");
    flash->add_option("FILE", flashOpt.File, "Firmware file (.cod)")->required();

    TScanOptions scanOpt;
    auto *scan = app.add_subcommand("scan", "Look for Modbus devices in an address range");
    AddPort(scan, scanOpt.Port);
    scan->add_option("--first", scanOpt.First, "First address")
        ->capture_default_str()
        ->check(CLI::Range(1, 247));
    scan->add_option("--last", scanOpt.Last, "Last address")
        ->capture_default_str()
        ->check(CLI::Range(1, 247));
    AddLineOptions(scan, scanOpt.Line);

    TRegOptions readOpt;
    auto *read = app.add_subcommand("read", "Read registers (or discrete inputs) as a typed value");
    AddRegOptions(read, readOpt);

    TRegOptions writeOpt;
    std::string writeValue;
    auto *write = app.add_subcommand("write", "Write a typed value into registers");
    AddRegOptions(write, writeOpt);
    write->add_option("VALUE", writeValue, "The value (a number, or the text for string)")
        ->required();

    auto *comm = app.add_subcommand("comm", "Baud rate, framing and address settings of a sensor");
    comm->require_subcommand(1);
    TCommOptions commReadOpt;
    auto *commRead = comm->add_subcommand("read", "Read the setting registers given");
    AddPort(commRead, commReadOpt.Port);
    AddAddr(commRead, commReadOpt.Addr);
    AddCommRow(commRead, "baud", "baud rate setting", commReadOpt.Baud, false);
    AddCommRow(commRead, "framing", "parity, data and stop bits setting", commReadOpt.Framing,
               false);
    AddCommRow(commRead, "addr", "address setting", commReadOpt.Address, false);
    AddLineOptions(commRead, commReadOpt.Line);
    TCommOptions commWriteOpt;
    auto *commWrite = comm->add_subcommand("write", "Write the setting registers given");
    AddPort(commWrite, commWriteOpt.Port);
    AddAddr(commWrite, commWriteOpt.Addr);
    AddCommRow(commWrite, "baud", "baud rate setting", commWriteOpt.Baud, true);
    AddCommRow(commWrite, "framing", "parity, data and stop bits setting", commWriteOpt.Framing,
               true);
    AddCommRow(commWrite, "addr", "address setting", commWriteOpt.Address, true, 1, 247);
    AddLineOptions(commWrite, commWriteOpt.Line);

    // Global options may also follow the command's name.
    for (CLI::App *cmd :
         {ports, info, identify, flash, scan, read, write, comm, commRead, commWrite}) {
        cmd->fallthrough();
        cmd->footer(
            "Global options --settings FILE, --trace and --json may come before or after the "
            "command.\n"
            "Exit codes: 0 done, 1 the device or file said no, 2 usage error, 3 the port cannot be "
            "used.");
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        return UsageError(app, e.what());
    }
    if (write->parsed()) writeOpt.Value = writeValue;

    // Ctrl+C, SIGTERM and SIGHUP stop a command at its next wait; the port
    // is closed in order and the command reports as usual (exit 128 +
    // the signal).
    InstallInterruptHandlers();
    TSettings settings(FindSettingsFile(settingsFile));
    Settings = &settings;
    // Entries of [PORTS] that cannot be opened are not listed: said once,
    // on stderr (stdout stays the command's own, JSON included).
    for (const std::string &warning : UseNetworkPorts(&settings))
        std::fprintf(stderr, "veldra-cli: %s\n", warning.c_str());
    TConsole console(stdout, stderr, isatty(STDERR_FILENO) == 1);
    if (settings.ReadFailed()) console.Err("Warning: " + SettingsWarningText(settings));
    TCliContext ctx;
    ctx.Json = json;
    ctx.Trace = trace;
    ctx.StdinIsTerminal = isatty(STDIN_FILENO) == 1;
    ctx.Settings = &settings;
    ctx.Console = &console;
    if (trace) StartFrameTrace(console, flash->parsed() && flashOpt.Ports.size() > 1);

    int code = ExitUsage;
    try {
        if (ports->parsed())
            code = RunPorts(ctx);
        else if (info->parsed())
            code = RunInfo(ctx, infoFile);
        else if (identify->parsed())
            code = RunIdentify(ctx, identPort);
        else if (flash->parsed())
            code = RunFlash(ctx, flashOpt);
        else if (scan->parsed())
            code = RunScan(ctx, scanOpt);
        else if (read->parsed())
            code = RunRead(ctx, readOpt);
        else if (write->parsed())
            code = RunWrite(ctx, writeOpt);
        else if (commRead->parsed())
            code = RunCommRead(ctx, commReadOpt);
        else if (commWrite->parsed())
            code = RunCommWrite(ctx, commWriteOpt);
    } catch (const EUsageError &e) {
        code = UsageError(app, e.what());
    } catch (const EComPort &e) {
        // Commands report port errors themselves; this is the last resort.
        console.Err(e.what());
        code = ExitPort;
    } catch (const EInterrupted &e) {
        console.Err(e.what());
        code = InterruptExitCode(e.Signal());
    } catch (const std::exception &e) {
        console.Err(e.what());
        code = ExitFailed;
    }
    StopFrameTrace();
    UseNetworkPorts(nullptr);
    Settings = nullptr;
    return code;
}
