// nasscout-port67 gives a program UDP port 67 and nothing more: a user with
// no privilege runs nasscout-cli through it, in a finder host of the network
// lab, and the broadcast search takes the socket it was handed.
#include "tests/support/finder_lab.h"
#include "tests/support/log_line.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kAsNobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

std::vector<std::string> AsNobody(std::vector<std::string> command)
{
    command.insert(command.begin(), kAsNobody.begin(), kAsNobody.end());
    return command;
}

// The Cap* lines of /proc/PID/status once PID runs `program`; empty if it never does.
std::string CapabilitiesOnceItRuns(pid_t pid, const std::string& program)
{
    const std::string proc = "/proc/" + std::to_string(pid);
    for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
        std::error_code error;
        if (std::filesystem::read_symlink(proc + "/exe", error) == program) {
            std::ifstream status(proc + "/status");
            std::string capabilities;
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("CapInh", 0) == 0 || line.rfind("CapPrm", 0) == 0 || line.rfind("CapEff", 0) == 0 ||
                    line.rfind("CapAmb", 0) == 0)
                    capabilities += line + "\n";
            }
            return capabilities;
        }
        std::this_thread::sleep_for(5ms);
    }
    return "";
}

TEST(Port67Helper, AUserSearchesWithPort67ThroughItAndHoldsNoCapability)
{
    FinderLab lab;
    lab.StartDevices("shelf", {{"192.0.2.10", "zv-1", "ZORVA"}});
    // The helper as the package installs it: the one capability, on a copy of our own.
    TemporaryDirectory privileged, logs, logsWithout;
    const std::string helper = privileged.File("nasscout-port67");
    std::filesystem::copy_file(NASSCOUT_PORT67_BUILT_PATH, helper);
    ASSERT_EQ(netlab::RunCommand({"setcap", "cap_net_bind_service=+ep", helper}), 0);
    for (const TemporaryDirectory* directory : {&privileged, &logs, &logsWithout})
        chmod(directory->path().c_str(), directory == &privileged ? 0755 : 0777);

    const pid_t cli = lab.Spawn(AsNobody({helper, "nasscout-cli", "--json", "--seconds", "2", "--log", logs.path()}));
    EXPECT_EQ(CapabilitiesOnceItRuns(cli, NASSCOUT_CLI_PATH),
              "CapInh:\t0000000000000000\nCapPrm:\t0000000000000000\nCapEff:\t0000000000000000\n"
              "CapAmb:\t0000000000000000\n");
    const ProgramRun run = lab.Finish(cli);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"id\":\"zv-1\""), std::string::npos) << run.out;
    ASSERT_EQ(logs.Files().size(), 1u);
    const std::string log = ReadWholeFile(logs.Files().front());
    EXPECT_NE(log.find(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_HANDED_SOCKET, 67, 67)), std::string::npos)
        << log;
    EXPECT_NE(log.find(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_BROADCAST_NEW, 67)), std::string::npos) << log;

    // Without the helper the same user has no port 67, and the log says why.
    const ProgramRun without = lab.Run(AsNobody({NASSCOUT_CLI_PATH, "--seconds", "1", "--log", logsWithout.path()}));
    EXPECT_EQ(without.status, 0) << without.err;
    EXPECT_NE(without.err.find("nasscout-cli: no UDP port 67 (bind: Permission denied): devices that answer only "
                               "the broadcast search are not found"),
              std::string::npos)
        << without.err;
    ASSERT_EQ(logsWithout.Files().size(), 1u);
    EXPECT_NE(ReadWholeFile(logsWithout.Files().front())
                  .find(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_CREATE_ERROR, 67, "bind: Permission denied")),
              std::string::npos);
}

TEST(Port67Helper, StartsNothingButTheFindersPrograms)
{
    FinderLab lab;
    for (const char* program : {"/bin/sh", "sh", "nasscout-sim", ""}) {
        const ProgramRun run = lab.Run({NASSCOUT_PORT67_BUILT_PATH, program, "-c", "echo ran"});
        EXPECT_EQ(run.status, 2) << program;
        EXPECT_EQ(run.out, "") << program;
        EXPECT_EQ(run.err.rfind("Usage: nasscout-port67 PROGRAM", 0), 0u) << run.err;
    }
}

}  // namespace
