#include "jobs/FirmwareJob.h"

#include <exception>
#include <string>
#include <utility>

void ApplyUpdateLimits(TXComm &Link, const TFWUpdSettings &Limits) {
    Link.SetMaxRetry(Limits.MaxRetry);
    Link.SetMaxFails(Limits.MaxFails);
    Link.SetDefTimeout(Limits.DefTimeout < 0 ? 0u : static_cast<uint32_t>(Limits.DefTimeout));
}

TBootLine::TBootLine(TLine Line, const TFWUpdSettings &Limits)
    : FLine(std::move(Line)), FXComm(*FLine.Link) {
    FXComm.SetClock(*FLine.Clock);
    ApplyUpdateLimits(FXComm, Limits);
}

TBootLine::TBootLine(const std::string &Port, const TFWUpdSettings &Limits)
    : TBootLine(MakeLine(Port), Limits) {}

TBootSensor IdentifyBootSensor(TBootLine &Line) {
    TBootSensor Sensor;
    if (Line.Address().Kind == TLineKind::ModbusGateway) {
        // A gateway speaks Modbus only; the bootloader protocol needs the
        // line itself.
        Sensor.PortError = EComPort(
            CError_OpenFailed, -1,
            "a Modbus TCP gateway does not carry firmware updates; use rfc2217:// or tcp://");
        return Sensor;
    }
    TXComm &Link = Line.XComm();
    if (!Link.Open(Line.Address().Port)) {
        Sensor.PortError = Link.OpenError();
        return Sensor;
    }
    Sensor.Found = true;
    Sensor.SensorID = Link.SensorID();
    Sensor.Version = Link.Version();
    Sensor.BaudRate = Link.BaudRate();
    return Sensor;
}

TJobReason TFirmwareImage::Problem() const {
    switch (Load) {
        case TCodLoad::Ok:
            return {};
        case TCodLoad::TooBig:
            return {TJobText::TooBigToUpload,
                    {std::to_string(Hdr.PacketCount()), std::to_string(CMaxDataPackets)}};
        default:
            return TJobText::InvalidCodFile;
    }
}

TJobReason TFirmwareImage::CheckReason() const {
    if (Load != TCodLoad::Invalid) return {};
    switch (Check) {
        case TCodCheck::None:
            return {};
        case TCodCheck::TooShort:
            return TJobText::CodTooShort;
        case TCodCheck::WrongSize:
            return TJobText::CodWrongSize;
        case TCodCheck::HeaderChecksum:
            return TJobText::CodBadHeader;
        case TCodCheck::ImageChecksum:
            return TJobText::CodBadChecksum;
    }
    return {};
}

TFirmwareImage LoadFirmwareImage(const std::string &Path) {
    TFirmwareImage Image;
    Image.Load = LoadFirmware(Path, Image.Bytes, Image.Hdr, &Image.Check);
    if (!Image.Ok()) Image.Bytes.clear();
    return Image;
}

TFirmwareImage CheckFirmwareImage(const std::string &Path) {
    TFirmwareImage Image;
    Image.Load = CheckFirmware(Path, Image.Hdr, &Image.Check);
    return Image;
}

TUpdateCheck CheckUpdate(uint16_t SensorID, TSensorVersion Sensor, const TCODFileData &Hdr) {
    TUpdateCheck Check;
    if (Hdr.DeviceID != SensorID) {
        Check.Refusal = TJobText::Mismatch;
        return Check;
    }
    const TSensorVersion &File = Hdr.Version;
    if (Sensor.Hi > File.Hi || (Sensor.Hi == File.Hi && Sensor.Lo > File.Lo))
        Check.Question = TVersionQuestion::Older;
    else if (Sensor == File)
        Check.Question = TVersionQuestion::Same;
    return Check;
}

TJobText QuestionText(TVersionQuestion Question) {
    switch (Question) {
        case TVersionQuestion::Older:
            return TJobText::OlderQuestion;
        case TVersionQuestion::Same:
            return TJobText::SameQuestion;
        default:
            return TJobText::None;
    }
}

TUploadResult UploadFirmware(TXComm &Link, const TFirmwareImage &Image,
                             const TOnProgress &OnProgress) {
    TUploadResult Result;
    if (!Image.Ok()) return Result;
    try {
        Result.Ok = Link.UploadImage(Image.Bytes, Image.Hdr, [&](int Sent, int Fail, int Progress) {
            Result.Sent = Sent;
            Result.Fail = Fail;
            Result.Progress = Progress;
            if (OnProgress) OnProgress(Sent, Fail, Progress);
        });
        if (const auto &Early = Link.EarlyCompletion())
            Result.Error = {TJobText::EarlyCompletion,
                            {std::to_string(Early->Packet), std::to_string(Early->Packets)}};
    } catch (const std::exception &E) {
        // The file or the port failed (an unplugged adapter, say): a failed
        // update.
        Result.Ok = false;
        Result.Error = {TJobText::UploadStopped, {E.what()}};
    }
    return Result;
}
