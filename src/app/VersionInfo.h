#pragma once
// Version information of a file. For the program's own executable the
// strings come from the build; for any other file only the type name (from
// the MIME database) is known.

#include <QString>
#include <cstdint>

struct TFileVersionInfo {
    QString FileType;
    QString CompanyName;
    QString FileDescription;
    QString FileVersion;
    QString InternalName;
    QString LegalCopyRight;
    QString LegalTradeMarks;
    QString OriginalFileName;
    QString ProductName;
    QString ProductVersion;
    QString Comments;
    QString SpecialBuildStr;
    QString PrivateBuildStr;
    QString FileFunction;
    bool DebugBuild = false;
    bool PreRelease = false;
    bool SpecialBuild = false;
    bool PrivateBuild = false;
    bool Patched = false;
    bool InfoInferred = false;
};

// The fixed part of a version block.
struct TFixedFileInfo {
    uint32_t FileFlagsMask = 0;
    uint32_t FileFlags = 0;
    uint32_t FileType = 0;  // 1 application, 2 library, 3 driver, 4 font, ...
    uint32_t FileSubtype = 0;
};

enum : uint32_t {
    kFlagDebug = 0x01,
    kFlagPreRelease = 0x02,
    kFlagPatched = 0x04,
    kFlagPrivateBuild = 0x08,
    kFlagInfoInferred = 0x10,
    kFlagSpecialBuild = 0x20,
};

void ReadFileVersionInfo(const QString &FileName, TFileVersionInfo &Info);
QString FileFunctionText(const TFixedFileInfo &Fixed);
