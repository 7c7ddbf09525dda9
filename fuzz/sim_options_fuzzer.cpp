// nasscout-sim's command line through its option parse: the input split at
// zero bytes into arguments. Arguments with a '/' are refused, so that
// --devices reads only files of the working directory (scripts/fuzz.sh runs
// each target in a directory of its own) and never a device or a pipe that
// would block.
#include "sim_checks.h"
#include "tools/sim/sim_options.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments{"nasscout-sim"};
    const char* text = reinterpret_cast<const char*>(data);
    for (std::size_t at = 0; at <= size;) {
        const std::size_t length = strnlen(text + at, size - at);
        arguments.emplace_back(text + at, length);
        if (arguments.back().find('/') != std::string::npos) return -1;
        at += length + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());

    sim::SimOptions options;
    std::string message;
    switch (sim::ParseOptions(static_cast<int>(argv.size()), argv.data(), options, message)) {
    case sim::OptionsResult::Run:
        FUZZ_CHECK(!options.devices.empty());
        for (const sim::SimDevice& device : options.devices) fuzz::CheckReadsBack(device);
        break;
    case sim::OptionsResult::Help:
        FUZZ_CHECK(!message.empty());
        break;
    case sim::OptionsResult::Error:
        FUZZ_CHECK(fuzz::IsOnePrintableLine(message));
        break;
    }
    return 0;
}
