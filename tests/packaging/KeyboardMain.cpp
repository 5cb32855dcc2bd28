// The keyboard tests run inside the program's own application object.

#include <gtest/gtest.h>

#include <QSettings>

#include "TempDir.h"
#include "app/Application.h"

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tests check the English source texts, whatever the machine's
    // language (the translation test switches it itself).
    qputenv("LANGUAGE", "C");
    ::testing::InitGoogleTest(&argc, argv);
    // What the windows keep for the user goes to a folder of the run.
    const TTempDir UserConfig;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(UserConfig.Path()));
    TApplication App(argc, argv);
    return RUN_ALL_TESTS();
}
