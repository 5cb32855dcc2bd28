#include "widgets/SettingsLocation.h"

#include <QDir>
#include <QStandardPaths>

#include "settings/Settings.h"
#include "settings/SettingsLookup.h"

QString LocateSettingsFile() {
    std::vector<std::string> Candidates;
    const QStringList Folders =
        QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    for (const QString &Folder : Folders) {
        // Relative entries of $XDG_CONFIG_HOME or $XDG_CONFIG_DIRS are
        // invalid; Qt 6.4 would take them from the working folder.
        if (!QDir::isAbsolutePath(Folder)) continue;
        Candidates.push_back(SettingsFileIn(QFile::encodeName(Folder).toStdString()));
    }
    Candidates.push_back(DefaultSettingsFileName());
    return QFile::decodeName(FirstSettingsFile(Candidates).c_str());
}
