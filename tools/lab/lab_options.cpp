#include "lab_options.h"

#include "lab/netlab.h"
#include "tools/common/command_line.h"

#include <boost/program_options.hpp>
#include <nlohmann/json.hpp>

#include <set>
#include <cstring>

namespace lab {

namespace po = boost::program_options;

namespace {

constexpr int kLongestStaySeconds = 86400;
constexpr int kLongestDelayMs = 60000;  // nasscout-sim's own bound
constexpr char kLeaveKey[] = "leave_after";

const char kUsage[] =
    "Usage: nasscout-lab [OPTION]... -- COMMAND [ARGUMENT]...\n"
    "Builds a private network of its own, with a finder host and simulated NAS\n"
    "devices (nasscout-sim) on one bridge, runs COMMAND in the finder host and\n"
    "removes the whole network when COMMAND ends. Nothing sent in it reaches\n"
    "this machine's network. Needs root.\n";

const char kDetails[] =
    "\n"
    "--device, --devices, --dnssd and --count add up; give at least one device, or\n"
    "--count 0 alone for a finder with no devices (a program's idle cost).\n"
    "A device TEXT is nasscout-sim's:\n"
    "  ip=198.51.100.20,id=4f2a-77,host=nas1,vendor=ZORVA,product=NS200,detail=A1,version=2.1.0\n"
    "A --devices FILE is a JSON array of objects with the same keys; a device\n"
    "with \"leave_after\": SECONDS says bye-bye and goes that long after the start:\n"
    "  [{\"ip\": \"198.51.100.20\", \"id\": \"4f2a-77\", \"host\": \"nas1\", \"vendor\": \"ZORVA\",\n"
    "    \"product\": \"NS200\", \"detail\": \"A1\", \"version\": \"2.1.0\", \"leave_after\": 4}]\n"
    "--count devices are nasscout-sim's generated ones (vendor ZORVA).\n"
    "A --dnssd FILE lists NAS devices of other makes that announce themselves\n"
    "over DNS-SD, each a host of its own running avahi-daemon:\n"
    "  [{\"ip\": \"198.51.100.30\", \"name\": \"nas-b\", \"leave_after\": 4, \"services\": [\n"
    "     {\"type\": \"_smb._tcp\", \"name\": \"Office NAS\", \"port\": 445},\n"
    "     {\"type\": \"_device-info._tcp\", \"name\": \"Office NAS\", \"port\": 0,\n"
    "      \"txt\": [\"model=NS-4\"]}]}]\n"
    "(\"txt_hex\": [\"KEY=HEX\"] for values JSON cannot carry). The finder then\n"
    "runs a system bus and avahi-daemon of its own, as a desktop does; COMMAND\n"
    "finds them through DBUS_SYSTEM_BUS_ADDRESS. A host with \"leave_after\"\n"
    "stops its avahi-daemon then, which says goodbye.\n"
    "Addresses must lie in 192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/24 or\n"
    "198.18.0.0/15. A device in the finder's network gets the finder's prefix\n"
    "length, any other is a single address (/32) on the same segment.\n"
    "\n"
    "COMMAND keeps this program's environment, standard input and output.\n"
    "SIGINT and SIGTERM sent to nasscout-lab are passed on to COMMAND.\n"
    "Exit status: COMMAND's (128 + N when signal N ended it), 1 when the\n"
    "network cannot be built, 2 for bad options or devices.\n";

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool ParseTexts(const std::vector<std::string>& texts, const char* option, int leaveAfter,
                std::vector<LabDevice>& devices, std::string& error)
{
    for (const std::string& text : texts) {
        LabDevice device;
        device.leaveAfterSeconds = leaveAfter;
        if (!sim::ParseDeviceText(text, device.device, error)) {
            // The simulator's parser speaks of --device; say which option it was.
            if (error.rfind("--device ", 0) == 0) error = option + error.substr(std::strlen("--device"));
            return false;
        }
        devices.push_back(device);
    }
    return true;
}

bool CheckNetwork(const LabOptions& options, std::string& error)
{
    if (!netlab::IsLabAddress(options.finder) || options.finder.find('/') == std::string::npos) {
        error = "--finder " + Quoted(options.finder) +
                " is not an ADDRESS/PREFIX inside 192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/24 or 198.18.0.0/15";
        return false;
    }
    std::set<std::string> taken{options.finder.substr(0, options.finder.find('/'))};
    for (const LabDnssdHost& host : options.dnssdHosts) {
        if (!netlab::IsLabAddress(host.ip) || !taken.insert(host.ip).second) {
            error = "DNS-SD host " + host.name + ": ip " + host.ip +
                    " is outside the lab's ranges or taken by the finder or another host";
            return false;
        }
    }
    for (const LabDevice& device : options.devices) {
        const std::string& ip = device.device.ip;
        if (!netlab::IsLabAddress(ip)) {
            error = "device " + device.device.id + ": ip " + ip +
                    " is outside 192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/24 and 198.18.0.0/15";
            return false;
        }
        if (!taken.insert(ip).second) {
            error = "device " + device.device.id + ": ip " + ip + " is taken by the finder or another device";
            return false;
        }
    }
    return true;
}

}  // namespace

bool LoadLabDeviceFile(const std::string& path, std::vector<LabDevice>& devices, std::string& error)
{
    std::vector<sim::SimDevice> read;
    std::vector<int> leaveAfterSeconds;
    const sim::ExtraDeviceKey leaveAfter{
        kLeaveKey, [&](const nlohmann::json& value, std::size_t index, std::string& message) {
            if (!value.is_number_integer() || value < 1 || value > kLongestStaySeconds) {
                message = Quoted(kLeaveKey) + " is not a whole number of seconds from 1 to " +
                          std::to_string(kLongestStaySeconds);
                return false;
            }
            leaveAfterSeconds.resize(index + 1);
            leaveAfterSeconds[index] = value.get<int>();
            return true;
        }};
    if (!sim::LoadDeviceFile(path, read, error, &leaveAfter)) return false;
    leaveAfterSeconds.resize(read.size());
    for (std::size_t index = 0; index < read.size(); ++index) devices.push_back({read[index], leaveAfterSeconds[index]});
    return true;
}

namespace {

// The devices the options describe, before they are read.
struct DeviceOptions {
    std::vector<std::string> texts;
    bool fileGiven = false;
    std::string file;
    bool countGiven = false;
    int count = 0;
    std::string firstAddress;
    std::vector<std::string> leavingTexts;
    bool leaveAfterGiven = false;
    int leaveAfter = 0;
    std::string dnssdFile;
};

// --device, --devices, --count and the leaving devices, in that order; false
// with the reason when one is unusable.
bool CollectDevices(const DeviceOptions& given, std::vector<LabDevice>& devices, std::string& message)
{
    if (!ParseTexts(given.texts, "--device", 0, devices, message)) return false;
    if (given.fileGiven && !LoadLabDeviceFile(given.file, devices, message)) return false;
    std::vector<sim::SimDevice> generated;
    if (!sim::GenerateDevices(given.count, given.firstAddress, generated, message)) return false;
    for (const sim::SimDevice& device : generated) devices.push_back({device, 0});
    if (given.leavingTexts.empty() == given.leaveAfterGiven) {
        message = given.leavingTexts.empty() ? "--leave-after needs --leaving-device"
                                             : "--leaving-device needs --leave-after";
        return false;
    }
    if (given.leaveAfterGiven && !tools::InRange("--leave-after", given.leaveAfter, 1, kLongestStaySeconds, message))
        return false;
    return ParseTexts(given.leavingTexts, "--leaving-device", given.leaveAfter, devices, message);
}

bool CheckOptions(const DeviceOptions& given, LabOptions& options, std::string& message)
{
    if (!CollectDevices(given, options.devices, message)) return false;
    if (!given.dnssdFile.empty() && !LoadDnssdHostFile(given.dnssdFile, options.dnssdHosts, message)) return false;
    if (!tools::InRange("--max-delay", options.maxDelayMs, 0, kLongestDelayMs, message)) return false;
    // An explicit --count 0 asks for the finder alone, as a program's idle baseline.
    if (options.devices.empty() && options.dnssdHosts.empty() && !(given.countGiven && given.count == 0)) {
        message = "no devices: give --device, --devices, --count, --leaving-device or --dnssd";
        return false;
    }
    if (!CheckNetwork(options, message)) return false;
    if (options.command.empty()) {
        message = "no command: give the command to run in the finder after --";
        return false;
    }
    return true;
}

}  // namespace

OptionsResult ParseOptions(int argc, const char* const* argv, LabOptions& options, std::string& message)
{
    // Everything after "--" is the command, options of its own included.
    int ours = 1;
    while (ours < argc && std::strcmp(argv[ours], "--") != 0) ++ours;
    for (int index = ours + 1; index < argc; ++index) options.command.push_back(argv[index]);

    DeviceOptions given;
    po::options_description described("Options");
    // clang-format off
    described.add_options()
        ("help,h", "show this help and exit")
        ("version,V", "show the version and exit")
        ("device,d", po::value(&given.texts)->value_name("TEXT"), "add a device described by TEXT; repeatable")
        ("devices,f", po::value(&given.file)->value_name("FILE"), "add the devices listed in the JSON file FILE")
        ("count,n", po::value(&given.count)->value_name("N"),
         "add N generated devices on consecutive addresses (needs --first-address)")
        ("first-address", po::value(&given.firstAddress)->value_name("IP"), "address of the first generated device")
        ("leaving-device", po::value(&given.leavingTexts)->value_name("TEXT"),
         "add a device that leaves after --leave-after seconds; repeatable")
        ("leave-after", po::value(&given.leaveAfter)->value_name("SECONDS"),
         "when the --leaving-device devices say bye-bye and go, counted from the start of COMMAND")
        ("dnssd", po::value(&given.dnssdFile)->value_name("FILE"),
         "add the DNS-SD hosts of the JSON file FILE, each with avahi-daemon; the finder then runs one too")
        ("finder", po::value(&options.finder)->value_name("ADDRESS/PREFIX")->default_value(options.finder),
         "the finder host's address; the devices in its network get its prefix length")
        ("max-delay", po::value(&options.maxDelayMs)->value_name("MS"),
         "nasscout-sim's --max-delay: each device answers a search after a random 0 to MS milliseconds")
        ("sim", po::value(&options.simPath)->value_name("PATH"),
         "the nasscout-sim to run (default: the one beside nasscout-lab)")
        ("verbose,v", po::bool_switch(&options.verbose),
         "describe the network on standard error, and each device that leaves");
    // clang-format on

    po::variables_map values;
    switch (tools::ReadCommandLine(ours, argv, described, {kUsage, kDetails, "nasscout-lab " NASSCOUT_VERSION}, values,
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
    given.countGiven = values.count("count") > 0;
    given.leaveAfterGiven = values.count("leave-after") > 0;
    return CheckOptions(given, options, message) ? OptionsResult::Run : OptionsResult::Error;
}

}  // namespace lab
