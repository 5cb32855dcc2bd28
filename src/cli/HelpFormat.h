#pragma once
// How the command line shows its help and its usage errors: each option with
// a plain placeholder (PORT, ADDR, MS) instead of the parser's type and
// check annotations, "required", the default and the options it needs said
// in words after the description, descriptions wrapped to the terminal's
// usual 80 columns; a usage error as the error, the command's usage line
// and where its help is.

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

class THelpFormatter : public CLI::Formatter {
public:
    THelpFormatter();
    // The placeholder: the option's option_text, else its long name in
    // capitals; nothing for flags and positionals (their name says it).
    std::string make_option_opts(const CLI::Option *Opt) const override;
    // The description, then "(required)", "(default X)" or "(with --Y)".
    std::string make_option_desc(const CLI::Option *Opt) const override;
    // As the parser's, with each required option named first with its
    // placeholder: "Usage: veldra-cli read -p PORT -a ADDR -r REG [OPTIONS]".
    std::string make_usage(const CLI::App *App, std::string Name) const override;
};

// The words that start a command: "veldra-cli comm read".
std::string CommandPath(const CLI::App &Cmd);

// The text of a usage error: the message, the command's usage line and
// "Try 'veldra-cli read --help'.", each on a line of its own.
std::string UsageErrorText(const CLI::App &Cmd, const std::string &Message);

// Text wrapped at blanks into lines of at most Width characters (a longer
// word stands alone); line breaks already in it are kept.
std::string WrapText(const std::string &Text, size_t Width);
