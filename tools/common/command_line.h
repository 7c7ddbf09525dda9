// The tools' one way through a command line: Boost.Program_options reads it
// against the options, --help answers with the usage, the options and the
// details, --version with the version line, and an option error becomes one
// printable line that names the option (OptionErrorText).
#pragma once

#include <boost/program_options.hpp>

#include <string>

namespace tools {

enum class CommandLineResult {
    Run,      // `values` holds the command line, notified
    Help,     // `message` holds the help text for standard output
    Version,  // `message` holds the version line for standard output
    Error,    // `message` says what is wrong, naming the option
};

// What --help and --version say.
struct CommandLineTexts {
    const char* usage;               // before the options, ending in a line feed
    const char* details = "";        // after them
    const char* version = nullptr;   // "PROGRAM VERSION", where the options have "version"
};

// Reads the argc arguments of argv against `shown`, the options --help lists,
// and `hidden`, with `operands` naming where arguments without an option go.
// An option of one value given more than once keeps the last (aliases add
// options); an option that collects values keeps them all.
CommandLineResult ReadCommandLine(int argc, const char* const* argv,
                                  const boost::program_options::options_description& shown,
                                  const CommandLineTexts& texts, boost::program_options::variables_map& values,
                                  std::string& message,
                                  const boost::program_options::options_description* hidden = nullptr,
                                  const boost::program_options::positional_options_description* operands = nullptr);

// True when `value` lies in `lowest` to `highest`; otherwise false, with
// "OPTION VALUE is outside LOWEST to HIGHEST" in `message`.
bool InRange(const char* option, long long value, long long lowest, long long highest, std::string& message);

}  // namespace tools
