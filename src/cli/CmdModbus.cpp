// scan, read, write, comm read and comm write: the Modbus RTU commands.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cli/Commands.h"
#include "cli/PortCheck.h"
#include "jobs/CommCatalogue.h"
#include "jobs/JobTexts.h"
#include "jobs/RegisterJob.h"
#include "jobs/ScanJob.h"
#include "serial/Interrupt.h"
#include "serial/LineTypes.h"
#include "settings/Settings.h"

namespace {

// The TPortParams of the line options (the parser has checked them).
TPortParams PortParamsOf(const TLineOptions &Line) {
    TPortParams p;
    p.BaudRate = BaudRateFromText(Line.Baud);
    p.ParityBits = ParityFromText(Line.Parity);
    p.StopBits = StopBitsFromText(Line.StopBits);
    p.Timeout = std::clamp(Line.Timeout, CMinTimeout, CMaxTimeout);
    return p;
}

const std::string CReadError = JobText(TJobText::ReadError);
const std::string CWriteError = JobText(TJobText::WriteError);
const std::string CRestart = JobText(TJobText::RestartNeeded);

// Why a port did not open.
TPortProblem OpenProblemOf(const std::optional<EComPort> &Error) {
    if (Error) return PortProblemOf(*Error);
    return TPortProblem{EComPort::Message(CError_OpenFailed, -1), -1};
}

// Why a Modbus operation failed: a line on standard error after the
// failure's own, and "reason" (with "exception_code" for an exception
// answer) in Fields. Prefix goes before the line (the comm rows' label).
void AddReason(TResult &Result, nlohmann::json &Fields, const TModbusFailureInfo &Why,
               const std::string &Prefix = "") {
    const TJobReason Reason = ModbusFailureReason(Why);
    if (Reason.Empty()) return;
    const std::string Text = JobText(Reason);
    Result.ErrorText(Prefix + Text);
    Fields["reason"] = Text;
    if (Why.Kind == TModbusFailure::Exception) Fields["exception_code"] = Why.ExceptionCode;
}

void LineJson(TResult &Result, const std::string &Port, const TPortParams &P) {
    Result["port"] = Port;
    Result["baud_rate"] = BaudRateToInt(P.BaudRate);
    Result["parity"] = ParityText(P.ParityBits);
    Result["stop_bits"] = StopBitsText(P.StopBits);
    Result["timeout_ms"] = P.Timeout;
}

// Type, word order and register count of a read or write, checked against
// what the type means (RegTypeInfo).
struct TRegPlan {
    TRegDataType Type;
    TWordOrder Order;
    int Count;
};
TRegPlan PlanOf(const TRegOptions &Opt, bool Writing) {
    TRegPlan plan{rdtInt, woMSWF, 1};
    plan.Type = RegDataTypeFromText(Opt.Type).value_or(rdtInt);
    const TRegTypeInfo &type = RegTypeInfo(plan.Type);
    plan.Order = WordOrderFromText(Opt.Order).value_or(woMSWF);
    if (!type.WordOrder) plan.Order = woMSWF;
    const int fixed = type.Registers;
    if (fixed > 0) {
        if (Opt.Count && *Opt.Count != fixed)
            throw EUsageError("--count: type " + Opt.Type + " always uses " +
                              std::to_string(fixed) + (fixed == 1 ? " register" : " registers"));
        plan.Count = fixed;
    } else {
        plan.Count = Opt.Count.value_or(1);
        // More than one request carries can never succeed: refused before
        // the port is opened.
        const int most = Writing ? type.MaxWrite : type.MaxRead;
        if (plan.Count > most)
            throw EUsageError("--count: at most " + std::to_string(most) + " " + type.CountUnit +
                              " per " + (Writing ? "write" : "read") + " (type " + type.Text + ")");
    }
    return plan;
}

void RegJson(TResult &Result, const TRegOptions &Opt, const TRegPlan &Plan) {
    Result["address"] = Opt.Addr;
    Result["register"] = Opt.Reg;
    Result["type"] = RegDataTypeText(Plan.Type);
    Result["count"] = Plan.Count;
    if (RegTypeInfo(Plan.Type).WordOrder) Result["order"] = WordOrderText(Plan.Order);
}

std::string ScanCounts(int Scanned, int Found) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Scanned: %d, found: %d", Scanned, Found);
    return buf;
}

}  // namespace

// ------------------------------------------------------------------- scan

int RunScan(TCliContext &Ctx, const TScanOptions &Opt) {
    if (Opt.First > Opt.Last) throw EUsageError("Invalid addresses");
    TResult result(Ctx, "scan");
    const TPortParams params = PortParamsOf(Opt.Line);
    LineJson(result, Opt.Port, params);
    result["first"] = Opt.First;
    result["last"] = Opt.Last;
    result["devices"] = nlohmann::json::array();

    // Ctrl+C (SIGTERM, SIGHUP) ends the scan at once, keeping what was
    // found: the wait of the current address ends, that address is left
    // uncounted (serial/Interrupt.h).
    TScanOptionsJob job;
    job.Port = Opt.Port;
    job.Params = params;
    job.First = Opt.First;
    job.Last = Opt.Last;
    job.StopOnOpenFailure = true;
    const TScanResult scan =
        RunScanJob(job, *Ctx.Settings, InterruptRequested(), [&](const TScanStep &step) {
            if (const TScanDevice *d = step.Device) {
                result.Text(std::to_string(d->Address) + "\t" + d->DeviceCode + "\t" + d->Version);
                nlohmann::json dev{{"address", d->Address},
                                   {"identified", d->Id.Identified},
                                   {"device_code", d->DeviceCode},
                                   {"fw_version", d->Version}};
                if (d->Id.SensorID >= 0) dev["sensor_id"] = d->Id.SensorID;
                if (d->Id.VersionRegister >= 0) dev["version_register"] = d->Id.VersionRegister;
                result["devices"].push_back(dev);
            }
            Ctx.Console->SetStatus({ScanCounts(step.Scanned, step.Found)});
        });
    // The port cannot be used at all: nothing was scanned.
    if (scan.OpenFailedFirst)
        return ReportPortProblem(result, Opt.Port, PortProblemOf(*scan.PortError));
    Ctx.Console->ClearStatus();
    Ctx.Console->Err(ScanCounts(scan.Scanned, scan.Found));
    result["scanned"] = scan.Scanned;
    result["found"] = scan.Found;
    if (scan.PortError) return ReportPortProblem(result, Opt.Port, PortProblemOf(*scan.PortError));
    if (scan.Stopped) {
        result["stopped"] = true;
        result.ErrorText("Scan stopped");
        return result.Finish(InterruptExitCode(InterruptSignal() ? InterruptSignal() : SIGINT));
    }
    return result.Finish(scan.Found > 0 ? ExitOk : ExitFailed);
}

// ------------------------------------------------------------------- read

int RunRead(TCliContext &Ctx, const TRegOptions &Opt) {
    const TRegPlan plan = PlanOf(Opt, false);
    TResult result(Ctx, "read");
    const TPortParams params = PortParamsOf(Opt.Line);
    LineJson(result, Opt.Port, params);
    RegJson(result, Opt, plan);

    try {
        const TRegReadResult read =
            ReadRegisterBlock({Opt.Port, params, Opt.Addr},
                              {static_cast<uint16_t>(Opt.Reg), plan.Type, plan.Order, plan.Count});
        if (!read.Opened) return ReportPortProblem(result, Opt.Port, OpenProblemOf(read.OpenError));
        if (read.Failure == TJobText::ReadError) {
            result.ErrorText(JobText(read.Failure));
            AddReason(result, result.Json(), read.Why);
            return result.Finish(ExitFailed);
        }
        if (plan.Type == rdtBit)
            result["inputs"] = read.Bits;
        else
            result["registers"] = read.Regs;
        if (read.Failure != TJobText::None) return result.Fail(ExitFailed, JobText(read.Failure));
        if (!read.Number) {
            result["value"] = read.Text;
        } else {
            const double value = *read.Number;
            // JSON has no NaN or infinity: those read as null, the text says which.
            if (!std::isfinite(value))
                result["value"] = nullptr;
            else if (plan.Type == rdtFloat)
                result["value"] = value;
            else
                result["value"] = static_cast<long long>(value);
            result["text"] = read.Text;
        }
        result.Text(read.Text);
        return result.Finish(ExitOk);
    } catch (const EComPort &e) {
        return ReportPortProblem(result, Opt.Port, PortProblemOf(e));
    } catch (const EInterrupted &e) {
        return result.Stopped(e.Signal());
    }
}

// ------------------------------------------------------------------ write

int RunWrite(TCliContext &Ctx, const TRegOptions &Opt) {
    if (const auto type = RegDataTypeFromText(Opt.Type); type && !RegTypeInfo(*type).Writable)
        throw EUsageError("--type " + Opt.Type + ": discrete inputs can only be read");
    const TRegPlan plan = PlanOf(Opt, true);
    const std::string value = StripText(Opt.Value.value_or(""));
    if (value.empty()) throw EUsageError(JobText(TJobText::ValueNotSpecified));

    // Everything is converted before the port is touched: a value that
    // cannot be written sends nothing.
    TRegWritePlan write;
    if (plan.Type == rdtString) {
        write = PlanTextWrite(value, plan.Count);
        if (write.Refusal != TJobText::None) throw EUsageError(JobText(write.Refusal));
    } else {
        char *end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || *end != '\0')
            throw EUsageError("'" + value + "' is not a valid floating point value");
        try {
            write = PlanNumberWrite(plan.Type, plan.Order, number);
        } catch (const ERegConvertError &e) {
            if (e.Kind() == TRegConvertKind::OutOfRange)
                throw EUsageError("'" + value + "': " + e.what() + " for type " +
                                  RegDataTypeText(plan.Type));
            throw EUsageError(e.what());
        }
    }

    TResult result(Ctx, "write");
    const TPortParams params = PortParamsOf(Opt.Line);
    LineJson(result, Opt.Port, params);
    RegJson(result, Opt, plan);
    result["value"] = value;
    result["registers"] = write.Regs;

    try {
        const TRegWriteResult done =
            WriteRegisterBlock({Opt.Port, params, Opt.Addr}, static_cast<uint16_t>(Opt.Reg), write);
        if (!done.Opened) return ReportPortProblem(result, Opt.Port, OpenProblemOf(done.OpenError));
        result["function"] = write.Function;
        if (!done.Saved) {
            result.ErrorText(JobText(done.Text()));
            AddReason(result, result.Json(), done.Why);
            return result.Finish(ExitFailed);
        }
        result.Text(JobText(done.Text()));
        result["message"] = JobText(done.Text());
        return result.Finish(ExitOk);
    } catch (const EComPort &e) {
        return ReportPortProblem(result, Opt.Port, PortProblemOf(e));
    } catch (const EInterrupted &e) {
        return result.Stopped(e.Signal());
    }
}

// ------------------------------------------------------------ comm setup

namespace {

struct TCommRowRef {
    const char *Label;  // as the comm setup page names the row
    const char *Key;    // JSON field
    const TCommRow &Row;
};

std::vector<TCommRowRef> CommRows(const TCommOptions &Opt) {
    return {{"Baud rate", "baud", Opt.Baud},
            {"Parity, data, stop bits", "framing", Opt.Framing},
            {"Address", "address", Opt.Address}};
}

// The reason of a row that failed, in its JSON object.
void AddReasonField(nlohmann::json &Row, const TModbusFailureInfo &Why) {
    const TJobReason Reason = ModbusFailureReason(Why);
    if (Reason.Empty()) return;
    Row["reason"] = JobText(Reason);
    if (Why.Kind == TModbusFailure::Exception) Row["exception_code"] = Why.ExceptionCode;
}

// "<row>: <Message>" for each row that was done and failed, each followed
// by "<row>: <reason>"; the first reason is also the command's "reason".
void ReportFailedRows(TResult &Result, const std::vector<TCommRowRef> &Rows,
                      const TCommResult &Comm, const std::string &Message) {
    bool First = true;
    for (size_t i = 0; i < Rows.size(); ++i) {
        const TCommRowResult &r = Comm.Rows[i];
        if (!r.Done || r.Ok || r.OpenError) continue;
        const std::string Label = std::string(Rows[i].Label) + ": ";
        Result.ErrorText(Label + Message);
        nlohmann::json Ignored;
        AddReason(Result, First ? Result.Json() : Ignored, r.Why, Label);
        First = false;
    }
}

// The options that name each row's register.
constexpr const char *kRegOptions[] = {"--baud-reg", "--framing-reg", "--addr-reg"};

// The sensor at the target and its comm settings in the catalogue, for rows
// whose register was left out. Raises EUsageError when the catalogue does
// not describe the sensor, naming the options to give instead (Need).
struct TCatalogueKind {
    TSensorAt At;
    const TSensorComm *Comm = nullptr;
};
TCatalogueKind FindCatalogueKind(const TCliContext &Ctx, const TModbusTarget &Target,
                                 const std::string &Need) {
    TCatalogueKind Kind;
    Kind.At = IdentifySensorAt(Target);
    if (!Kind.At.Opened) return Kind;
    Kind.Comm = CommOfSensor(Kind.At.Id, *Ctx.Settings);
    if (Kind.Comm) return Kind;
    const std::string Where = " at address " + std::to_string(Target.Addr);
    if (!Kind.At.Id.Identified || Kind.At.Id.SensorID < 0)
        throw EUsageError("No sensor of a known kind answered" + Where +
                          ", so its registers are not known: give " + Need);
    const std::string ID = std::to_string(Kind.At.Id.SensorID);
    throw EUsageError("The settings file does not describe the registers of sensor " + ID + Where +
                      " (no [SENSOR " + ID + "] section): give " + Need);
}

// "--baud-reg", "--baud-reg and --addr-reg" for the rows in Missing.
std::string OptionList(const std::vector<size_t> &Missing) {
    std::string Text;
    for (size_t i = 0; i < Missing.size(); ++i) {
        if (i > 0) Text += i + 1 == Missing.size() ? " and " : ", ";
        Text += kRegOptions[Missing[i]];
    }
    return Text;
}

// The sensor the catalogue's registers belong to, in the result.
void CatalogueKindOut(TResult &Result, const TCliContext &Ctx, const TCatalogueKind &Kind) {
    const std::string Name = Ctx.Settings->SensorIDToName(Kind.Comm->SensorID);
    Result["sensor_id"] = Kind.Comm->SensorID;
    Result["device_code"] = Name;
    Result["registers_from"] = "settings file";
    // A kind the file describes but does not name goes by its number.
    const std::string Shown = Name == "Unknown" ? std::to_string(Kind.Comm->SensorID) : Name;
    Result.Text("Sensor: " + Shown + " (registers from the settings file)");
}

// The meaning of a row's value in the catalogue ("" without one, or when
// the row's register is not the catalogue's).
std::string MeaningOf(const TSensorComm *Comm, const TCommSettings &Rows, size_t Row,
                      uint16_t Value) {
    if (!Comm || !Rows[Row].Reg || Comm->Reg[Row] != *Rows[Row].Reg) return {};
    return Comm->MeaningOf(static_cast<int>(Row), Value);
}

}  // namespace

TCommSettings CommSettingsOf(const std::vector<TCommRowRef> &Rows) {
    TCommSettings settings;
    for (size_t i = 0; i < Rows.size() && i < settings.size(); ++i) {
        if (Rows[i].Row.Reg) settings[i].Reg = *Rows[i].Row.Reg;
        settings[i].Value = Rows[i].Row.Value;
    }
    return settings;
}

int RunCommRead(TCliContext &Ctx, const TCommOptions &Opt) {
    const auto rows = CommRows(Opt);
    // Without a register the settings file's catalogue gives them, when it
    // describes any sensor's comm settings.
    const bool fromCatalogue = !Opt.Baud.Reg && !Opt.Framing.Reg && !Opt.Address.Reg;
    if (fromCatalogue && (!Ctx.Settings || Ctx.Settings->SensorComms().empty()))
        throw EUsageError("Give at least one of --baud-reg, --framing-reg and --addr-reg");
    TResult result(Ctx, "comm read");
    const TPortParams params = PortParamsOf(Opt.Line);
    LineJson(result, Opt.Port, params);
    result["address"] = Opt.Addr;

    TCommSettings settings = CommSettingsOf(rows);
    const TSensorComm *comm = nullptr;
    if (fromCatalogue) {
        try {
            const TCatalogueKind kind = FindCatalogueKind(
                Ctx, {Opt.Port, params, Opt.Addr}, "at least one of " + OptionList({0, 1, 2}));
            if (!kind.At.Opened)
                return ReportPortProblem(result, Opt.Port, OpenProblemOf(kind.At.OpenError));
            comm = kind.Comm;
            CatalogueKindOut(result, Ctx, kind);
            settings = CommRowsFromCatalogue(settings, *comm, false);
        } catch (const EComPort &e) {
            return ReportPortProblem(result, Opt.Port, PortProblemOf(e));
        } catch (const EInterrupted &e) {
            return result.Stopped(e.Signal());
        }
    }

    // Each setting is read over a freshly opened port, as the window does.
    const TCommResult read = ReadCommSettings({Opt.Port, params, Opt.Addr}, settings);
    std::vector<std::string> failed;
    for (size_t i = 0; i < rows.size(); ++i) {
        const TCommRowResult &r = read.Rows[i];
        if (r.OpenError) {
            // The port did not open for this row: the others were still tried.
            result[rows[i].Key] = {{"register", *settings[i].Reg}, {"value", nullptr}};
            continue;
        }
        if (!r.Done) continue;
        nlohmann::json j{{"register", *settings[i].Reg}};
        if (r.Ok) {
            j["value"] = r.Value;
            const std::string meaning = MeaningOf(comm, settings, i, r.Value);
            if (!meaning.empty()) j["meaning"] = meaning;
            result.Text(std::string(rows[i].Label) + ": " + CommValueText(r.Value, meaning));
        } else {
            j["value"] = nullptr;
            failed.push_back(rows[i].Label);
            AddReasonField(j, r.Why);
        }
        result[rows[i].Key] = j;
    }
    if (read.StoppedBy) return result.Stopped(read.StoppedBy);
    if (const auto portError = read.FirstPortError(); portError || read.OpenFailed)
        return ReportPortProblem(result, Opt.Port, OpenProblemOf(portError));
    if (failed.empty()) return result.Finish(ExitOk);
    ReportFailedRows(result, rows, read, CReadError);
    return result.Finish(ExitFailed);
}

int RunCommWrite(TCliContext &Ctx, const TCommOptions &Opt) {
    const auto rows = CommRows(Opt);
    TCommSettings settings = CommSettingsOf(rows);
    // Values given without their register: the settings file's catalogue
    // gives those registers.
    std::vector<size_t> missing;
    for (size_t i = 0; i < settings.size(); ++i)
        if (settings[i].Value && !settings[i].Reg) missing.push_back(i);
    if (!Opt.Baud.Reg && !Opt.Framing.Reg && !Opt.Address.Reg && missing.empty())
        throw EUsageError(
            "Give at least one register with its value (--baud-reg/--baud-val, "
            "--framing-reg/--framing-val, --addr-reg/--addr-val)");
    // A value no register holds is refused, never sent wrapped to 16 bits.
    for (size_t i = 0; i < settings.size(); ++i) {
        if (!settings[i].Value || CommValueRange.Holds(*settings[i].Value)) continue;
        static const char *const options[] = {"--baud-val", "--framing-val", "--addr-val"};
        throw EUsageError(std::string(options[i]) + " " + std::to_string(*settings[i].Value) +
                          ": " + OutOfRangeText(CommValueRange));
    }
    if (!missing.empty() && (!Ctx.Settings || Ctx.Settings->SensorComms().empty()))
        throw EUsageError("Give " + OptionList(missing) +
                          " (the settings file describes no sensor's registers)");
    TResult result(Ctx, "comm write");
    const TPortParams params = PortParamsOf(Opt.Line);
    LineJson(result, Opt.Port, params);
    result["address"] = Opt.Addr;

    const TSensorComm *comm = nullptr;
    if (!missing.empty()) {
        try {
            const TCatalogueKind kind =
                FindCatalogueKind(Ctx, {Opt.Port, params, Opt.Addr}, OptionList(missing));
            if (!kind.At.Opened)
                return ReportPortProblem(result, Opt.Port, OpenProblemOf(kind.At.OpenError));
            comm = kind.Comm;
            settings = CommRowsFromCatalogue(settings, *comm, true);
            std::vector<size_t> unknown;
            for (size_t i : missing)
                if (!settings[i].Reg) unknown.push_back(i);
            if (!unknown.empty())
                throw EUsageError("The settings file gives no such register for sensor " +
                                  std::to_string(comm->SensorID) + ": give " + OptionList(unknown));
            CatalogueKindOut(result, Ctx, kind);
        } catch (const EComPort &e) {
            return ReportPortProblem(result, Opt.Port, PortProblemOf(e));
        } catch (const EInterrupted &e) {
            return result.Stopped(e.Signal());
        }
    }

    const TCommResult write = WriteCommSettings({Opt.Port, params, Opt.Addr}, settings);
    int written = 0;
    std::vector<std::string> failed, done;
    for (size_t i = 0; i < rows.size(); ++i) {
        const TCommRowResult &r = write.Rows[i];
        if (r.OpenError) {
            // The port did not open for this row: the others were still tried.
            result[rows[i].Key] = {
                {"register", *settings[i].Reg}, {"value", *settings[i].Value}, {"ok", false}};
            continue;
        }
        if (!r.Done) continue;
        result[rows[i].Key] = {{"register", *settings[i].Reg}, {"value", r.Value}, {"ok", r.Ok}};
        const std::string meaning = MeaningOf(comm, settings, i, r.Value);
        if (!meaning.empty()) result[rows[i].Key]["meaning"] = meaning;
        if (!r.Ok) AddReasonField(result[rows[i].Key], r.Why);
        if (r.Ok) {
            ++written;
            done.push_back(rows[i].Label);
            // Registers from the catalogue: what was written, by name.
            if (comm)
                result.Text(std::string(rows[i].Label) + ": " + CommValueText(r.Value, meaning));
        } else {
            failed.push_back(rows[i].Label);
        }
    }
    if (const auto portError = write.FirstPortError();
        portError || write.OpenFailed || write.StoppedBy) {
        // Settings already written stay written when the port is lost later,
        // did not open for another row or a signal stopped the rest: name
        // them, they take effect at the sensor's next restart.
        for (const std::string &label : done) result.Text(label + ": written");
        if (!done.empty()) result.Text(CRestart);
        if (write.StoppedBy) return result.Stopped(write.StoppedBy);
        ReportFailedRows(result, rows, write, CWriteError);
        return ReportPortProblem(result, Opt.Port, OpenProblemOf(portError));
    }
    if (written > 0) {
        result.Text(CRestart);
        result["message"] = CRestart;
    }
    if (failed.empty()) return result.Finish(ExitOk);
    // A partial success is still a failure: say which settings were not written.
    if (written == 0) {
        result.ErrorText(CWriteError);
        AddReason(result, result.Json(), write.FirstFailure());
        return result.Finish(ExitFailed);
    }
    ReportFailedRows(result, rows, write, CWriteError);
    return result.Finish(ExitFailed);
}
