#pragma once
// The options that only ask the program about itself (--help, --version).
// They are answered before anything graphical starts, so they work on a
// terminal without a display.

#include <optional>

// When argv asks for help or the version: prints it on standard output and
// returns the exit status; otherwise nullopt and the program starts.
std::optional<int> AnswerInfoOptions(int argc, char **argv);
