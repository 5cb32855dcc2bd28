#pragma once
// Running veldra-cli as a user would, with a settings file of the tests.

#include <string>
#include <vector>

#include "SimProcess.h"
#include "TempDir.h"

// A settings file naming sensors 7, 17, 300 and 1042, with short update limits.
std::string WriteTestSettings(const TTempDir &Dir);

// veldra-cli --settings <Settings> Args...
TRunResult RunCliWith(const std::string &Settings, const std::vector<std::string> &Args,
                      const std::string &Stdin = "", const std::vector<std::string> &ExtraEnv = {});

// Lines of a text, without their newlines.
std::vector<std::string> SplitLines(const std::string &Text);
bool Contains(const std::string &Text, const std::string &Part);
