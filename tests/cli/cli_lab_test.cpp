// nasscout-cli end to end: the real program in a finder host of the network
// lab, simulated devices (nasscout-sim) in other hosts on the same segment.
#include "lab_simulator.h"
#include "netlab.h"
#include "temporary_log.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using json = nlohmann::ordered_json;  // keeps the order of the keys as printed

constexpr char kCliPath[] = NASSCOUT_CLI_PATH;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Every line of `text` as JSON; a line that is not JSON fails the test.
std::vector<json> JsonLines(const std::string& text)
{
    std::vector<json> objects;
    for (const std::string& line : Lines(text)) {
        if (!json::accept(line)) {
            ADD_FAILURE() << "not a JSON line: " << line;
            continue;
        }
        objects.push_back(json::parse(line));
    }
    return objects;
}

std::set<std::string> Ids(const std::vector<json>& objects)
{
    std::set<std::string> ids;
    for (const json& object : objects) ids.insert(object.value("id", ""));
    return ids;
}

bool HasEvent(const std::string& out, const std::string& event, const std::string& id,
              const std::string& reason = "")
{
    for (const std::string& line : Lines(out)) {
        if (!json::accept(line)) continue;
        const json object = json::parse(line);
        if (object.value("event", "") == event && object.value("id", "") == id &&
            (reason.empty() || object.value("reason", "") == reason)) {
            return true;
        }
    }
    return false;
}

// A finder and two hosts of devices on one segment. The shelf plays a device
// of a listed vendor, one of a listed vendor in lower case, and one of a
// vendor that is not listed.
class CliInTheLab : public testing::Test {
protected:
    CliInTheLab()
        : lan_(lab_.AddLan()),
          finder_(lab_.AddHost("finder", {{lan_, "198.51.100.1/24"}})),
          shelf_(lab_.AddHost("shelf", {{lan_, "198.51.100.10/24"}})),
          courier_(lab_.AddHost("courier", {{lan_, "198.51.100.20/24"}}))
    {
        shelf_.AddAddress("198.51.100.11/24");
        shelf_.AddAddress("198.51.100.12/24");
    }

    static std::vector<std::string> ShelfDevices()
    {
        return {"--device", LabSimulator::Device("198.51.100.10", "zv-1", "ZORVA"),
                "--device", LabSimulator::Device("198.51.100.11", "qd-2", "quenda"),
                "--device", LabSimulator::Device("198.51.100.12", "ob-3", "OBRANDA")};
    }

    // Starts nasscout-cli in the finder, its standard output and standard
    // error in files of their own.
    pid_t StartCli(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> command{"/bin/sh", "-c", "exec \"$@\" 2>\"$0\"", ErrPath(), kCliPath};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return finder_.Spawn(command, OutPath());
    }

    CliRun RunCli(const std::vector<std::string>& arguments)
    {
        const int status = finder_.Wait(StartCli(arguments), 30s);
        return {status, Out(), ReadWholeFile(ErrPath())};
    }

    // Sends `signal` and waits for the program's end; its exit status.
    int StopCli(pid_t pid, int signal)
    {
        kill(pid, signal);
        return finder_.Wait(pid, 10s);
    }

    // Waits until the standard output so far satisfies `done`.
    bool WaitForOutput(const std::function<bool(const std::string&)>& done, std::chrono::seconds timeout = 15s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done(Out())) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    std::string Out() const { return ReadWholeFile(OutPath()); }
    std::string OutPath() const { return files_.path() + "/cli.out"; }
    std::string ErrPath() const { return files_.path() + "/cli.err"; }

    netlab::Lab lab_;
    netlab::Lan lan_;
    netlab::Host& finder_;
    netlab::Host& shelf_;
    netlab::Host& courier_;
    TemporaryDirectory files_;
};

TEST_F(CliInTheLab, TableListsExactlyTheAcceptedDevices)
{
    LabSimulator shelf(shelf_, ShelfDevices());
    ASSERT_TRUE(shelf.ready()) << shelf.Output();

    CliRun run = RunCli({"--seconds", "2"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_EQ(lines[0].rfind("HOST", 0), 0u) << lines[0];

    std::set<std::vector<std::string>> rows;
    for (std::size_t index = 1; index < lines.size(); ++index) {
        std::istringstream words(lines[index]);
        std::string host, ip, model, vendor, firmware, id;
        words >> host >> ip >> model >> vendor >> firmware >> id;
        rows.insert({host, ip, model, vendor, id});  // firmware depends on which answer came last
    }
    EXPECT_EQ(rows, (std::set<std::vector<std::string>>{{"host-zv-1", "198.51.100.10", "NS200", "ZORVA", "zv-1"},
                                                         {"host-qd-2", "198.51.100.11", "NS200", "QUENDA", "qd-2"}}));
    // The store's line for every report goes to standard error, the rejected one's too.
    EXPECT_NE(run.err.find("NewDeviceInfo.factory = OBRANDA"), std::string::npos) << run.err;
}

TEST_F(CliInTheLab, JsonLinesCarryEveryFieldAndTheLogStaysOffStandardOutput)
{
    LabSimulator shelf(shelf_, ShelfDevices());
    ASSERT_TRUE(shelf.ready()) << shelf.Output();
    TemporaryDirectory logs;

    // Given without its trailing '/': the log file must still land inside.
    CliRun run = RunCli({"--json", "--seconds", "2", "--log", logs.path()});
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<json> devices = JsonLines(run.out);
    EXPECT_EQ(Ids(devices), (std::set<std::string>{"zv-1", "qd-2"})) << run.out;
    for (const json& device : devices) {
        std::vector<std::string> keys;
        for (const auto& item : device.items()) keys.push_back(item.key());
        EXPECT_EQ(keys, (std::vector<std::string>{"id", "ip", "host", "product", "detail", "version", "factory", "type",
                                                  "lifetime"}));
    }

    ASSERT_EQ(logs.Files().size(), 1u);
    EXPECT_NE(logs.Files().front().filename().string().find("-SearchDeviceLog.txt"), std::string::npos);
    const std::string log = ReadWholeFile(logs.Files().front());
    EXPECT_NE(log.find("SendThread 1530 : Send Search Device Command"), std::string::npos) << log;
    EXPECT_NE(run.err.find("SendThread 1530 : Send Search Device Command"), std::string::npos)
        << "the log's echo belongs on standard error";
}

TEST_F(CliInTheLab, WithoutMultiCommandOnlyTheBroadcastAndMulticastWorkersSearch)
{
    LabSimulator shelf(shelf_, ShelfDevices());
    ASSERT_TRUE(shelf.ready()) << shelf.Output();
    TemporaryDirectory logs;

    CliRun run = RunCli({"--json", "--seconds", "2", "--no-multi", "--log", logs.slashed()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Ids(JsonLines(run.out)), (std::set<std::string>{"zv-1", "qd-2"})) << run.out;
    ASSERT_EQ(logs.Files().size(), 1u);
    const std::string log = ReadWholeFile(logs.Files().front());
    EXPECT_NE(log.find("SendThread 1900 : Send Search Device Command"), std::string::npos) << log;
    EXPECT_EQ(log.find("SendThread 1530"), std::string::npos) << log;
}

TEST_F(CliInTheLab, FindingNothingIsNoError)
{
    CliRun table = RunCli({"--seconds", "1"});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out, "No device found in 1 s.\n");

    CliRun lines = RunCli({"--json", "--seconds", "1", "--quiet"});
    EXPECT_EQ(lines.status, 0) << lines.err;
    EXPECT_EQ(lines.out, "");
    EXPECT_EQ(lines.err, "nasscout-cli: no device found in 1 s\n");
}

TEST_F(CliInTheLab, WatchShowsDevicesComingAndLeavingWithAByeBye)
{
    LabSimulator shelf(shelf_, ShelfDevices());
    ASSERT_TRUE(shelf.ready()) << shelf.Output();
    const pid_t cli = StartCli({"--watch", "--json", "--interval", "1"});
    ASSERT_TRUE(WaitForOutput([](const std::string& out) {
        return HasEvent(out, "appeared", "zv-1") && HasEvent(out, "appeared", "qd-2");
    })) << Out();

    auto courier = std::make_unique<LabSimulator>(
        courier_, std::vector<std::string>{"--device", LabSimulator::Device("198.51.100.20", "bm-5", "BELMIR4")});
    ASSERT_TRUE(courier->ready()) << courier->Output();
    ASSERT_TRUE(WaitForOutput([](const std::string& out) { return HasEvent(out, "appeared", "bm-5"); })) << Out();
    EXPECT_EQ(courier->Stop(), 0);
    ASSERT_TRUE(WaitForOutput([](const std::string& out) { return HasEvent(out, "left", "bm-5", "bye-bye"); }))
        << Out();

    EXPECT_EQ(StopCli(cli, SIGTERM), 0) << ReadWholeFile(ErrPath());
    std::vector<std::string> departures;
    for (const json& event : JsonLines(Out())) {
        EXPECT_TRUE(event.contains("time")) << event;
        EXPECT_NE(event.value("id", ""), "ob-3") << "a vendor that is not listed never shows";
        if (event["event"] == "left") departures.push_back(event.value("id", "") + " " + event.value("reason", ""));
    }
    EXPECT_EQ(departures, std::vector<std::string>{"bm-5 bye-bye"});
}

TEST_F(CliInTheLab, WatchAgesOutADeviceThatFallsSilentAndEndsOnInterrupt)
{
    LabSimulator shelf(shelf_, ShelfDevices());
    ASSERT_TRUE(shelf.ready()) << shelf.Output();
    const pid_t cli = StartCli({"--watch", "--interval", "1"});
    ASSERT_TRUE(WaitForOutput([](const std::string& out) {
        return out.find("appeared ip=198.51.100.10 host=host-zv-1") != std::string::npos;
    })) << Out();

    // Unplugged: no bye-bye, no more answers.
    ASSERT_EQ(shelf_.Run({"ip", "link", "set", "eth0", "down"}), 0);
    ASSERT_TRUE(WaitForOutput([](const std::string& out) {
        for (const std::string& line : Lines(out)) {
            if (line.find(" left     ip=198.51.100.10 ") != std::string::npos &&
                line.find("(aged out)") != std::string::npos) {
                return true;
            }
        }
        return false;
    })) << Out();

    EXPECT_EQ(StopCli(cli, SIGINT), 0) << ReadWholeFile(ErrPath());
    for (const std::string& line : Lines(Out())) {
        EXPECT_EQ(line.find("NewDeviceInfo"), std::string::npos) << line;
    }
}

TEST_F(CliInTheLab, BadOptionsExitWith2AndNameTheOption)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "'--bogus'"},
        {{"--seconds", "soon"}, "'--seconds'"},
        {{"--seconds", "0"}, "--seconds 0"},
        {{"--watch", "--interval", "-1"}, "--interval -1"},
        {{"--interval", "5"}, "--interval needs --watch"},
        {{"--watch", "--seconds", "5"}, "--seconds does not apply to --watch"},
        {{"--log", files_.path() + "/missing"}, "--log '" + files_.path() + "/missing'"},
        {{"everything"}, "'everything'"},
    };
    for (const auto& [arguments, named] : cases) {
        CliRun run = RunCli(arguments);
        EXPECT_EQ(run.status, 2) << arguments.front();
        EXPECT_EQ(run.out, "") << arguments.front();
        EXPECT_EQ(run.err.rfind("nasscout-cli: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    }
}

TEST_F(CliInTheLab, HelpAndVersionGoToStandardOutput)
{
    CliRun help = RunCli({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--seconds", "--json", "--watch", "--interval", "--log", "--no-multi", "--quiet"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    EXPECT_NE(help.out.find("1530"), std::string::npos) << "the ports a firewall must let in";

    CliRun version = RunCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("nasscout-cli ") + NASSCOUT_VERSION + "\n");
}

}  // namespace
