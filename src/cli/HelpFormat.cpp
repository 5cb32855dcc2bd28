#include "cli/HelpFormat.h"

#include <cctype>
#include <sstream>
#include <vector>

namespace {

// Placeholders line up at this column; descriptions fill the rest of 80.
constexpr size_t CNameColumn = 26;
constexpr size_t CLineWidth = 80;

std::string Placeholder(const CLI::Option *Opt) {
    if (!Opt->get_option_text().empty()) return Opt->get_option_text();
    std::string name = Opt->get_lnames().empty() ? "VALUE" : Opt->get_lnames().front();
    for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// Flags have no type name (and no checks); every option with a value has.
bool TakesValue(const CLI::Option *Opt) {
    return Opt->get_type_size() != 0 && !Opt->get_type_name().empty();
}

bool Repeats(const CLI::Option *Opt) {
    return Opt->get_expected_max() >= CLI::detail::expected_max_vector_size;
}

// "-p" if it has a short name, else "--port".
std::string ShortestName(const CLI::Option *Opt) {
    if (!Opt->get_snames().empty()) return "-" + Opt->get_snames().front();
    if (!Opt->get_lnames().empty()) return "--" + Opt->get_lnames().front();
    return Opt->get_name();
}

}  // namespace

std::string WrapText(const std::string &Text, size_t Width) {
    std::string out;
    std::istringstream lines(Text);
    bool firstLine = true;
    for (std::string line; std::getline(lines, line);) {
        if (!firstLine) out += '\n';
        firstLine = false;
        std::istringstream words(line);
        size_t used = 0;
        for (std::string word; words >> word;) {
            if (used > 0 && used + 1 + word.size() > Width) {
                out += '\n';
                used = 0;
            } else if (used > 0) {
                out += ' ';
                ++used;
            }
            out += word;
            used += word.size();
        }
    }
    return out;
}

THelpFormatter::THelpFormatter() {
    column_width(CNameColumn);
}

std::string THelpFormatter::make_option_opts(const CLI::Option *Opt) const {
    if (Opt->get_positional() || !TakesValue(Opt)) return "";
    return " " + Placeholder(Opt);
}

std::string THelpFormatter::make_option_desc(const CLI::Option *Opt) const {
    std::string desc = Opt->get_description();
    std::vector<std::string> notes;
    // A positional's usage line says that it is required.
    if (Opt->get_required() && !Opt->get_positional()) notes.emplace_back("required");
    if (TakesValue(Opt) && !Opt->get_default_str().empty())
        notes.push_back("default " + Opt->get_default_str());
    for (const CLI::Option *need : Opt->get_needs()) notes.push_back("with " + need->get_name());
    if (!notes.empty()) {
        desc += " (";
        for (size_t i = 0; i < notes.size(); ++i) desc += (i ? ", " : "") + notes[i];
        desc += ")";
    }
    return WrapText(desc, CLineWidth - CNameColumn);
}

std::string THelpFormatter::make_usage(const CLI::App *App, std::string Name) const {
    const auto required = App->get_options([](const CLI::Option *Opt) {
        return Opt->nonpositional() && Opt->get_required() && TakesValue(Opt);
    });
    for (const CLI::Option *opt : required) {
        const std::string one = ShortestName(opt) + " " + Placeholder(opt);
        Name += " " + one;
        if (Repeats(opt)) Name += " [" + one + "]...";
    }
    return CLI::Formatter::make_usage(App, Name);
}

std::string CommandPath(const CLI::App &Cmd) {
    std::string path = Cmd.get_name();
    for (const CLI::App *up = Cmd.get_parent(); up; up = up->get_parent())
        path = up->get_name() + " " + path;
    return path;
}

std::string UsageErrorText(const CLI::App &Cmd, const std::string &Message) {
    const std::string path = CommandPath(Cmd);
    const auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(Cmd.get_formatter());
    const std::string usage =
        formatter ? formatter->make_usage(&Cmd, path) : "Usage: " + path + " [OPTIONS]\n";
    return Message + "\n" + usage + "Try '" + path + " --help'.\n";
}
