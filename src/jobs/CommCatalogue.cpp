#include "jobs/CommCatalogue.h"

TSensorAt IdentifySensorAt(const TModbusTarget &Target, const TLineMaker &Make) {
    TSensorAt Result;
    TModbusLine Line(Make(Target.Port));
    TModbusRTU &Master = Line.Master();
    Result.Opened = Line.Open(Target.Params);
    if (!Result.Opened) {
        Result.OpenError = Master.OpenError();
        return Result;
    }
    Result.Id = ReadSensorIdentity(Master, static_cast<uint8_t>(Target.Addr));
    return Result;
}

const TSensorComm *CommOfSensor(const TSensorIdentity &Id, const TSettings &Catalogue) {
    if (!Id.Identified || Id.SensorID < 0) return nullptr;
    return Catalogue.SensorComm(Id.SensorID);
}

TCommSettings CommRowsFromCatalogue(const TCommSettings &Rows, const TSensorComm &Comm,
                                    bool Writing) {
    TCommSettings Result = Rows;
    bool AnyReg = false;
    for (const TCommSetting &Row : Rows) AnyReg = AnyReg || Row.Reg.has_value();
    for (size_t I = 0; I < Result.size(); ++I) {
        TCommSetting &Row = Result[I];
        if (Row.Reg || !Comm.Reg[I]) continue;
        if (Writing ? Row.Value.has_value() : !AnyReg) Row.Reg = *Comm.Reg[I];
    }
    return Result;
}

std::string CommValueText(uint16_t Value, const std::string &Meaning) {
    std::string Text = std::to_string(Value);
    if (!Meaning.empty()) Text += " (" + Meaning + ")";
    return Text;
}
