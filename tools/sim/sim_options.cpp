#include "sim_options.h"

#include "tools/common/command_line.h"

#include <boost/program_options.hpp>

#include <string>
#include <vector>

namespace sim {

namespace po = boost::program_options;

namespace {

constexpr int kLongestDelayMs = 60000;

const char kUsage[] =
    "Usage: nasscout-sim [OPTION]...\n"
    "Plays NAS devices on the local network: answers the broadcast search on\n"
    "UDP port 68 and the M-SEARCH on the group 239.143.255.250 port 1900, and\n"
    "announces every device to the group when it starts (ssdp:alive) and when\n"
    "it stops on SIGINT or SIGTERM (ssdp:byebye). Each device answers from its\n"
    "own address, which must be an address of this machine.\n";

const char kDetails[] =
    "\n"
    "Give at least one device; --device, --devices and --count add up.\n"
    "A --device TEXT is comma-separated key=value pairs with every key once:\n"
    "  ip=198.51.100.20,id=4f2a-77,host=nas1,vendor=ZORVA,product=NS200,detail=A1,version=2.1.0\n"
    "A --devices FILE holds the same keys as JSON strings:\n"
    "  {\"devices\": [{\"ip\": \"198.51.100.20\", \"id\": \"4f2a-77\", \"host\": \"nas1\",\n"
    "                \"vendor\": \"ZORVA\", \"product\": \"NS200\", \"detail\": \"A1\",\n"
    "                \"version\": \"2.1.0\"}]}\n"
    "or the array alone.\n"
    "Every device must read back unchanged at the finder, so: ip is a dotted\n"
    "unicast address outside 0.0.0.0/8, 127.0.0.0/8 and 224.0.0.0 upwards;\n"
    "each value is at most 31 bytes, without control\n"
    "characters; id, host, vendor and product contain no '&' or '='; host,\n"
    "vendor and product no '/'; version no ','; version, vendor, host, product\n"
    "and detail no \"USN:\"; id no \"::\" and no ':' at its end; vendor, host,\n"
    "product and detail together at most 60 bytes.\n"
    "--count devices (at most 65536) get ids sim-0001..., hosts nas-0001...,\n"
    "vendor ZORVA, product NS200, detail A1 and version 2.1.0.\n"
    "\n"
    "Prints \"nasscout-sim: ready\" once every socket is bound and the devices\n"
    "are announced. Exit status: 0 after SIGINT or SIGTERM (also during\n"
    "start-up), 1 when a port, address, group membership or memory cannot be\n"
    "had, 2 for bad options or devices.\n";

// The devices the options describe: --device texts, a --devices file and
// --count generated ones, in that order.
struct DeviceOptions {
    std::vector<std::string> texts;
    bool fileGiven = false;
    std::string file;
    int count = 0;
    std::string firstAddress;
};

bool CollectDevices(const DeviceOptions& given, std::vector<SimDevice>& devices, std::string& message)
{
    for (const std::string& text : given.texts) {
        SimDevice device;
        if (!ParseDeviceText(text, device, message)) return false;
        devices.push_back(device);
    }
    if (given.fileGiven && !LoadDeviceFile(given.file, devices, message)) return false;
    if (!GenerateDevices(given.count, given.firstAddress, devices, message)) return false;
    if (devices.empty()) {
        message = "no devices: give --device, --devices or --count";
        return false;
    }
    return true;
}

}  // namespace

OptionsResult ParseOptions(int argc, const char* const* argv, SimOptions& options, std::string& message)
{
    DeviceOptions given;
    po::options_description described("Options");
    // clang-format off
    described.add_options()
        ("help,h", "show this help and exit")
        ("version,V", "show the version and exit")
        ("device,d", po::value(&given.texts)->value_name("TEXT"),
         "add a device described by TEXT (see below); repeatable")
        ("devices,f", po::value(&given.file)->value_name("FILE"), "add the devices listed in the JSON file FILE")
        ("count,n", po::value(&given.count)->value_name("N"),
         "add N generated devices on consecutive addresses (needs --first-address)")
        ("first-address", po::value(&given.firstAddress)->value_name("IP"),
         "address of the first generated device")
        ("max-delay", po::value(&options.maxDelayMs)->value_name("MS")->default_value(0),
         "delay each device's answer to a search, broadcast or M-SEARCH, by a random 0 to MS milliseconds "
         "(at most 60000), as devices spread their answers over a search's MX")
        ("verbose,v", po::bool_switch(&options.verbose), "print a line for every search answered");
    // clang-format on

    po::variables_map values;
    switch (tools::ReadCommandLine(argc, argv, described, {kUsage, kDetails, "nasscout-sim " NASSCOUT_VERSION}, values,
                                   message)) {
    case tools::CommandLineResult::Help:
    case tools::CommandLineResult::Version:
        return OptionsResult::Help;
    case tools::CommandLineResult::Error:
        return OptionsResult::Error;
    case tools::CommandLineResult::Run:
        break;
    }
    given.fileGiven = values.count("devices") > 0;
    if (!tools::InRange("--max-delay", options.maxDelayMs, 0, kLongestDelayMs, message)) return OptionsResult::Error;
    return CollectDevices(given, options.devices, message) ? OptionsResult::Run : OptionsResult::Error;
}

}  // namespace sim
