#include "jobs/ScanJob.h"

#include <utility>

#include "serial/Interrupt.h"
#include "settings/Settings.h"

int ScanProgress(int A, int Last) {
    return Last > 0 ? A * 100 / Last : 0;
}

void NameSensor(const TSensorIdentity &Id, const TSettings &Catalogue, std::string &DeviceCode,
                std::string &Version) {
    DeviceCode = Version = "N/A";
    if (!Id.Identified) return;
    if (Id.SensorID >= 0) DeviceCode = Catalogue.SensorIDToName(Id.SensorID);
    if (Id.VersionRegister >= 0) {
        int Major = -1, Minor = -1;
        VersionFromRegister(static_cast<uint16_t>(Id.VersionRegister), Major, Minor);
        Version = Catalogue.SensorVersionToString(Major, Minor);
    }
}

TScanResult RunScanJob(const TScanOptionsJob &Options, const TSettings &Catalogue,
                       const std::atomic<bool> &Stop, const TScanReport &OnStep,
                       const TLineMaker &Make) {
    TScanResult Result;
    // One line and master for the whole range; the device address goes with
    // each request. The port is still opened and closed for every address,
    // so an address whose open fails only counts as silent.
    TModbusLine Line(Make(Options.Port));
    TModbusRTU &Master = Line.Master();
    for (int A = Options.First; A <= Options.Last && !Stop; ++A) {
        const auto Addr = static_cast<uint8_t>(A);
        const TScanDevice *Device = nullptr;
        try {
            const bool Opened = Line.Open(Options.Params);
            if (!Opened) {
                EComPort Error =
                    Master.OpenError() ? *Master.OpenError() : EComPort(CError_OpenFailed);
                if (Options.StopOnOpenFailure) {
                    Result.PortError = std::move(Error);
                    Result.OpenFailedFirst = A == Options.First;
                    break;
                }
                ++Result.OpenFailures;
                if (!Result.OpenError) Result.OpenError = std::move(Error);
            }
            if (Opened && Master.Scan(Addr, ScanProbeReg)) {
                ++Result.Found;
                TScanDevice Found;
                Found.Address = A;
                // A device that answered is listed even when the port fails
                // while it is being identified.
                try {
                    Found.Id = ReadSensorIdentity(Master, Addr);
                } catch (const EComPort &E) {
                    Found.Id = TSensorIdentity{};
                    Result.PortError = E;
                }
                NameSensor(Found.Id, Catalogue, Found.DeviceCode, Found.Version);
                Result.Devices.push_back(std::move(Found));
                Device = &Result.Devices.back();
            }
        } catch (const EComPort &E) {
            Result.PortError = E;
            Result.Uncounted = true;
            break;
        } catch (const EInterrupted &) {
            // A signal asked the program to stop: this address is left
            // uncounted, what was found stays.
            Result.Stopped = true;
            return Result;
        }
        Master.Close();
        ++Result.Scanned;
        if (OnStep)
            OnStep({A, Result.Scanned, Result.Found, ScanProgress(A, Options.Last), Device});
        if (Result.PortError) break;
    }
    Result.Stopped = Stop;
    return Result;
}
