#pragma once
// The folder the last firmware file was picked from, so that the open-file
// dialogue starts there next time. It is the user's own state, kept apart
// from the shared settings file (which the program never writes):
// recent.ini in the user's configuration folder for veldra-update.

#include <QString>

// The remembered folder, or "" when there is none or it has gone.
QString LastFirmwareFolder();
// Remembers the folder of File.
void RememberFirmwareFolder(const QString &File);
