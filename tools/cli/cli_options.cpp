#include "cli_options.h"

#include "tools/common/option_error.h"

#include <boost/program_options.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
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
    "standard error, or nowhere with --quiet. A progress line goes to standard\n"
    "error while the search window runs, when standard error is a terminal.\n"
    "\n"
    "Answers arrive on UDP ports 67 and 1900 and on one port per local IPv4\n"
    "address from 1530 upwards, 20 apart (each may move up to 20 ports higher\n"
    "when taken); a host firewall must let them in.\n"
    "\n"
    "Exit status: 0 when the search ran, also when it found nothing; 1 when the\n"
    "results cannot be written (a reader gone, a line left unwritten at a stop);\n"
    "2 for bad options, an unwritable --log directory among them.\n";

bool InRange(const char* option, int value, int lowest, int highest, std::string& message)
{
    if (value >= lowest && value <= highest) return true;
    message = std::string(option) + " " + std::to_string(value) + " is outside " + std::to_string(lowest) + " to " +
              std::to_string(highest);
    return false;
}

// The engine leaves its log off without a word when it cannot write the file
// (a directory it may not write in, a path too long for it, a symbolic link
// or anything but a regular file named like the log): this opens the very
// file it appends to, named as it names it and as it opens it, so that the
// user hears why.
bool LogFileWritable(const std::string& directory, std::string& reason)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::snprintf(name, sizeof name, "%02d-%02d-%02d-SearchDeviceLog.txt", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    const int file = open((directory + name).c_str(),
                          O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (file < 0) {
        reason = errno == ELOOP ? std::string(name) + " is a symbolic link" : std::strerror(errno);
        return false;
    }
    struct stat opened;
    const bool regular = fstat(file, &opened) == 0 && S_ISREG(opened.st_mode);
    close(file);
    if (!regular) reason = std::string(name) + " is not a regular file";
    return regular;
}

}  // namespace

OptionsResult ParseOptions(int argc, const char* const* argv, CliOptions& options, std::string& message)
{
    std::string logDirectory;
    std::vector<std::string> strays;

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
        ("log", po::value(&logDirectory)->value_name("DIR"), "write the engine's search log into the directory DIR")
        ("no-multi", "search without the per-address workers (broadcast and multicast only)")
        ("quiet,q", po::bool_switch(&options.quiet),
         "discard the engine's and the device store's diagnostic lines");
    // clang-format on
    po::options_description hidden;
    hidden.add_options()("stray", po::value(&strays));
    po::options_description all;
    all.add(described).add(hidden);
    po::positional_options_description positional;
    positional.add("stray", -1);

    po::variables_map values;
    try {
        po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(), values);
        if (values.count("help")) {
            std::ostringstream help;
            help << kUsage << "\n" << described << kDetails;
            message = help.str();
            return OptionsResult::Help;
        }
        if (values.count("version")) {
            message = std::string("nasscout-cli ") + NASSCOUT_VERSION + "\n";
            return OptionsResult::Version;
        }
        po::notify(values);
    } catch (const po::error& failure) {
        message = tools::OptionErrorText(failure);
        return OptionsResult::Error;
    }

    if (!strays.empty()) {
        message = "unexpected argument '" + strays.front() + "'";
        return OptionsResult::Error;
    }
    if (!InRange("--seconds", options.seconds, 1, kLongestSeconds, message) ||
        !InRange("--interval", options.intervalSeconds, 1, kLongestSeconds, message)) {
        return OptionsResult::Error;
    }
    if (options.watch && !values["seconds"].defaulted()) {
        message = "--seconds does not apply to --watch; use --interval";
        return OptionsResult::Error;
    }
    if (!options.watch && !values["interval"].defaulted()) {
        message = "--interval needs --watch";
        return OptionsResult::Error;
    }
    options.multiCommand = values.count("no-multi") == 0;
    if (values.count("log")) {
        std::error_code ignored;
        if (logDirectory.empty() || !std::filesystem::is_directory(logDirectory, ignored)) {
            message = "--log '" + logDirectory + "' is not a directory";
            return OptionsResult::Error;
        }
        // The engine puts the file name straight after the directory text.
        if (logDirectory.back() != '/') logDirectory += '/';
        std::string reason;
        if (!LogFileWritable(logDirectory, reason)) {
            message = "--log '" + logDirectory + "' cannot be written: " + reason;
            return OptionsResult::Error;
        }
        options.logDirectory = logDirectory;
    }
    return OptionsResult::Run;
}

}  // namespace cli
