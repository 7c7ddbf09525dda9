#include "lab_options.h"

#include "lab/netlab.h"
#include "tools/common/option_error.h"

#include <boost/program_options.hpp>
#include <nlohmann/json.hpp>

#include <set>
#include <sstream>

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
    "--device, --devices and --count add up; give at least one device, or\n"
    "--count 0 alone for a finder with no devices (a program's idle cost).\n"
    "A device TEXT is nasscout-sim's:\n"
    "  ip=198.51.100.20,id=4f2a-77,host=nas1,vendor=ZORVA,product=NS200,detail=A1,version=2.1.0\n"
    "A --devices FILE is a JSON array of objects with the same keys; a device\n"
    "with \"leave_after\": SECONDS says bye-bye and goes that long after the start:\n"
    "  [{\"ip\": \"198.51.100.20\", \"id\": \"4f2a-77\", \"host\": \"nas1\", \"vendor\": \"ZORVA\",\n"
    "    \"product\": \"NS200\", \"detail\": \"A1\", \"version\": \"2.1.0\", \"leave_after\": 4}]\n"
    "--count devices are nasscout-sim's generated ones (vendor ZORVA).\n"
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

OptionsResult ParseOptions(int argc, const char* const* argv, LabOptions& options, std::string& message)
{
    // Everything after "--" is the command, options of its own included.
    int ours = 1;
    while (ours < argc && std::strcmp(argv[ours], "--") != 0) ++ours;
    for (int index = ours + 1; index < argc; ++index) options.command.push_back(argv[index]);

    std::vector<std::string> texts;
    std::vector<std::string> leavingTexts;
    std::string file;
    int count = 0;
    std::string firstAddress;
    int leaveAfter = 0;

    po::options_description described("Options");
    // clang-format off
    described.add_options()
        ("help,h", "show this help and exit")
        ("device,d", po::value(&texts)->value_name("TEXT"), "add a device described by TEXT; repeatable")
        ("devices,f", po::value(&file)->value_name("FILE"), "add the devices listed in the JSON file FILE")
        ("count,n", po::value(&count)->value_name("N"),
         "add N generated devices on consecutive addresses (needs --first-address)")
        ("first-address", po::value(&firstAddress)->value_name("IP"), "address of the first generated device")
        ("leaving-device", po::value(&leavingTexts)->value_name("TEXT"),
         "add a device that leaves after --leave-after seconds; repeatable")
        ("leave-after", po::value(&leaveAfter)->value_name("SECONDS"),
         "when the --leaving-device devices say bye-bye and go, counted from the start of COMMAND")
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
    try {
        po::store(po::command_line_parser(ours, argv).options(described).run(), values);
        if (values.count("help")) {
            std::ostringstream help;
            help << kUsage << "\n" << described << kDetails;
            message = help.str();
            return OptionsResult::Help;
        }
        po::notify(values);
    } catch (const po::error& failure) {
        message = tools::OptionErrorText(failure);
        return OptionsResult::Error;
    }

    if (!ParseTexts(texts, "--device", 0, options.devices, message)) return OptionsResult::Error;
    if (values.count("devices") && !LoadLabDeviceFile(file, options.devices, message)) return OptionsResult::Error;
    if (count < 0) {
        message = "--count " + std::to_string(count) + " is negative";
        return OptionsResult::Error;
    }
    // An explicit --count 0 asks for the finder alone, as a program's idle baseline.
    const bool finderAlone = values.count("count") && count == 0;
    if ((count > 0) != !firstAddress.empty()) {
        message = count > 0 ? "--count needs --first-address" : "--first-address needs --count";
        return OptionsResult::Error;
    }
    std::vector<sim::SimDevice> generated;
    if (count > 0 && !sim::GenerateDevices(count, firstAddress, generated, message)) return OptionsResult::Error;
    for (const sim::SimDevice& device : generated) options.devices.push_back({device, 0});
    if (leavingTexts.empty() != (values.count("leave-after") == 0)) {
        message = leavingTexts.empty() ? "--leave-after needs --leaving-device" : "--leaving-device needs --leave-after";
        return OptionsResult::Error;
    }
    if (!leavingTexts.empty() && (leaveAfter < 1 || leaveAfter > kLongestStaySeconds)) {
        message = "--leave-after " + std::to_string(leaveAfter) + " is outside 1 to " +
                  std::to_string(kLongestStaySeconds);
        return OptionsResult::Error;
    }
    if (!ParseTexts(leavingTexts, "--leaving-device", leaveAfter, options.devices, message))
        return OptionsResult::Error;
    if (options.maxDelayMs < 0 || options.maxDelayMs > kLongestDelayMs) {
        message = "--max-delay " + std::to_string(options.maxDelayMs) + " is outside 0 to " +
                  std::to_string(kLongestDelayMs);
        return OptionsResult::Error;
    }
    if (options.devices.empty() && !finderAlone) {
        message = "no devices: give --device, --devices, --count or --leaving-device";
        return OptionsResult::Error;
    }
    if (!CheckNetwork(options, message)) return OptionsResult::Error;
    if (options.command.empty()) {
        message = "no command: give the command to run in the finder after --";
        return OptionsResult::Error;
    }
    return OptionsResult::Run;
}

}  // namespace lab
