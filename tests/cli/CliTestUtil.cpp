#include "CliTestUtil.h"

#include <sstream>

std::string WriteTestSettings(const TTempDir &Dir) {
    return Dir.Write("veldra-cli.ini",
                     "[SETTINGS]\nMAX_RETRY=3\nMAX_FAILS=5\nTIMEOUT=1000\n"
                     "[SENSORS]\n7=Probe A\n17=Probe Q\n300=Probe W\n1042=Probe B\n");
}

TRunResult RunCliWith(const std::string &Settings, const std::vector<std::string> &Args,
                      const std::string &Stdin, const std::vector<std::string> &ExtraEnv) {
    std::vector<std::string> argv{VELDRA_CLI_PATH, "--settings", Settings};
    argv.insert(argv.end(), Args.begin(), Args.end());
    return RunProgram(argv, Stdin, ExtraEnv);
}

std::vector<std::string> SplitLines(const std::string &Text) {
    std::vector<std::string> lines;
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool Contains(const std::string &Text, const std::string &Part) {
    return Text.find(Part) != std::string::npos;
}
