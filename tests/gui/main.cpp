// The window tests run inside the real application object, so that its
// default error handler is the one under test.

#include <gtest/gtest.h>

#include "app/Application.h"

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    // The tests check the English source texts, whatever the machine's
    // language (the translation test switches it itself).
    qputenv("LANGUAGE", "C");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication App(argc, argv);
    return RUN_ALL_TESTS();
}
