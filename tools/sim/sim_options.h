// The command line of nasscout-sim.
#pragma once

#include "sim_device.h"

#include <string>
#include <vector>

namespace sim {

struct SimOptions {
    std::vector<SimDevice> devices;  // from --device, --devices and --count, in that order
    int maxDelayMs = 0;              // each answer to a search waits a random 0..maxDelayMs
    bool verbose = false;
};

enum class OptionsResult {
    Run,    // `options` is filled and every device checked
    Help,   // `message` holds the help text, or the version line, for standard output
    Error,  // `message` says what is wrong, naming the option or file, on one printable line
};

OptionsResult ParseOptions(int argc, const char* const* argv, SimOptions& options, std::string& message);

}  // namespace sim
