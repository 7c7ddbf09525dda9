// The command line of nasscout-cli.
#pragma once

#include <string>

namespace cli {

struct CliOptions {
    int seconds = 11;           // search window of a single search
    bool json = false;          // JSON lines instead of the table or text lines
    bool watch = false;         // keep searching and report changes until stopped
    int intervalSeconds = 10;   // --watch: time from one search pass to the next
    std::string logDirectory;   // empty: no search log; otherwise ends in '/'
    bool multiCommand = true;   // per-address workers
    bool verbose = false;       // the engine's log lines and the store's lines on standard error
    bool allMakes = false;      // every vendor of the protocol, and DNS-SD hosts with a file service
};

enum class OptionsResult {
    Run,      // `options` is filled and checked
    Help,     // `message` holds the help text for standard output
    Version,  // `message` holds the version line for standard output
    Error,    // `message` says what is wrong, naming the option
};

OptionsResult ParseOptions(int argc, const char* const* argv, CliOptions& options, std::string& message);

}  // namespace cli
