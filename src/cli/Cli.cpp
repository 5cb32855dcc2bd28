// The parser of the command line and the dispatch to the commands.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <optional>

#include "Version.h"
#include "cli/Commands.h"
#include "cli/HelpFormat.h"
#include "cli/Trace.h"
#include "jobs/FindJob.h"
#include "jobs/PortsJob.h"
#include "serial/Interrupt.h"
#include "serial/LineTypes.h"
#include "settings/Settings.h"
#include "settings/SettingsLookup.h"

namespace {

std::vector<std::string> BaudTexts() {
    std::vector<std::string> texts;
    for (int r = br110; r <= br256000; ++r)
        texts.emplace_back(BaudRateText(static_cast<TBaudRate>(r)));
    return texts;
}

// "Bit rate: 110, 300, ... or 256000".
std::string BaudHelp() {
    const std::vector<std::string> texts = BaudTexts();
    std::string help = "Bit rate";
    for (size_t i = 0; i < texts.size(); ++i)
        help += (i == 0 ? ": " : i + 1 == texts.size() ? " or " : ", ") + texts[i];
    return help;
}

void AddLineOptions(CLI::App *Cmd, TLineOptions &Line) {
    Cmd->add_option("-b,--baud", Line.Baud, BaudHelp())
        ->option_text("RATE")
        ->capture_default_str()
        ->check(CLI::IsMember(BaudTexts()))
        ->group("Line");
    Cmd->add_option("-P,--parity", Line.Parity, "none, even or odd")
        ->option_text("PARITY")
        ->capture_default_str()
        ->transform(CLI::IsMember({"none", "even", "odd"}, CLI::ignore_case))
        ->group("Line");
    Cmd->add_option("--stop-bits", Line.StopBits, "1 or 2")
        ->option_text("N")
        ->capture_default_str()
        ->check(CLI::IsMember({"1", "2"}))
        ->group("Line");
    Cmd->add_option("-o,--timeout", Line.Timeout, "Reply time-out in ms, kept within 100..3000")
        ->option_text("MS")
        ->capture_default_str()
        ->group("Line");
}

// The forms a port name takes (serial/LinkFactory.h), for the help of
// --port: the Modbus commands take all of them, the firmware commands all
// but a Modbus TCP gateway.
constexpr const char *CModbusPortForms =
    ": /dev/ttyUSB0, ttyUSB0, rfc2217://HOST:PORT, tcp://HOST:PORT or modbus-tcp://HOST[:PORT]";
constexpr const char *CFindPortForms =
    ": /dev/ttyUSB0, ttyUSB0 or rfc2217://HOST:PORT; the settings of a tcp:// or modbus-tcp:// "
    "line are its server's";
constexpr const char *CBootPortForms =
    ": /dev/ttyUSB0, ttyUSB0, rfc2217://HOST:PORT or tcp://HOST:PORT; a modbus-tcp://HOST[:PORT] "
    "gateway carries no firmware update";

void AddPort(CLI::App *Cmd, std::string &Port, const char *Forms = CModbusPortForms) {
    Cmd->add_option("-p,--port", Port, std::string("Serial port (path or name under /dev)") + Forms)
        ->option_text("PORT")
        ->required();
}

void AddAddr(CLI::App *Cmd, int &Addr) {
    Cmd->add_option("-a,--addr", Addr, "Modbus device address, 1..247")
        ->option_text("ADDR")
        ->required()
        ->check(CLI::Range(1, 247));
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
    Cmd->add_option("-r,--reg", Opt.Reg, "First register (or discrete input), as sent: 0..65535")
        ->option_text("REG")
        ->required()
        ->check(CLI::Range(0, 65535));
    Cmd->add_option("-t,--type", Opt.Type, "float, int, uint16, BCD, uint32, string or bit")
        ->option_text("TYPE")
        ->capture_default_str()
        ->transform(CLI::IsMember(TypeTexts(), CLI::ignore_case));
    Cmd->add_option("-c,--count", Opt.Count,
                    "Registers (string) or inputs (bit); fixed for the other types")
        ->option_text("N")
        ->check(CLI::Range(1, 65535));
    Cmd->add_option("--order", Opt.Order, "Word order of float and uint32: MSWF or LSWF")
        ->option_text("ORDER")
        ->capture_default_str()
        ->transform(CLI::IsMember({"MSWF", "LSWF"}, CLI::ignore_case));
    AddLineOptions(Cmd, Opt.Line);
}

void AddCommRow(CLI::App *Cmd, const std::string &Name, const std::string &What, TCommRow &Row,
                bool WithValue, int MinValue = 0, int MaxValue = 0) {
    CLI::Option *reg = Cmd->add_option("--" + Name + "-reg", Row.Reg, "Register of the " + What)
                           ->option_text("REG")
                           ->check(CLI::Range(0, 65535));
    if (!WithValue) return;
    const std::string range =
        MaxValue > 0 ? ", " + std::to_string(MinValue) + ".." + std::to_string(MaxValue) : "";
    CLI::Option *val =
        Cmd->add_option("--" + Name + "-val", Row.Value, "New value of the " + What + range)
            ->option_text("VALUE");
    if (MaxValue > 0) val->check(CLI::Range(MinValue, MaxValue));
    // A value without its register takes the register from the settings
    // file's catalogue (the command says so when it cannot).
    reg->needs(val);
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
    std::fprintf(stderr, "%s", UsageErrorText(*cmd, Message).c_str());
    return ExitUsage;
}

// Everything the command line can say, as parsed, and the commands that
// were chosen.
struct TCommandLine {
    std::string SettingsFile;
    bool Trace = false, Json = false;

    CLI::App *Ports = nullptr;
    CLI::App *Info = nullptr;
    std::string InfoFile;
    CLI::App *Identify = nullptr;
    std::string IdentPort;
    CLI::App *Flash = nullptr;
    TFlashOptions FlashOpt;
    CLI::App *Station = nullptr;
    TStationCliOptions StationOpt;
    CLI::App *History = nullptr;
    THistoryOptions HistoryOpt;
    CLI::App *Scan = nullptr;
    TScanOptions ScanOpt;
    CLI::App *Find = nullptr;
    TFindCliOptions FindOpt;
    CLI::App *Watch = nullptr;
    TWatchCliOptions WatchOpt;
    CLI::App *Read = nullptr;
    TRegOptions ReadOpt;
    CLI::App *Write = nullptr;
    TRegOptions WriteOpt;
    std::string WriteValue;
    CLI::App *CommRead = nullptr;
    TCommOptions CommReadOpt;
    CLI::App *CommWrite = nullptr;
    TCommOptions CommWriteOpt;
};

constexpr const char *CExitCodesText =
    "Exit codes: 0 done, 1 the device or file said no, 2 usage error, 3 the port cannot be used.\n"
    "Stopped by a signal: 128 + its number (130 for Ctrl+C).";

void AddGlobalOptions(CLI::App &App, TCommandLine &Cmd) {
    App.add_option("--settings", Cmd.SettingsFile,
                   "Settings file to read instead of the first of "
                   "~/.config/veldra-update/veldra-update.ini, "
                   "/etc/xdg/veldra-update/veldra-update.ini and the executable's path with .ini")
        ->option_text("FILE")
        ->check(CLI::ExistingFile);
    // The version and the settings file a command would read. Added after
    // --settings, whose value (checked) is then already in place.
    App.set_version_flag("--version", [&Cmd] {
        const TSettings settings(FindSettingsFile(Cmd.SettingsFile));
        return std::string(veldra::kVersion) + "\nSettings: " + SettingsSourceText(settings);
    });
    App.add_flag("--trace", Cmd.Trace, "Every frame sent and received on standard error");
    App.add_flag("--json", Cmd.Json, "One JSON object on standard output instead of text");
}

// Where a command that updates sensors records them: --records FILE, --no-record.
void AddRecordFlags(CLI::App *Command, std::string &Records, bool &NoRecord) {
    Command
        ->add_option("--records", Records,
                     "Append the update records to FILE instead of "
                     "~/.local/state/veldra-update/updates.jsonl (or RECORDS= of the settings)")
        ->option_text("FILE");
    Command->add_flag("--no-record", NoRecord, "Keep no record of this run");
}

// How a station ends, under its help.
constexpr const char *CStationFooter =
    "Every sensor in bootloader mode that appears on a watched port is updated; one already "
    "current (or older than the file, without --yes-older) is skipped; a port is not used again "
    "until its sensor has gone. Each result is recorded. Ctrl+C (or SIGTERM) ends the station "
    "with a summary: exit 0 when no sensor failed, 1 when one failed, 128 + the signal (130 for "
    "Ctrl+C) when an upload had to be cut short.\n";

// station: flashes every sensor that appears, until Ctrl+C.
void AddStationCommand(CLI::App &App, TCommandLine &Cmd) {
    TStationCliOptions &Opt = Cmd.StationOpt;
    Cmd.Station = App.add_subcommand(
        "station", "Production station: update every sensor in bootloader mode that appears");
    Cmd.Station
        ->add_option("--ports", Opt.Ports,
                     "Ports to watch, as a glob, e.g. '/dev/ttyUSB*' (quoted); repeat for "
                     "several. Default: every serial port found")
        ->option_text("GLOB")
        ->allow_extra_args(false);
    Cmd.Station->add_flag("--yes-older", Opt.YesOlder,
                          "Update also sensors whose firmware is newer than the file's");
    Cmd.Station->add_option("--interval", Opt.Interval, "Time between two looks at a port, in ms")
        ->option_text("MS")
        ->capture_default_str()
        ->check(CLI::Range(500, 60000));
    AddRecordFlags(Cmd.Station, Opt.Records, Opt.NoRecord);
    Cmd.Station->add_option("FILE", Opt.File, "Firmware file (.cod)")->required();
}

// flash's records and the history command that lists them.
void AddRecordOptions(TCommandLine &Cmd) {
    AddRecordFlags(Cmd.Flash, Cmd.FlashOpt.Records, Cmd.FlashOpt.NoRecord);
    THistoryOptions &Opt = Cmd.HistoryOpt;
    Cmd.History = Cmd.Flash->get_parent()->add_subcommand(
        "history", "List the update records as a table, CSV or JSON");
    Cmd.History->add_option("--since", Opt.Since, "Only updates started from DATE on (UTC)")
        ->option_text("DATE");
    Cmd.History->add_option("--sensor", Opt.Sensor, "Only sensors with this ID")->option_text("ID");
    Cmd.History->add_option("--port", Opt.Port, "Only updates on this port")->option_text("PORT");
    Cmd.History->add_option("--result", Opt.Result, "Only this result")
        ->option_text("RESULT")
        ->check(CLI::IsMember({"ok", "failed", "skipped", "stopped"}));
    Cmd.History->add_flag("--csv", Opt.Csv, "A header line and one CSV line per record");
    Cmd.History->add_option("--records", Opt.Records, "Read FILE instead of the usual records")
        ->option_text("FILE");
}

// ports, info, identify and flash.
void AddBootCommands(CLI::App &App, TCommandLine &Cmd) {
    Cmd.Ports = App.add_subcommand("ports", "List the serial ports: DEVICEID<TAB>DESCRIPTION");

    Cmd.Info = App.add_subcommand("info", "Validate a firmware file and show its header");
    Cmd.Info->add_option("FILE", Cmd.InfoFile, "Firmware file (.cod)")->required();

    Cmd.Identify =
        App.add_subcommand("identify", "Find a sensor in bootloader mode (19200, then 57600 baud)");
    AddPort(Cmd.Identify, Cmd.IdentPort, CBootPortForms);

    Cmd.Flash = App.add_subcommand("flash",
                                   "Update the firmware of one or more sensors in bootloader mode");
    Cmd.Flash
        ->add_option(
            "-p,--port", Cmd.FlashOpt.Ports,
            std::string("Serial port; repeat for several sensors at once") + CBootPortForms)
        ->option_text("PORT")
        ->required()
        ->allow_extra_args(false);
    Cmd.Flash->add_flag("--yes,-y", Cmd.FlashOpt.Yes,
                        "Answer yes to the older/same version questions");
    Cmd.Flash->add_option("FILE", Cmd.FlashOpt.File, "Firmware file (.cod)")->required();
    AddStationCommand(App, Cmd);
    AddRecordOptions(Cmd);
}

// The order of the search, under find's help.
constexpr const char *CWatchFooter =
    "A watch list file holds up to 64 rows; only address and register are required:\n"
    "  {\"watch\": [{\"address\": 4, \"register\": 40, \"type\": \"float\", \"label\": "
    "\"Temperature\",\n"
    "              \"scale\": 1, \"offset\": 0, \"unit\": \"C\"}, ...]}\n"
    "Without --count or --duration the watch runs until Ctrl+C. It ends with a summary\n"
    "and exit code 0 when a round read a value, 1 when none did.\n";

constexpr const char *CFindFooter =
    "The line settings the settings file names for its sensors come first, then 9600, 19200, "
    "38400, 57600, 115200 and 4800 baud, each with even, none and odd parity. One stop bit "
    "always: a device set to two stop bits reads and answers one-stop frames all the same.\n"
    "Without --all the search ends with the address range of the first line setting a device "
    "answered at: the devices of one line share its settings.\n";

// find: the line search.
void AddFindCommand(CLI::App &App, TCommandLine &Cmd) {
    TFindCliOptions &Opt = Cmd.FindOpt;
    Cmd.Find = App.add_subcommand(
        "find", "Search bit rates, parities and addresses for Modbus devices that answer");
    AddPort(Cmd.Find, Opt.Port, CFindPortForms);
    Cmd.Find->add_option("--bauds", Opt.Bauds, "Only these bit rates, e.g. 9600,19200")
        ->option_text("LIST");
    Cmd.Find->add_option("--parities", Opt.Parities, "Only these parities, e.g. even,none")
        ->option_text("LIST");
    Cmd.Find->add_option("--first", Opt.First, "First address, 1..247")
        ->option_text("ADDR")
        ->capture_default_str()
        ->check(CLI::Range(1, 247));
    Cmd.Find->add_option("--last", Opt.Last, "Last address, 1..247")
        ->option_text("ADDR")
        ->capture_default_str()
        ->check(CLI::Range(1, 247));
    Cmd.Find->add_flag("--all", Opt.All, "Search every line setting, not only up to the first hit");
    Cmd.Find
        ->add_option("--probe-timeout", Opt.ProbeTimeout,
                     "Silence after a request before the next address, in ms, " +
                         std::to_string(CFindMinProbeTimeoutMs) + ".." +
                         std::to_string(CFindMaxProbeTimeoutMs))
        ->option_text("MS")
        ->capture_default_str()
        ->check(CLI::Range(CFindMinProbeTimeoutMs, CFindMaxProbeTimeoutMs));
}

// watch: rounds of reads, from a list file or one row given here.
void AddWatchCommand(CLI::App &App, TCommandLine &Cmd) {
    TWatchCliOptions &Opt = Cmd.WatchOpt;
    Cmd.Watch = App.add_subcommand(
        "watch", "Read registers round after round: one line per round, a summary at the end");
    AddPort(Cmd.Watch, Opt.Port);
    Cmd.Watch->add_option("--list", Opt.List, "Watch list file (JSON) instead of one row")
        ->option_text("FILE");
    Cmd.Watch->add_option("-a,--addr", Opt.Addr, "Modbus device address, 1..247")
        ->option_text("ADDR");
    Cmd.Watch->add_option("-r,--reg", Opt.Reg, "First register (or discrete input): 0..65535")
        ->option_text("REG");
    Cmd.Watch->add_option("-t,--type", Opt.Type, "float, int, uint16, BCD, uint32, string or bit")
        ->option_text("TYPE")
        ->capture_default_str();
    Cmd.Watch->add_option("--order", Opt.Order, "Word order of float and uint32: MSWF or LSWF")
        ->option_text("ORDER")
        ->capture_default_str();
    Cmd.Watch->add_option("--regs", Opt.Regs, "Registers (string) or inputs (bit) of the row")
        ->option_text("N");
    Cmd.Watch->add_option("--label", Opt.Label, "Name of the row (default ADDR:REG)")
        ->option_text("TEXT");
    Cmd.Watch->add_option("--scale", Opt.Scale, "Shown value = value x scale + offset")
        ->option_text("X")
        ->capture_default_str();
    Cmd.Watch->add_option("--offset", Opt.Offset, "Added after the scale")
        ->option_text("X")
        ->capture_default_str();
    Cmd.Watch->add_option("--unit", Opt.Unit, "Unit shown after the value")->option_text("TEXT");
    Cmd.Watch
        ->add_option("--interval", Opt.Interval,
                     "Time between rounds in ms, 100..3600000; 0 reads back to back")
        ->option_text("MS")
        ->capture_default_str();
    Cmd.Watch->add_option("--count", Opt.Count, "Stop after N rounds")
        ->option_text("N")
        ->check(CLI::PositiveNumber);
    Cmd.Watch->add_option("--duration", Opt.Duration, "Stop after S seconds")
        ->option_text("S")
        ->check(CLI::PositiveNumber);
    Cmd.Watch->add_option("--csv", Opt.Csv, "Log every round to this CSV file as it comes")
        ->option_text("FILE");
    AddLineOptions(Cmd.Watch, Opt.Line);
}

// scan, read and write.
void AddModbusCommands(CLI::App &App, TCommandLine &Cmd) {
    Cmd.Scan = App.add_subcommand("scan", "Look for Modbus devices in an address range");
    AddPort(Cmd.Scan, Cmd.ScanOpt.Port);
    Cmd.Scan->add_option("--first", Cmd.ScanOpt.First, "First address, 1..247")
        ->option_text("ADDR")
        ->capture_default_str()
        ->check(CLI::Range(1, 247));
    Cmd.Scan->add_option("--last", Cmd.ScanOpt.Last, "Last address, 1..247")
        ->option_text("ADDR")
        ->capture_default_str()
        ->check(CLI::Range(1, 247));
    AddLineOptions(Cmd.Scan, Cmd.ScanOpt.Line);

    AddFindCommand(App, Cmd);
    AddWatchCommand(App, Cmd);

    Cmd.Read = App.add_subcommand("read", "Read registers (or discrete inputs) as a typed value");
    AddRegOptions(Cmd.Read, Cmd.ReadOpt);

    Cmd.Write = App.add_subcommand("write", "Write a typed value into registers");
    AddRegOptions(Cmd.Write, Cmd.WriteOpt);
    Cmd.Write->add_option("VALUE", Cmd.WriteValue, "The value (a number, or the text for string)")
        ->required();
}

// comm read or comm write: the setting rows, with their new values for a
// write (an address setting only within 1..247).
CLI::App *AddCommCommand(CLI::App *Comm, const char *Name, const char *Help, TCommOptions &Opt,
                         bool Write) {
    CLI::App *Sub = Comm->add_subcommand(Name, Help);
    AddPort(Sub, Opt.Port);
    AddAddr(Sub, Opt.Addr);
    AddCommRow(Sub, "baud", "baud rate setting", Opt.Baud, Write);
    AddCommRow(Sub, "framing", "parity, data and stop bits setting", Opt.Framing, Write);
    AddCommRow(Sub, "addr", "address setting", Opt.Address, Write, 1, 247);
    AddLineOptions(Sub, Opt.Line);
    return Sub;
}

// comm read and comm write; returns comm itself.
CLI::App *AddCommCommands(CLI::App &App, TCommandLine &Cmd) {
    auto *comm = App.add_subcommand("comm", "Baud rate, framing and address settings of a sensor");
    comm->require_subcommand(1);
    Cmd.CommRead =
        AddCommCommand(comm, "read", "Read the setting registers given", Cmd.CommReadOpt, false);
    Cmd.CommWrite =
        AddCommCommand(comm, "write", "Write the setting registers given", Cmd.CommWriteOpt, true);
    return comm;
}

// The whole parser, filling Cmd.
void BuildParser(CLI::App &App, TCommandLine &Cmd) {
    // Before the commands are added: each takes its parent's formatter.
    App.formatter(std::make_shared<THelpFormatter>());
    App.require_subcommand(1);
    App.footer(CExitCodesText);
    AddGlobalOptions(App, Cmd);
    AddBootCommands(App, Cmd);
    AddModbusCommands(App, Cmd);
    CLI::App *comm = AddCommCommands(App, Cmd);

    // Global options may also follow the command's name.
    for (CLI::App *cmd :
         {Cmd.Ports, Cmd.Info, Cmd.Identify, Cmd.Flash, Cmd.Station, Cmd.History, Cmd.Scan,
          Cmd.Find, Cmd.Watch, Cmd.Read, Cmd.Write, comm, Cmd.CommRead, Cmd.CommWrite}) {
        cmd->fallthrough();
        cmd->footer(
            std::string(cmd == Cmd.Find      ? CFindFooter
                        : cmd == Cmd.Watch   ? CWatchFooter
                        : cmd == Cmd.Station ? CStationFooter
                                             : "") +
            "Global options --settings FILE, --trace and --json may come before or after the "
            "command.\n" +
            std::string(CExitCodesText));
    }
}

// Parses the command line; an exit code when the run ends here (help,
// version, a usage error).
std::optional<int> Parse(CLI::App &App, TCommandLine &Cmd, int argc, char **argv) {
    try {
        App.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return App.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return App.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return App.exit(e);
    } catch (const CLI::ParseError &e) {
        return UsageError(App, e.what());
    }
    if (Cmd.Write->parsed()) Cmd.WriteOpt.Value = Cmd.WriteValue;
    return std::nullopt;
}

// Runs the command that was chosen.
int RunChosen(TCliContext &Ctx, TCommandLine &Cmd) {
    if (Cmd.Ports->parsed()) return RunPorts(Ctx);
    if (Cmd.Info->parsed()) return RunInfo(Ctx, Cmd.InfoFile);
    if (Cmd.Identify->parsed()) return RunIdentify(Ctx, Cmd.IdentPort);
    if (Cmd.Flash->parsed()) return RunFlash(Ctx, Cmd.FlashOpt);
    if (Cmd.Station->parsed()) return RunStation(Ctx, Cmd.StationOpt);
    if (Cmd.History->parsed()) return RunHistory(Ctx, Cmd.HistoryOpt);
    if (Cmd.Scan->parsed()) return RunScan(Ctx, Cmd.ScanOpt);
    if (Cmd.Find->parsed()) return RunFind(Ctx, Cmd.FindOpt);
    if (Cmd.Watch->parsed()) return RunWatch(Ctx, Cmd.WatchOpt);
    if (Cmd.Read->parsed()) return RunRead(Ctx, Cmd.ReadOpt);
    if (Cmd.Write->parsed()) return RunWrite(Ctx, Cmd.WriteOpt);
    if (Cmd.CommRead->parsed()) return RunCommRead(Ctx, Cmd.CommReadOpt);
    if (Cmd.CommWrite->parsed()) return RunCommWrite(Ctx, Cmd.CommWriteOpt);
    return ExitUsage;
}

// RunChosen, with what a command did not report itself turned into its exit
// code: a usage error with the command's usage line, the rest on standard
// error.
int RunReporting(const CLI::App &App, TCliContext &Ctx, TCommandLine &Cmd) {
    try {
        return RunChosen(Ctx, Cmd);
    } catch (const EUsageError &e) {
        return UsageError(App, e.what());
    } catch (const EComPort &e) {
        // Commands report port errors themselves; this is the last resort.
        Ctx.Console->Err(e.what());
        return ExitPort;
    } catch (const EInterrupted &e) {
        Ctx.Console->Err(e.what());
        return InterruptExitCode(e.Signal());
    } catch (const std::exception &e) {
        Ctx.Console->Err(e.what());
        return ExitFailed;
    }
}

// The network ports of the settings file for the port lists and the links
// of this run. Entries of [PORTS] that cannot be opened are not listed:
// said once, on stderr (stdout stays the command's own, JSON included).
void UseSettingsPorts(const TSettings &Settings) {
    for (const std::string &warning : UseNetworkPorts(&Settings))
        std::fprintf(stderr, "veldra-cli: %s\n", warning.c_str());
}

}  // namespace

int RunCli(int argc, char **argv) {
    CLI::App app{"Firmware update and Modbus RTU setup of RS-485 sensors, from the command line.",
                 "veldra-cli"};
    TCommandLine cmd;
    BuildParser(app, cmd);
    if (const std::optional<int> ended = Parse(app, cmd, argc, argv)) return *ended;

    // Ctrl+C, SIGTERM and SIGHUP stop a command at its next wait; the port
    // is closed in order and the command reports as usual (exit 128 +
    // the signal).
    InstallInterruptHandlers();
    const TSettings settings(FindSettingsFile(cmd.SettingsFile));
    UseSettingsPorts(settings);
    TConsole console(stdout, stderr, isatty(STDERR_FILENO) == 1);
    if (settings.ReadFailed()) console.Err("Warning: " + SettingsWarningText(settings));
    TCliContext ctx;
    ctx.Json = cmd.Json;
    ctx.Trace = cmd.Trace;
    ctx.StdinIsTerminal = isatty(STDIN_FILENO) == 1;
    ctx.Settings = &settings;
    ctx.Console = &console;
    if (cmd.Trace)
        StartFrameTrace(console, (cmd.Flash->parsed() && cmd.FlashOpt.Ports.size() > 1) ||
                                     cmd.Station->parsed());

    const int code = RunReporting(app, ctx, cmd);
    StopFrameTrace();
    UseNetworkPorts(nullptr);
    return code;
}
