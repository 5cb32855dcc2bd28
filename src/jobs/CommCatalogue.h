#pragma once
// The comm setup by name: which kind of sensor sits at an address (read as
// the scan reads it) and what the settings file's catalogue says about its
// comm settings (settings/Settings.h, TSensorComm).

#include <optional>
#include <string>

#include "jobs/RegisterJob.h"
#include "jobs/SensorIdentify.h"
#include "settings/Settings.h"

static_assert(CCommRowCount == CommSettingCount, "one catalogue row per comm setting");

// The sensor at the target's address, identified by its vendor text and
// device code.
struct TSensorAt {
    bool Opened = false;
    std::optional<EComPort> OpenError;  // why the port did not open
    TSensorIdentity Id;
};

// Opens the port, reads the identification registers of the sensor at
// Target.Addr and closes the port. Port errors in the middle raise
// EComPort, a stop request EInterrupted.
TSensorAt IdentifySensorAt(const TModbusTarget &Target, const TLineMaker &Make = MakeLine);

// The catalogue's comm settings of an identified sensor; nullptr when the
// sensor was not identified or the catalogue does not describe its kind.
const TSensorComm *CommOfSensor(const TSensorIdentity &Id, const TSettings &Catalogue);

// The rows with the catalogue's register where Rows leave it out and, for a
// write, the row has a value (a read takes every register of the kind
// when no row names one). Rows that name a register keep it.
TCommSettings CommRowsFromCatalogue(const TCommSettings &Rows, const TSensorComm &Comm,
                                    bool Writing);

// A value with its meaning: "4 (19200 baud)"; "4" without one.
std::string CommValueText(uint16_t Value, const std::string &Meaning);
