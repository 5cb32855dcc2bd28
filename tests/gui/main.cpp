// The window tests run inside the real application object, so that its
// default error handler is the one under test.

#include <gtest/gtest.h>

#include <QSettings>

#include "TempDir.h"
#include "app/Application.h"

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    // The tests check the English source texts, whatever the machine's
    // language (the translation test switches it itself).
    qputenv("LANGUAGE", "C");
    ::testing::InitGoogleTest(&argc, argv);
    // What the windows keep for the user (the last firmware folder) goes to
    // a folder of the run, never to the tester's own configuration.
    const TTempDir UserConfig;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(UserConfig.Path()));
    TApplication App(argc, argv);
    return RUN_ALL_TESTS();
}
