#include "fwupdate/FirmwareFolder.h"

#include <QFileInfo>
#include <QSettings>

namespace {

const char CKey[] = "firmware/folder";

// recent.ini in the user's configuration folder for veldra-update.
class TRecent : public QSettings {
public:
    TRecent()
        : QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("veldra-update"),
                    QStringLiteral("recent")) {}
};

}  // namespace

QString LastFirmwareFolder() {
    const QString Folder = TRecent().value(QLatin1String(CKey)).toString();
    return !Folder.isEmpty() && QFileInfo(Folder).isDir() ? Folder : QString();
}

void RememberFirmwareFolder(const QString &File) {
    TRecent().setValue(QLatin1String(CKey), QFileInfo(File).absolutePath());
}
