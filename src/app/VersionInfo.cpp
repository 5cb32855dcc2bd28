#include "app/VersionInfo.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMimeDatabase>

#include "Version.h"

namespace {

// What the build writes into the program's own version block.
void FillOwnVersion(TFileVersionInfo &Info, TFixedFileInfo &Fixed) {
    const QString Version = QString::fromLatin1(veldra::kVersion);
    Info.CompanyName = QStringLiteral("Veldra Sensors");
    Info.FileDescription = QStringLiteral("Veldra-Update service tool");
    Info.FileVersion = Version;
    Info.InternalName = QStringLiteral("veldra-update");
    Info.LegalCopyRight = QStringLiteral("Copyright (C) 2026 Veldra Sensors");
    Info.OriginalFileName = QStringLiteral("veldra-update");
    Info.ProductName = QStringLiteral("Veldra-Update");
    Info.ProductVersion = Version;
    Fixed.FileType = 1;  // application
    Fixed.FileFlagsMask = 0x3F;
#ifndef NDEBUG
    Fixed.FileFlags |= kFlagDebug;
#endif
}

bool IsOwnExecutable(const QFileInfo &File) {
    if (!QCoreApplication::instance()) return false;
    const QFileInfo Own(QCoreApplication::applicationFilePath());
    const QString A = File.canonicalFilePath();
    return !A.isEmpty() && A == Own.canonicalFilePath();
}

bool Flag(const TFixedFileInfo &Fixed, uint32_t Bit) {
    return (Fixed.FileFlags & Fixed.FileFlagsMask & Bit) != 0;
}

}  // namespace

void ReadFileVersionInfo(const QString &FileName, TFileVersionInfo &Info) {
    Info = TFileVersionInfo{};
    const QFileInfo File(FileName);
    if (!File.exists()) return;
    const QMimeType Type = QMimeDatabase().mimeTypeForFile(File);
    if (Type.isValid()) Info.FileType = Type.comment().left(80);

    // Only our own executable carries version information on this platform.
    if (!File.isExecutable() || !IsOwnExecutable(File)) return;
    TFixedFileInfo Fixed;
    FillOwnVersion(Info, Fixed);
    Info.DebugBuild = Flag(Fixed, kFlagDebug);
    Info.PreRelease = Flag(Fixed, kFlagPreRelease);
    Info.PrivateBuild = Flag(Fixed, kFlagPrivateBuild);
    Info.SpecialBuild = Flag(Fixed, kFlagSpecialBuild);
    Info.Patched = Flag(Fixed, kFlagPatched);
    Info.InfoInferred = Flag(Fixed, kFlagInfoInferred);
    Info.FileFunction = FileFunctionText(Fixed);
}

QString FileFunctionText(const TFixedFileInfo &Fixed) {
    static const char *const Drivers[] = {
        "Unknown Driver",    "Printer Driver", "Keyboard Driver",      "Language Driver",
        "Display Driver",    "Mouse Driver",   "Network Driver",       "System Driver",
        "InstallableDriver", "Sound Driver",   "Communications Driver"};
    static const char *const Fonts[] = {"Unknown Font", "Raster Font", "Vector Font",
                                        "Truetype Font"};
    switch (Fixed.FileType) {
        case 0:
            return QStringLiteral("Unknown");
        case 1:
            return QStringLiteral("Application");
        case 2:
            return QStringLiteral("DLL");
        case 3:
            return Fixed.FileSubtype <= 10 ? QString::fromLatin1(Drivers[Fixed.FileSubtype])
                                           : QString();
        case 4:
            return Fixed.FileSubtype <= 3 ? QString::fromLatin1(Fonts[Fixed.FileSubtype])
                                          : QString();
        case 5:
            return QStringLiteral("Virtual Defice Identifier = ") +
                   QStringLiteral("%1").arg(Fixed.FileSubtype, 8, 16, QLatin1Char('0')).toUpper();
        case 7:
            return QStringLiteral("Static-link Library");
        default:
            return QString();
    }
}
