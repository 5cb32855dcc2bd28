#include <gtest/gtest.h>

#include <QApplication>

#include "widgets/WindowHelpers.h"

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication App(argc, argv);
    InitWidgetResources();
    return RUN_ALL_TESTS();
}
