#pragma once
// The scan for sensors on a Modbus line: every address of a range is probed,
// a device that answers is identified and named through the catalogue.

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobs/SensorIdentify.h"
#include "modbus/ModbusLine.h"
#include "modbus/ModbusRTU.h"
#include "serial/LineTypes.h"

class TSettings;

struct TScanDevice {
    int Address = 0;
    TSensorIdentity Id;              // raw IDs as read
    std::string DeviceCode = "N/A";  // named through the catalogue
    std::string Version = "N/A";
};

// After each address: the counts so far and the device found there, if any.
struct TScanStep {
    int Address = 0;
    int Scanned = 0, Found = 0;
    int Percent = 0;
    const TScanDevice *Device = nullptr;
};
using TScanReport = std::function<void(const TScanStep &Step)>;

struct TScanOptionsJob {
    std::string Port;
    TPortParams Params;
    int First = 1, Last = 247;
    // Stop at the first address whose port does not open (the command
    // line); otherwise that address counts as scanned and empty.
    bool StopOnOpenFailure = false;
};

struct TScanResult {
    int Scanned = 0, Found = 0;
    bool Stopped = false;  // the stop flag was set, or a stop request (EInterrupted) ended it
    std::vector<TScanDevice> Devices;
    // A port error ended the scan (a failed open too when asked to stop on
    // one); OpenFailedFirst when it was the open of the first address,
    // Uncounted when it hit an address before it was counted as scanned.
    std::optional<EComPort> PortError;
    bool OpenFailedFirst = false;
    bool Uncounted = false;
    // Addresses whose port did not open when the scan went on past them,
    // and the first one's reason.
    int OpenFailures = 0;
    std::optional<EComPort> OpenError;
    // The port opened for none of the addresses scanned: nothing could
    // have been found.
    bool NeverOpened() const { return Scanned > 0 && OpenFailures == Scanned; }
};

// Progress of a scan after address A of a range ending at Last, in percent.
int ScanProgress(int A, int Last);

// Scans the range; Stop is looked at before every address and may be set
// from another thread (or a signal handler). A stop request of the process
// (serial/Interrupt.h) ends the address in progress at once, uncounted.
// The line comes from Make (the link factory's MakeLine by default).
TScanResult RunScanJob(const TScanOptionsJob &Options, const TSettings &Catalogue,
                       const std::atomic<bool> &Stop, const TScanReport &OnStep,
                       const TLineMaker &Make = MakeLine);

// Names a sensor identity through the catalogue.
void NameSensor(const TSensorIdentity &Id, const TSettings &Catalogue, std::string &DeviceCode,
                std::string &Version);
