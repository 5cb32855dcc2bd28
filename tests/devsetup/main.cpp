#include <gtest/gtest.h>

#include <QApplication>

#include "shell/Application.h"

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication App(argc, argv);
    InitShellResources();
    return RUN_ALL_TESTS();
}
