// ports and info: the commands that need no sensor.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "bootloader/CodFile.h"
#include "cli/Commands.h"
#include "jobs/FirmwareJob.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"

int RunPorts(TCliContext &Ctx) {
    TResult result(Ctx, "ports");
    std::vector<TComListData> list;
    EnumComPorts(list);
    // Its one safe point: a signal during the listing ends it here.
    if (const int sig = InterruptSignal()) return result.Stopped(sig);
    result["ports"] = nlohmann::json::array();
    for (const TComListData &p : list) {
        result.Text(p.DeviceID + "\t" + p.Description);
        result["ports"].push_back({{"device_id", p.DeviceID}, {"description", p.Description}});
    }
    return result.Finish(ExitOk);
}

nlohmann::json FirmwareJson(const TSettings &Settings, const TCODFileData &Hdr) {
    return {{"device_id", Hdr.DeviceID},
            {"device", Settings.SensorIDToName(Hdr.DeviceID)},
            {"version", Settings.SensorVersionToString(Hdr.Version.Hi, Hdr.Version.Lo)},
            {"version_major", Hdr.Version.Hi},
            {"version_minor", Hdr.Version.Lo},
            {"processor", Hdr.ProcessorType},
            {"header_size", Hdr.HeaderSize},
            {"file_size", Hdr.FileSize}};
}

bool CheckFirmwareFile(TResult &Result, const std::string &File, TFirmwareImage &Image,
                       bool KeepBytes) {
    Result["file"] = File;
    struct stat st {};
    if (::stat(File.c_str(), &st) != 0) {
        Result.ErrorText(File + ": " + std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        Result.ErrorText(File + ": " + std::strerror(EISDIR));
        return false;
    }
    try {
        Image = KeepBytes ? LoadFirmwareImage(File) : CheckFirmwareImage(File);
    } catch (const EFileError &e) {
        Result.ErrorText(e.what());
        return false;
    }
    if (Image.Ok()) return true;
    if (Image.Load == TCodLoad::TooBig) Result["packets"] = Image.Hdr.PacketCount();
    Result.ErrorText(JobText(Image.Problem()));
    // Which check refused it, on the next line.
    if (const TJobReason Why = Image.CheckReason(); !Why.Empty()) {
        Result.ErrorText(JobText(Why));
        Result["reason"] = JobText(Why);
    }
    return false;
}

int RunInfo(TCliContext &Ctx, const std::string &File) {
    TResult result(Ctx, "info");
    TFirmwareImage image;
    const bool ok = CheckFirmwareFile(result, File, image, false);
    // Its one safe point: a signal during the reading ends it here.
    if (const int sig = InterruptSignal()) return result.Stopped(sig);
    const TCODFileData &hdr = image.Hdr;
    // A sound file too big to upload is still described.
    if (!ok && hdr.HeaderSize == 0) return result.Finish(ExitFailed);
    const nlohmann::json fw = FirmwareJson(*Ctx.Settings, hdr);
    result.Text("Device ID: " + fw["device"].get<std::string>());
    result.Text("Version: " + fw["version"].get<std::string>());
    result.Text("Processor: " + hdr.ProcessorType);
    result.Json().update(fw);
    return result.Finish(ok ? ExitOk : ExitFailed);
}
