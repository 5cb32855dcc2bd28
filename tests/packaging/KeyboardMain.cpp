// The keyboard tests run inside the program's own application object.

#include "shell/Application.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication App(argc, argv);
    return RUN_ALL_TESTS();
}
