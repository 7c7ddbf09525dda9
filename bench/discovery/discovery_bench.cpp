// discovery_bench: how fast and how completely the programs of nasscout find
// thousands of simulated devices, against a floor receiver of its own. As
// root it builds one nasscout-lab network per (N, W) and runs itself with
// --inner in the lab's finder host, which runs and measures the programs.
#include "finder_rounds.h"
#include "lab/network_guard.h"
#include "lab_sweep.h"
#include "tools/common/command_line.h"
#include "tools/common/option_error.h"

#include <boost/program_options.hpp>

#include <unistd.h>

#include <iostream>
#include <sstream>

namespace po = boost::program_options;

namespace {

const char kUsage[] =
    "Usage: discovery_bench [OPTION]...\n"
    "Builds a private network with nasscout-lab for every N and W (finder host and\n"
    "one device host on 198.18.0.0/15), lets nasscout-sim play N devices that\n"
    "answer each search over W ms, and runs in alternating rounds: the\n"
    "benchmark's floor receiver, a C client of libsearchdevice.so, nasscout-cli\n"
    "--json and nasscout-cli --watch --json. Prints the medians and the ratios to\n"
    "the floor and writes them to the --output file. Needs root.\n";

bool InRange(const std::vector<int>& values, int lowest, int highest)
{
    for (int value : values) {
        if (value < lowest || value > highest) return false;
    }
    return !values.empty();
}

// Reads the command line into `plan` and `inner`; the status to exit with
// when the run ends here (help, bad options), else -1.
int ReadPlan(int argc, char** argv, discovery::SweepPlan& plan, bool& inner)
{
    po::options_description described("Options");
    // clang-format off
    described.add_options()
        ("help,h", "show this help and exit")
        ("devices,n", po::value(&plan.devices)->multitoken()->value_name("N...")->default_value(plan.devices, "100 1000 4000"),
         "the numbers of devices, 1 to 60000")
        ("delays,w", po::value(&plan.delays)->multitoken()->value_name("MS...")->default_value(plan.delays, "0 3000"),
         "the spreads of the answers in ms, 0 (one burst) to 60000")
        ("rounds,r", po::value(&plan.rounds)->value_name("R")->default_value(plan.rounds), "rounds per (N, W), 1 to 100")
        ("output,o", po::value(&plan.output)->value_name("FILE")->default_value("discovery-bench.md"),
         "the file for the figures")
        ("lab", po::value(&plan.labPath)->value_name("PATH")->default_value(NASSCOUT_LAB_PATH), "nasscout-lab")
        ("cli", po::value(&plan.cliPath)->value_name("PATH")->default_value(NASSCOUT_CLI_PATH), "nasscout-cli")
        ("floor", po::value(&plan.floorPath)->value_name("PATH")->default_value(DISCOVERY_FLOOR_PATH),
         "the floor receiver")
        ("client", po::value(&plan.clientPath)->value_name("PATH")->default_value(DISCOVERY_CLIENT_PATH),
         "the C client");
    // clang-format on
    po::options_description hidden;
    hidden.add_options()("inner", po::bool_switch(&inner));

    po::variables_map values;
    std::string message;
    switch (tools::ReadCommandLine(argc, argv, described, {kUsage}, values, message, &hidden)) {
    case tools::CommandLineResult::Help:
        std::cout << message;
        return 0;
    case tools::CommandLineResult::Version:
    case tools::CommandLineResult::Error:
        return tools::ReportOptionError("discovery_bench", message);
    case tools::CommandLineResult::Run:
        break;
    }
    std::string problem;
    if (!InRange(plan.devices, inner ? 0 : 1, 60000)) problem = "--devices: each N must lie in 1 to 60000";
    if (!InRange(plan.delays, 0, 60000)) problem = "--delays: each W must lie in 0 to 60000";
    if (plan.rounds < 1 || plan.rounds > 100) problem = "--rounds must lie in 1 to 100";
    if (inner && (plan.devices.size() != 1 || plan.delays.size() != 1)) problem = "--inner takes one N and one W";
    if (!problem.empty()) return tools::ReportOptionError("discovery_bench", problem);
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    discovery::SweepPlan plan;
    plan.devices = {100, 1000, 4000};
    plan.delays = {0, 3000};
    bool inner = false;
    if (const int status = ReadPlan(argc, argv, plan, inner); status >= 0) return status;

    if (inner) {
        discovery::FinderPlan finder;
        finder.devices = plan.devices.front();
        finder.delayMs = plan.delays.front();
        finder.rounds = plan.rounds;
        finder.floorPath = plan.floorPath;
        finder.clientPath = plan.clientPath;
        finder.cliPath = plan.cliPath;
        return discovery::RunFinderRounds(finder);
    }
    if (geteuid() != 0) {
        std::cerr << "discovery_bench: needs root to build its networks with nasscout-lab; run 'sudo make bench'"
                  << std::endl;
        return 1;
    }
    plan.sourceDir = NASSCOUT_SOURCE_DIR;
    NoteMachineNetwork();
    return discovery::RunSweep(plan);
}
