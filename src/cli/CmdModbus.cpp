// scan, read, write, comm read and comm write: the Modbus RTU commands.
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cli/Commands.h"
#include "cli/PortCheck.h"
#include "modbus/SensorIdentify.h"
#include "serial/ComPort.h"
#include "settings/Settings.h"

namespace {

const char *const CReadError = "Error reading data.";
const char *const CWriteError = "Error writing data.";
const char *const CSaved = "Changes have been saved successfully";
const char *const CRestart = "The changes will take effect after restart of the sensor.";
const char *const CInvalidBCD = "Invalid BCD value read";
const char *const CNoValue = "Value not specified";
const char *const CTooFewRegs = "Insufficient number of registers";

// Why the master's port did not open.
TPortProblem OpenProblemOf(const TModbusRTU &Master) {
    if (const auto &e = Master.OpenError()) return PortProblemOf(*e);
    return TPortProblem{EComPort::Message(CError_OpenFailed, -1), -1};
}

// Opens the master; when the port refuses, reports why (exit code 3).
bool OpenMaster(TResult &Result, TModbusRTU &Master, const std::string &Port, const TPortParams &Params,
                int &Code) {
    if (Master.Open(Port, Params)) return true;
    Code = ReportPortProblem(Result, Port, OpenProblemOf(Master));
    return false;
}

void LineJson(TResult &Result, const std::string &Port, const TPortParams &P) {
    Result["port"] = Port;
    Result["baud_rate"] = BaudRateToInt(P.BaudRate);
    Result["parity"] = ParityText(P.ParityBits);
    Result["stop_bits"] = StopBitsText(P.StopBits);
    Result["timeout_ms"] = P.Timeout;
}

// Leading and trailing blanks and control characters.
bool IsBlankOrControl(unsigned char C) { return C <= 0x20 || C == 0x7F; }
std::string Strip(const std::string &S) {
    size_t b = 0, e = S.size();
    while (b < e && IsBlankOrControl(static_cast<unsigned char>(S[b]))) ++b;
    while (e > b && IsBlankOrControl(static_cast<unsigned char>(S[e - 1]))) --e;
    return S.substr(b, e - b);
}

// Type, word order and register count of a read or write, checked.
struct TRegPlan {
    TRegDataType Type;
    TWordOrder Order;
    int Count;
};
TRegPlan PlanOf(const TRegOptions &Opt) {
    TRegPlan plan{rdtInt, woMSWF, 1};
    plan.Type = RegDataTypeFromText(Opt.Type).value_or(rdtInt);
    plan.Order = WordOrderFromText(Opt.Order).value_or(woMSWF);
    if (!WordOrderApplies(plan.Type)) plan.Order = woMSWF;
    const int fixed = RegisterCount(plan.Type);
    if (fixed > 0) {
        if (Opt.Count && *Opt.Count != fixed)
            throw EUsageError("--count: type " + Opt.Type + " always uses " + std::to_string(fixed) +
                              (fixed == 1 ? " register" : " registers"));
        plan.Count = fixed;
    } else {
        plan.Count = Opt.Count.value_or(1);
    }
    return plan;
}

void RegJson(TResult &Result, const TRegOptions &Opt, const TRegPlan &Plan) {
    Result["address"] = Opt.Addr;
    Result["register"] = Opt.Reg;
    Result["type"] = RegDataTypeText(Plan.Type);
    Result["count"] = Plan.Count;
    if (WordOrderApplies(Plan.Type)) Result["order"] = WordOrderText(Plan.Order);
}

volatile std::sig_atomic_t GStopScan = 0;
extern "C" void OnScanInterrupt(int) { GStopScan = 1; }

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

    // Ctrl+C ends the scan after the current address, keeping what was found.
    GStopScan = 0;
    struct sigaction sa{}, old{};
    sa.sa_handler = OnScanInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old);

    int scanned = 0, found = 0;
    std::optional<TPortProblem> portProblem;
    for (int a = Opt.First; a <= Opt.Last && !GStopScan; ++a) {
        TModbusRTU master(static_cast<uint8_t>(a));
        try {
            if (!master.Open(Opt.Port, params)) {
                if (a == Opt.First) {
                    // The port cannot be used at all: nothing was scanned.
                    sigaction(SIGINT, &old, nullptr);
                    return ReportPortProblem(result, Opt.Port, OpenProblemOf(master));
                }
                // The port went away or was taken since the scan began.
                portProblem = OpenProblemOf(master);
                break;
            }
            if (master.Scan(ScanProbeReg)) {
                ++found;
                // A device that answered is listed even when the port fails
                // while it is being identified.
                TSensorIdentity id;
                try {
                    id = ReadSensorIdentity(master, *Ctx.Settings);
                } catch (const EComPort &e) {
                    portProblem = PortProblemOf(e);
                }
                result.Text(std::to_string(a) + "\t" + id.DeviceCode + "\t" + id.Version);
                nlohmann::json dev{{"address", a}, {"identified", id.Identified},
                                   {"device_code", id.DeviceCode}, {"fw_version", id.Version}};
                if (id.SensorID >= 0) dev["sensor_id"] = id.SensorID;
                if (id.VersionRegister >= 0) dev["version_register"] = id.VersionRegister;
                result["devices"].push_back(dev);
            }
        } catch (const EComPort &e) {
            portProblem = PortProblemOf(e);
            break;
        }
        ++scanned;
        Ctx.Console->SetStatus({ScanCounts(scanned, found)});
        if (portProblem) break;
    }
    sigaction(SIGINT, &old, nullptr);
    Ctx.Console->ClearStatus();
    Ctx.Console->Err(ScanCounts(scanned, found));
    result["scanned"] = scanned;
    result["found"] = found;
    if (portProblem) return ReportPortProblem(result, Opt.Port, *portProblem);
    if (GStopScan) {
        result["stopped"] = true;
        result.ErrorText("Scan stopped");
        return result.Finish(ExitInterrupted);
    }
    return result.Finish(found > 0 ? ExitOk : ExitFailed);
}

// ------------------------------------------------------------------- read

int RunRead(TCliContext &Ctx, const TRegOptions &Opt) {
    const TRegPlan plan = PlanOf(Opt);
    TResult result(Ctx, "read");
    const TPortParams params = PortParamsOf(Opt.Line);
    LineJson(result, Opt.Port, params);
    RegJson(result, Opt, plan);

    TModbusRTU master(static_cast<uint8_t>(Opt.Addr));
    int code = ExitOk;
    if (!OpenMaster(result, master, Opt.Port, params, code)) return code;
    const uint16_t reg = static_cast<uint16_t>(Opt.Reg);
    try {
        if (plan.Type == rdtBit) {
            TModbusBits bits(static_cast<size_t>(plan.Count));
            if (!master.ReadDiscreteInputs(reg, bits)) return result.Fail(ExitFailed, CReadError);
            const std::string text = FormatBits(bits);
            result["inputs"] = bits;
            result["value"] = text;
            result.Text(text);
            return result.Finish(ExitOk);
        }
        TModbusRegisters regs(static_cast<size_t>(plan.Count));
        if (!master.ReadHoldingRegs(reg, regs)) return result.Fail(ExitFailed, CReadError);
        result["registers"] = regs;
        if (plan.Type == rdtString) {
            const std::string text = DecodeText(regs);
            result["value"] = text;
            result.Text(text);
            return result.Finish(ExitOk);
        }
        double value = 0;
        if (!DecodeRegisters(plan.Type, plan.Order, regs, value)) return result.Fail(ExitFailed, CInvalidBCD);
        const std::string text = FormatValue(plan.Type, value);
        // JSON has no NaN or infinity: those read as null, the text says which.
        if (!std::isfinite(value))
            result["value"] = nullptr;
        else if (plan.Type == rdtFloat)
            result["value"] = value;
        else
            result["value"] = static_cast<long long>(value);
        result["text"] = text;
        result.Text(text);
        return result.Finish(ExitOk);
    } catch (const EComPort &e) {
        return ReportPortProblem(result, Opt.Port, PortProblemOf(e));
    }
}

// ------------------------------------------------------------------ write

int RunWrite(TCliContext &Ctx, const TRegOptions &Opt) {
    const TRegPlan plan = PlanOf(Opt);
    if (plan.Type == rdtBit) throw EUsageError("--type bit: discrete inputs can only be read");
    const std::string value = Strip(Opt.Value.value_or(""));
    if (value.empty()) throw EUsageError(CNoValue);

    // Everything is converted before the port is touched: a value that
    // cannot be written sends nothing.
    TModbusRegisters regs;
    if (plan.Type == rdtString) {
        if (TextRegisterCount(value) > plan.Count) throw EUsageError(CTooFewRegs);
        regs = EncodeText(value, plan.Count);
    } else {
        char *end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || *end != '\0')
            throw EUsageError("'" + value + "' is not a valid floating point value");
        try {
            regs = EncodeValue(plan.Type, plan.Order, number);
        } catch (const ERegConvertError &e) {
            throw EUsageError(e.what());
        }
    }

    TResult result(Ctx, "write");
    const TPortParams params = PortParamsOf(Opt.Line);
    LineJson(result, Opt.Port, params);
    RegJson(result, Opt, plan);
    result["value"] = value;
    result["registers"] = regs;

    TModbusRTU master(static_cast<uint8_t>(Opt.Addr));
    int code = ExitOk;
    if (!OpenMaster(result, master, Opt.Port, params, code)) return code;
    const uint16_t reg = static_cast<uint16_t>(Opt.Reg);
    try {
        // One-register numbers go with function 6, everything else (strings
        // of one register too) with function 16.
        const bool single = plan.Type == rdtInt || plan.Type == rdtUInt16 || plan.Type == rdtBCD;
        const bool ok = single ? master.WriteHoldingReg(reg, regs[0]) : master.WriteHoldingRegs(reg, regs);
        result["function"] = single ? 6 : 16;
        if (!ok) return result.Fail(ExitFailed, CWriteError);
        result.Text(CSaved);
        result["message"] = CSaved;
        return result.Finish(ExitOk);
    } catch (const EComPort &e) {
        return ReportPortProblem(result, Opt.Port, PortProblemOf(e));
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

}  // namespace

int RunCommRead(TCliContext &Ctx, const TCommOptions &Opt) {
    const auto rows = CommRows(Opt);
    if (!Opt.Baud.Reg && !Opt.Framing.Reg && !Opt.Address.Reg)
        throw EUsageError("Give at least one of --baud-reg, --framing-reg and --addr-reg");
    TResult result(Ctx, "comm read");
    const TPortParams params = PortParamsOf(Opt.Line);
    LineJson(result, Opt.Port, params);
    result["address"] = Opt.Addr;

    TModbusRTU master(static_cast<uint8_t>(Opt.Addr));
    int code = ExitOk;
    std::vector<std::string> failed;
    try {
        for (const TCommRowRef &r : rows) {
            if (!r.Row.Reg) continue;
            // Each setting is read over a freshly opened port, as the window does.
            if (!OpenMaster(result, master, Opt.Port, params, code)) return code;
            TModbusRegisters one(1);
            nlohmann::json j{{"register", *r.Row.Reg}};
            if (master.ReadHoldingRegs(static_cast<uint16_t>(*r.Row.Reg), one)) {
                j["value"] = one[0];
                result.Text(std::string(r.Label) + ": " + std::to_string(one[0]));
            } else {
                j["value"] = nullptr;
                failed.push_back(r.Label);
            }
            result[r.Key] = j;
        }
    } catch (const EComPort &e) {
        return ReportPortProblem(result, Opt.Port, PortProblemOf(e));
    }
    if (failed.empty()) return result.Finish(ExitOk);
    for (const std::string &label : failed) result.ErrorText(label + ": " + CReadError);
    return result.Finish(ExitFailed);
}

int RunCommWrite(TCliContext &Ctx, const TCommOptions &Opt) {
    const auto rows = CommRows(Opt);
    if (!Opt.Baud.Reg && !Opt.Framing.Reg && !Opt.Address.Reg)
        throw EUsageError("Give at least one register with its value (--baud-reg/--baud-val, "
                          "--framing-reg/--framing-val, --addr-reg/--addr-val)");
    TResult result(Ctx, "comm write");
    const TPortParams params = PortParamsOf(Opt.Line);
    LineJson(result, Opt.Port, params);
    result["address"] = Opt.Addr;

    TModbusRTU master(static_cast<uint8_t>(Opt.Addr));
    int written = 0;
    std::vector<std::string> failed, done;
    // Settings already written stay written when the port is lost later:
    // name them, they take effect at the sensor's next restart.
    auto TellWritten = [&] {
        for (const std::string &label : done) result.Text(label + ": written");
        if (!done.empty()) result.Text(CRestart);
    };
    try {
        for (const TCommRowRef &r : rows) {
            if (!r.Row.Reg || !r.Row.Value) continue;
            if (!master.Open(Opt.Port, params)) {
                TellWritten();
                return ReportPortProblem(result, Opt.Port, OpenProblemOf(master));
            }
            // Values travel as their low 16 bits (70000 is sent as 4464).
            const auto value = static_cast<uint16_t>(static_cast<unsigned long long>(*r.Row.Value) & 0xFFFF);
            const bool ok = master.WriteHoldingReg(static_cast<uint16_t>(*r.Row.Reg), value);
            result[r.Key] = {{"register", *r.Row.Reg}, {"value", value}, {"ok", ok}};
            if (ok) {
                ++written;
                done.push_back(r.Label);
            } else {
                failed.push_back(r.Label);
            }
        }
    } catch (const EComPort &e) {
        TellWritten();
        return ReportPortProblem(result, Opt.Port, PortProblemOf(e));
    }
    if (written > 0) {
        result.Text(CRestart);
        result["message"] = CRestart;
    }
    if (failed.empty()) return result.Finish(ExitOk);
    // A partial success is still a failure: say which settings were not written.
    if (written == 0) return result.Fail(ExitFailed, CWriteError);
    for (const std::string &label : failed) result.ErrorText(label + ": " + CWriteError);
    return result.Finish(ExitFailed);
}
