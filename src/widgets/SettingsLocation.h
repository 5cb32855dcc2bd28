#pragma once
// The settings file of the windows: the first regular file among
// QStandardPaths' configuration folders (the user's, then the system's),
// each with veldra-update/veldra-update.ini, and then the executable's path
// with ".ini". The command line finds the same file through
// FindSettingsFile() (settings/SettingsLookup.h).

#include <QString>

// The file to read, "" when there is none.
QString LocateSettingsFile();
