// The lab as a developer meets it: it keeps to the lab's address ranges (and,
// by building a Lab at all, shows that the test process left the machine's
// own network), and nasscout-lab builds a network of simulated
// devices around a command, passes the environment on, lets a device leave
// on time and removes everything afterwards. That the lab's hosts reach one
// another across its bridges and gain and lose addresses, every lab test
// relies on and so shows.
#include "tests/support/finder_lab.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr char kLabPath[] = NASSCOUT_LAB_PATH;
constexpr char kCliPath[] = NASSCOUT_CLI_PATH;

// Processes whose network namespace is `link` ("net:[4026532...]").
std::vector<pid_t> ProcessesIn(const std::string& link)
{
    std::vector<pid_t> found;
    DIR* processes = opendir("/proc");
    while (dirent* entry = readdir(processes)) {
        char target[64] = {};
        std::string path = std::string("/proc/") + entry->d_name + "/ns/net";
        ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length > 0 && link == std::string(target, static_cast<size_t>(length))) found.push_back(std::atoi(entry->d_name));
    }
    closedir(processes);
    return found;
}

// Runs nasscout-lab with `arguments`, its standard error in a file of `files`.
ProgramRun RunLab(const TemporaryDirectory& files, const std::vector<std::string>& arguments)
{
    std::vector<std::string> command{"/bin/sh", "-c", "out=$1; shift; exec \"$@\" 2>\"$0\" >\"$out\"",
                                     files.File("lab.err"), files.File("lab.out"), kLabPath};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const int status = netlab::RunCommand(command);
    return {status, ReadWholeFile(files.File("lab.out")), ReadWholeFile(files.File("lab.err"))};
}

TEST(NetworkLab, RefusesAddressesOutsideTheDocumentationAndBenchmarkRanges)
{
    EXPECT_TRUE(netlab::IsLabAddress("203.0.113.7/24"));
    EXPECT_TRUE(netlab::IsLabAddress("198.19.255.1/15"));
    EXPECT_FALSE(netlab::IsLabAddress("198.51.100.1/16"));  // the network reaches past the range
    EXPECT_FALSE(netlab::IsLabAddress("192.168.1.20/24"));
    netlab::Lab lab;
    EXPECT_THROW(lab.AddHost("stray", {{lab.AddLan(), "10.1.2.3/24"}}), std::invalid_argument);
}

// The command in the finder sees every device that stays, and not the one
// that said bye-bye a second in; nasscout-lab ends with the command's status,
// and afterwards nothing the command started still runs.
TEST(LabProgram, CommandInTheFinderFindsTheDevicesAndLeavesNothingBehind)
{
    TemporaryDirectory files;
    const std::string file = files.Write("devices.json", R"([{"ip": "198.51.100.11", "id": "file-1", "host": "h",
        "vendor": "ZORVA", "product": "NS200", "detail": "A1", "version": "2.1.0"}])");
    // The leftover sleep is for the lab to end; the namespace lets us look for it afterwards.
    const std::string script = "\"$0\" --json --seconds 3 --quiet >\"$1/found\"; echo $? >\"$1/status\"; "
                               "echo \"$NASSCOUT_LAB_PROBE\" >\"$1/probe\"; "
                               "readlink /proc/self/ns/net >\"$1/namespace\"; sleep 60 </dev/null >/dev/null 2>&1 & exit 7";
    setenv("NASSCOUT_LAB_PROBE", "passed on", 1);
    ProgramRun run = RunLab(files, {"--device", LabSimulator::Device("198.51.100.10", "text-1"), "--devices", file,
                                    "--count", "150", "--first-address", "198.51.100.100", "--leaving-device",
                                    LabSimulator::Device("198.51.100.20", "leaver"), "--leave-after", "1", "--",
                                    "/bin/sh", "-c", script, kCliPath, files.path()});
    unsetenv("NASSCOUT_LAB_PROBE");
    ASSERT_EQ(run.status, 7) << run.err;  // the command's
    ASSERT_EQ(ReadWholeFile(files.File("status")), "0\n");

    std::set<std::string> ids;
    std::istringstream found(ReadWholeFile(files.File("found")));
    for (std::string line; std::getline(found, line);) ids.insert(nlohmann::json::parse(line).value("id", ""));
    EXPECT_EQ(ids.size(), 152u);
    EXPECT_TRUE(ids.count("text-1") && ids.count("file-1") && ids.count("sim-0001") && ids.count("sim-0150"));
    EXPECT_EQ(ids.count("leaver"), 0u);
    EXPECT_EQ(ReadWholeFile(files.File("probe")), "passed on\n");

    std::string finder = ReadWholeFile(files.File("namespace"));
    ASSERT_FALSE(finder.empty());
    finder.pop_back();
    const std::vector<pid_t> leftovers = ProcessesIn(finder);
    EXPECT_TRUE(leftovers.empty());
    for (pid_t pid : leftovers) kill(pid, SIGKILL);  // only ever the sleep of the script above
}

// Bad options end with 2 and name the option; a command that cannot run
// ends with a shell's 127 or 126 and says why, before any network is built.
TEST(LabProgram, WhatCannotRunEndsWithItsStatusAndSaysWhy)
{
    TemporaryDirectory files;
    const std::string good = LabSimulator::Device("198.51.100.10", "a");
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
        {{"--device", good, "--bogus", "--", "true"}, 2, "--bogus"},
        {{"--device", LabSimulator::Device("10.0.0.1", "a"), "--", "true"}, 2, "10.0.0.1"},
        {{"--device", good, "--finder", "192.168.1.1/24", "--", "true"}, 2, "--finder"},
        {{"--device", "ip=198.51.100.10", "--", "true"}, 2, "--device"},
        {{"--device", good, "--leave-after", "3", "--", "true"}, 2, "--leaving-device"},
        {{"--device", good}, 2, "after --"},
        {{"--device", good, "--", "no-such-command"}, 127, "no-such-command: command not found"},
        {{"--device", good, "--", files.path()}, 126, ": Is a directory"},
    };
    for (const auto& [arguments, status, named] : cases) {
        ProgramRun run = RunLab(files, arguments);
        EXPECT_EQ(run.status, status) << named;
        EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    }
    EXPECT_EQ(RunLab(files, {"--help"}).status, 0);
    EXPECT_EQ(RunLab(files, {"--version"}).out, std::string("nasscout-lab ") + NASSCOUT_VERSION + "\n");
}

}  // namespace
