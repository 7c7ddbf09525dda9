#include "cli_options.h"

#include "log/log_file.h"
#include "tools/common/command_line.h"

#include <boost/program_options.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

namespace cli {

namespace po = boost::program_options;

namespace {

constexpr int kLongestSeconds = 24 * 60 * 60;

const char kUsage[] =
    "Usage: nasscout-cli [OPTION]...\n"
    "Finds the network-attached storage devices on the local network: sends one\n"
    "search pass on every network card, waits the search window and prints the\n"
    "devices found, one per line. With --watch it keeps searching and reports\n"
    "devices as they appear, change and leave.\n";

const char kDetails[] =
    "\n"
    "Standard output carries only the results: the table (HOST, IP, MODEL,\n"
    "VENDOR, FIRMWARE, ID; '-' for a field the device did not send) or, with\n"
    "--json, one JSON object per device with the fields id, ip, host, product,\n"
    "detail, version, factory, type and lifetime. When nothing is found the table\n"
    "says so in one line; --json prints nothing.\n"
    "\n"
    "--watch prints one line per event: appeared, changed, or left with the\n"
    "reason bye-bye (the device said so) or aged out (it stopped answering for\n"
    "two passes). With --json each event is an object with \"event\", \"time\" (UTC),\n"
    "the device's fields and, for left, \"reason\". SIGINT or SIGTERM ends it\n"
    "within a second, also when standard output has stopped reading.\n"
    "\n"
    "The engine's log lines (with --log) and the device store's lines go to\n"
    "standard error with --verbose, nowhere otherwise. A progress line goes to\n"
    "standard error while the search window runs, when standard error is a\n"
    "terminal. SIGINT or SIGTERM ends the search window early; what was found\n"
    "is printed.\n"
    "\n"
    "With --all-makes the list also holds the protocol's devices of every\n"
    "vendor and the hosts that announce a file service (SMB, AFP, NFS, a backup\n"
    "disk) over DNS-SD, as the system's avahi-daemon finds them; the column\n"
    "FOUND (JSON: \"found\") says \"nasscout\" or \"dns-sd\". Where both find an\n"
    "address, the protocol's record is shown. A DNS-SD host leaves when it says\n"
    "goodbye (reason bye-bye) or avahi-daemon forgets it.\n"
    "\n"
    "Answers arrive on UDP ports 67 and 1900 and on one port per local IPv4\n"
    "address from 1530 upwards, 20 apart (each may move up to 20 ports higher\n"
    "when taken); a host firewall must let them in.\n"
    "\n"
    "Exit status: 0 when the search ran, also when it found nothing; 1 when the\n"
    "results cannot be written (a reader gone, a line left unwritten at a stop);\n"
    "2 for bad options, an unwritable --log directory among them; 3 when there is\n"
    "nothing to search on (no network with an IPv4 address, no search socket);\n"
    "128 + N when signal N cut a single search short.\n";

// The engine leaves its log off without a word when it cannot write the file
// (a directory it may not write in, a path too long for it, a symbolic link
// or anything but a regular file named like the log): this asks what the
// log's own open would say, creating nothing, so that the user hears why.
bool LogFileWritable(const std::string& directory, std::string& reason)
{
    char name[kSearchLogFileNameSize];
    SearchLogFileName(std::time(nullptr), name);
    const int error = ProbeSearchLogFile((directory + name).c_str());
    if (error == 0) return true;
    reason = error == ELOOP    ? std::string(name) + " is a symbolic link"
             : error == EINVAL ? std::string(name) + " is not a regular file"
                               : std::strerror(error);
    return false;
}

// The log directory, ending in '/' as the engine wants it, when the log file
// can be written there; otherwise false with the reason in `message`.
bool CheckLogDirectory(std::string directory, CliOptions& options, std::string& message)
{
    std::error_code ignored;
    if (directory.empty() || !std::filesystem::is_directory(directory, ignored)) {
        message = "--log '" + directory + "' is not a directory";
        return false;
    }
    // The engine puts the file name straight after the directory text.
    if (directory.back() != '/') directory += '/';
    std::string reason;
    if (!LogFileWritable(directory, reason)) {
        message = "--log '" + directory + "' cannot be written: " + reason;
        return false;
    }
    options.logDirectory = directory;
    return true;
}

// What the values say together, beyond each option's own type.
bool CheckOptions(const po::variables_map& values, const std::vector<std::string>& strays, CliOptions& options,
                  std::string& message)
{
    if (!strays.empty()) {
        message = "unexpected argument '" + strays.front() + "'";
        return false;
    }
    if (!tools::InRange("--seconds", options.seconds, 1, kLongestSeconds, message) ||
        !tools::InRange("--interval", options.intervalSeconds, 1, kLongestSeconds, message)) {
        return false;
    }
    if (options.watch && !values["seconds"].defaulted()) {
        message = "--seconds does not apply to --watch; use --interval";
        return false;
    }
    if (!options.watch && !values["interval"].defaulted()) {
        message = "--interval needs --watch";
        return false;
    }
    options.multiCommand = values.count("no-multi") == 0;
    return values.count("log") == 0 || CheckLogDirectory(values["log"].as<std::string>(), options, message);
}

}  // namespace

OptionsResult ParseOptions(int argc, const char* const* argv, CliOptions& options, std::string& message)
{
    po::options_description described("Options");
    // clang-format off
    described.add_options()
        ("help,h", "show this help and exit")
        ("version,V", "show the version and exit")
        ("seconds,s", po::value(&options.seconds)->value_name("N")->default_value(options.seconds),
         "search window: wait N seconds for answers")
        ("json,j", po::bool_switch(&options.json), "print JSON lines instead of a table")
        ("watch,w", po::bool_switch(&options.watch),
         "keep searching and print every device that appears, changes or leaves, until interrupted")
        ("interval", po::value(&options.intervalSeconds)->value_name("SECONDS")
                         ->default_value(options.intervalSeconds),
         "with --watch: start a search pass every SECONDS, ageing the list before each")
        ("log", po::value<std::string>()->value_name("DIR"), "write the engine's search log into the directory DIR")
        ("no-multi", "search without the per-address workers (broadcast and multicast only)")
        ("verbose,v", po::bool_switch(&options.verbose),
         "show the engine's log lines (with --log) and the device store's lines on standard error")
        ("quiet,q", "show no diagnostic lines: the default, accepted for scripts that say so")
        ("all-makes", po::bool_switch(&options.allMakes),
         "also list devices of every vendor, and hosts of other makes that announce a file service over "
         "DNS-SD (through avahi-daemon); adds the column FOUND (JSON: found)");
    // clang-format on
    std::vector<std::string> strays;
    po::options_description hidden;
    hidden.add_options()("stray", po::value(&strays));
    po::positional_options_description operands;
    operands.add("stray", -1);

    const std::string version = std::string("nasscout-cli ") + NASSCOUT_VERSION;
    po::variables_map values;
    switch (tools::ReadCommandLine(argc, argv, described, {kUsage, kDetails, version.c_str()}, values, message,
                                   &hidden, &operands)) {
    case tools::CommandLineResult::Help:
        return OptionsResult::Help;
    case tools::CommandLineResult::Version:
        return OptionsResult::Version;
    case tools::CommandLineResult::Error:
        return OptionsResult::Error;
    case tools::CommandLineResult::Run:
        break;
    }
    return CheckOptions(values, strays, options, message) ? OptionsResult::Run : OptionsResult::Error;
}

}  // namespace cli
