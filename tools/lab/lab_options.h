// The command line of nasscout-lab.
#pragma once

#include "dnssd_host_file.h"
#include "tools/sim/sim_device.h"

#include <string>
#include <vector>

namespace lab {

// One simulated device and when it goes.
struct LabDevice {
    sim::SimDevice device;
    int leaveAfterSeconds = 0;  // says bye-bye and goes this long after the start; 0: stays
};

struct LabOptions {
    std::vector<LabDevice> devices;  // every address distinct, in the lab's ranges, none the finder's;
                                     // empty only after an explicit --count 0 or with DNS-SD hosts
    std::vector<LabDnssdHost> dnssdHosts;  // with their own addresses; the finder then runs avahi-daemon
    int maxDelayMs = 0;              // passed on to every nasscout-sim as --max-delay
    std::string finder = "198.51.100.1/24";  // the finder's address, and the prefix of the devices in its network
    std::string simPath;                     // empty: nasscout-sim beside nasscout-lab
    std::vector<std::string> command;        // runs in the finder; never empty
    bool verbose = false;
};

enum class OptionsResult {
    Run,    // `options` is filled and checked
    Help,   // `message` holds the help text, or the version line, for standard output
    Error,  // `message` says what is wrong, naming the option or file
};

OptionsResult ParseOptions(int argc, const char* const* argv, LabOptions& options, std::string& message);

// Appends the devices of a JSON file as nasscout-sim reads one (its reader),
// each with an optional "leave_after" (seconds). False, with a message naming
// the file and device, when it is unusable.
bool LoadLabDeviceFile(const std::string& path, std::vector<LabDevice>& devices, std::string& error);

}  // namespace lab
