// nasscout-cli end to end: the real program in a finder host of the network
// lab, simulated devices (nasscout-sim) in other hosts on the same segment.
#include "lab/avahi_daemons.h"
#include "tests/support/finder_lab.h"
#include "tests/support/log_line.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
using json = nlohmann::ordered_json;  // keeps the order of the keys as printed

constexpr char kCliPath[] = NASSCOUT_CLI_PATH;

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Every line of `text` as JSON; a line that is not JSON fails the test, unless
// the output may still be growing and end in half a line.
std::vector<json> JsonLines(const std::string& text, bool growing = false)
{
    std::vector<json> objects;
    for (const std::string& line : Lines(text)) {
        if (json::accept(line)) objects.push_back(json::parse(line));
        else if (!growing) ADD_FAILURE() << "not a JSON line: " << line;
    }
    return objects;
}

bool HasEvent(const std::string& out, const std::string& event, const std::string& id)
{
    for (const json& object : JsonLines(out, true)) {
        if (object.value("event", "") == event && object.value("id", "") == id) return true;
    }
    return false;
}

// A finder and a shelf of devices on one segment: a device of a listed
// vendor, one of a listed vendor in lower case, and one of a vendor that is not listed.
class CliInTheLab : public testing::Test {
protected:
    void StartShelf()
    {
        lab.StartDevices("shelf", {{"192.0.2.10", "zv-1", "ZORVA"}, {"192.0.2.11", "qd-2", "quenda"},
                                   {"192.0.2.12", "ob-3", "OBRANDA"}});
    }

    pid_t StartCli(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), kCliPath);
        return lab.Spawn(arguments);
    }

    ProgramRun RunCli(const std::vector<std::string>& arguments) { return lab.Finish(StartCli(arguments)); }

    // Waits until the standard output (or error) so far satisfies `done`.
    bool WaitForOutput(const std::function<bool(const std::string&)>& done, std::chrono::seconds timeout = 15s,
                       bool standardError = false)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done(standardError ? lab.Err() : lab.Out())) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    FinderLab lab;
};

// The listed devices reach standard output, as JSON lines with their keys in
// order or as a table; the log lands in the --log folder (given with and
// without its '/') and echoes on standard error; --no-multi leaves the
// per-address worker out.
TEST_F(CliInTheLab, PrintsTheListedDevicesAndKeepsTheLogOffStandardOutput)
{
    StartShelf();
    for (bool asJson : {true, false}) {
        TemporaryDirectory logs;
        ProgramRun run = RunCli(asJson ? std::vector<std::string>{"--json", "--seconds", "2", "-v", "--log", logs.path()}
                                       : std::vector<std::string>{"--seconds", "2", "--no-multi", "--verbose", "--log",
                                                                  logs.slashed()});
        EXPECT_EQ(run.status, 0) << run.err;
        std::set<std::string> ids;
        for (const json& device : asJson ? JsonLines(run.out) : std::vector<json>{}) {
            std::vector<std::string> keys;
            for (const auto& item : device.items()) keys.push_back(item.key());
            EXPECT_EQ(keys, (std::vector<std::string>{"id", "ip", "host", "product", "detail", "version", "factory",
                                                      "type", "lifetime"}));
            ids.insert(device.value("id", ""));
        }
        for (const std::string& row : asJson ? std::vector<std::string>{} : Lines(run.out)) {
            if (row.rfind("HOST ", 0) != 0) ids.insert(row.substr(row.find_last_of(' ') + 1));
        }
        EXPECT_EQ(ids, (std::set<std::string>{"zv-1", "qd-2"})) << run.out;
        ASSERT_EQ(logs.Files().size(), 1u);
        EXPECT_NE(logs.Files().front().filename().string().find("-SearchDeviceLog.txt"), std::string::npos);
        const std::string log = ReadWholeFile(logs.Files().front());
        EXPECT_NE(log.find(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_SEND_SEARCH, 1900)), std::string::npos) << log;
        EXPECT_EQ(log.find(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_SEND_SEARCH, 1530)) != std::string::npos, asJson) << log;
        EXPECT_NE(run.err.find(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_SEND_SEARCH, 1900)), std::string::npos) << run.err;
    }
}

// A device leaves with a bye-bye or, unplugged, by ageing out; a vendor that
// is not listed never shows; either stop signal ends the watch with status 0.
TEST_F(CliInTheLab, WatchShowsDevicesComingAndLeavingUntilAStopSignal)
{
    StartShelf();
    netlab::Host& drifter = lab.AddHost("drifter", {"192.0.2.30"});
    lab.StartSimulator(drifter, {"--device", LabSimulator::Device("192.0.2.30", "dr-4")});
    pid_t cli = StartCli({"--watch", "--json", "--interval", "1"});
    ASSERT_TRUE(WaitForOutput([](const std::string& out) {
        return HasEvent(out, "appeared", "zv-1") && HasEvent(out, "appeared", "qd-2") && HasEvent(out, "appeared", "dr-4");
    })) << lab.Out();

    LabSimulator& courier = lab.StartDevices("courier", {{"192.0.2.20", "bm-5", "BELMIR4"}});
    ASSERT_TRUE(WaitForOutput([](const std::string& out) { return HasEvent(out, "appeared", "bm-5"); })) << lab.Out();
    EXPECT_EQ(courier.Stop(), 0);
    ASSERT_EQ(drifter.Run({"ip", "link", "set", "eth0", "down"}), 0);
    ASSERT_TRUE(WaitForOutput([](const std::string& out) {
        return HasEvent(out, "left", "bm-5") && HasEvent(out, "left", "dr-4");
    })) << lab.Out();

    kill(cli, SIGTERM);
    EXPECT_EQ(lab.finder.Wait(cli, 10s), 0) << lab.Err();
    std::vector<std::string> departures;
    for (const json& event : JsonLines(lab.Out())) {
        EXPECT_TRUE(event.contains("time")) << event;
        EXPECT_NE(event.value("id", ""), "ob-3");
        if (event["event"] == "left") departures.push_back(event.value("id", "") + " " + event.value("reason", ""));
    }
    EXPECT_EQ(departures, (std::vector<std::string>{"bm-5 bye-bye", "dr-4 aged out"}));

    cli = StartCli({"--watch", "--interval", "1"});
    ASSERT_TRUE(WaitForOutput([](const std::string& out) { return out.find(" host=host-zv-1") != std::string::npos; }));
    kill(cli, SIGINT);
    EXPECT_EQ(lab.finder.Wait(cli, 10s), 0) << lab.Err();
}

// Ctrl-C during a single search no longer loses what was found: the search
// window ends, the devices are printed, and the status says it was cut short.
TEST_F(CliInTheLab, AStopSignalEndsTheSearchWindowAndPrintsWhatWasFound)
{
    StartShelf();
    const pid_t cli = StartCli({"--json", "--seconds", "60", "--verbose"});
    // The store's second vendor line comes after the first device is in.
    ASSERT_TRUE(WaitForOutput([](const std::string& err) {
        const std::size_t first = err.find("NewDeviceInfo.factory");
        return first != std::string::npos && err.find("NewDeviceInfo.factory", first + 1) != std::string::npos;
    }, 15s, true)) << lab.Err();
    kill(cli, SIGINT);
    EXPECT_EQ(lab.finder.Wait(cli, 10s), 128 + SIGINT) << lab.Err();
    EXPECT_FALSE(JsonLines(lab.Out()).empty()) << lab.Out();
}

// With no network but loopback there is nothing to search on: said so, and
// a status of its own, where it used to print an empty table with 0.
TEST_F(CliInTheLab, NothingToSearchOnEndsWithStatusThree)
{
    netlab::Host& island = lab.lab.AddHost("island", {});
    const std::string err = lab.files.File("island.err");
    EXPECT_EQ(island.Run({"/bin/sh", "-c", "exec \"$0\" --seconds 5 2>\"$1\"", kCliPath, err}), 3);
    EXPECT_NE(ReadWholeFile(err).find("nasscout-cli: nothing to search on: no network interface is up"),
              std::string::npos) << ReadWholeFile(err);
}

// The results go into a pipe that nobody reads. A full one holds the --watch
// printer in a write: a stop signal still ends the program, with status 1
// for the line it could not write, where it used to wait forever. Without a
// reader the first line fails and ends it with status 1, where SIGPIPE did.
TEST_F(CliInTheLab, AReaderThatStallsOrGoesAwayCannotHoldTheWatch)
{
    lab.StartDevices("shelf", {{"192.0.2.10", "zv-1", "ZORVA"}});
    for (bool readerGone : {false, true}) {
        SCOPED_TRACE(readerGone ? "reader gone" : "reader stalled");
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        if (readerGone) close(ends[0]);
        while (!readerGone && write(ends[1], "x", 1) == 1) {
        }
        // Opened by path, the pipe gives the program a description of its own, one that blocks.
        const std::string results = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(ends[1]);
        const pid_t cli = lab.finder.Spawn(
            {"/bin/sh", "-c", "exec \"$@\" 2>\"$0\"", lab.files.File("err"), kCliPath, "--watch", "--verbose"}, results);
        close(ends[1]);
        if (!readerGone) {
            // Reports reach the store one at a time: by the second vendor
            // line, the first report's line is queued for the printer.
            const auto twoVendorLines = [](const std::string& err) {
                const std::size_t first = err.find("NewDeviceInfo.factory");
                return first != std::string::npos && err.find("NewDeviceInfo.factory", first + 1) != std::string::npos;
            };
            ASSERT_TRUE(WaitForOutput(twoVendorLines, 15s, true)) << lab.Err();
            kill(cli, SIGTERM);
        }
        EXPECT_EQ(lab.finder.Wait(cli, 10s), 1) << lab.Err();
        if (!readerGone) close(ends[0]);
    }
}

// Help, version and a search that finds nothing end with status 0; a bad
// option ends with 2 and one line on standard error that names it. Boost's
// own message for a value or option holding a placeholder ("%value%") never
// came; a log directory the engine cannot write in used to leave the log off
// without a word.
TEST_F(CliInTheLab, OptionsEndWithTheirStatusAndTheirText)
{
    const std::string missing = lab.files.File("missing");
    // Deep enough that the log file's name takes its path past PATH_MAX.
    std::string deep = lab.files.path();
    while (deep.size() < 4080) deep += "/" + std::string(std::min<std::size_t>(200, 4080 - deep.size()), 'd');
    std::filesystem::create_directories(deep);
    // Named like the day's log, a link to a file root should never append to.
    const std::string linked = lab.files.File("linked");
    std::filesystem::create_directories(linked);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char todaysLog[64];
    std::strftime(todaysLog, sizeof todaysLog, "%Y-%m-%d-SearchDeviceLog.txt", localtime_r(&now, &local));
    std::filesystem::create_symlink(lab.files.File("victim"), linked + "/" + todaysLog);
    enum Stream { kOut, kErr };
    const std::vector<std::tuple<std::vector<std::string>, int, Stream, std::string>> cases = {
        {{"--bogus%canonical_option%"}, 2, kErr, "'--bogus%canonical_option%'"},
        {{"--seconds", "%value%"}, 2, kErr, "('%value%') for option '--seconds'"},
        {{"--seconds", "0"}, 2, kErr, "--seconds 0"},
        {{"--watch", "--interval", "-1"}, 2, kErr, "--interval -1"},
        {{"--interval", "5"}, 2, kErr, "--interval needs --watch"},
        {{"--watch", "--seconds", "5"}, 2, kErr, "--seconds does not apply to --watch"},
        {{"--log", missing}, 2, kErr, "--log '" + missing + "'"},
        {{"--log", "/sys"}, 2, kErr, "--log '/sys/' cannot be written"},
        {{"--log", deep}, 2, kErr, "' cannot be written: File name too long"},
        {{"--log", linked}, 2, kErr, std::string("cannot be written: ") + todaysLog + " is a symbolic link"},
        {{"every\nthing\x1b[2J"}, 2, kErr, "'every\\x0athing\\x1b[2J'"},
        {{"--help"}, 0, kOut, "1530"},  // the ports a firewall must let in
        {{"--version"}, 0, kOut, std::string("nasscout-cli ") + NASSCOUT_VERSION + "\n"},
        {{"--seconds", "1"}, 0, kOut, "No device found in 1 s.\n"},
        // Aliases repeat options: a switch twice is the switch, a value given twice the last.
        {{"-q", "-q", "--seconds", "9", "--seconds", "1"}, 0, kOut, "No device found in 1 s.\n"},
        {{"--json", "--seconds", "1", "--quiet"}, 0, kErr, "nasscout-cli: no device found in 1 s\n"},
        // No avahi-daemon (here not even a system bus): said once, and the search goes on.
        {{"--all-makes", "--json", "--seconds", "1"}, 0, kErr,
         "nasscout-cli: DNS-SD: avahi-daemon is not running: devices of other makes are found once it runs\n"
         "nasscout-cli: no device found in 1 s\n"},
    };
    for (const auto& [arguments, status, stream, text] : cases) {
        ProgramRun run = RunCli(arguments);
        EXPECT_FALSE(std::filesystem::exists(lab.files.File("victim"))) << arguments.front();
        EXPECT_EQ(run.status, status) << arguments.front();
        EXPECT_NE((stream == kOut ? run.out : run.err).find(text), std::string::npos) << run.out << run.err;
        EXPECT_TRUE(stream == kOut || run.out.empty()) << run.out;
        if (status == 0) continue;
        EXPECT_EQ(run.err.rfind("nasscout-cli: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << "the message and the hint: " << run.err;
    }
}

// With --all-makes, NAS devices of other makes that announce a file service
// over DNS-SD (each host a real avahi-daemon) are listed beside the devices
// of nasscout's protocol, through the finder's own avahi-daemon and bus.
class CliWithAllMakes : public CliInTheLab {
protected:
    void SetUp() override
    {
        desktop = netlab::AvahiDaemon::Desktop(lab.finder);
        ASSERT_TRUE(desktop->WaitReady()) << desktop->Output();
    }

    netlab::AvahiDaemon& Announce(const std::string& ip, const std::string& hostName,
                                  const std::vector<netlab::DnssdService>& services, netlab::Host* host = nullptr)
    {
        if (host == nullptr) host = &lab.AddHost(hostName, {ip});
        responders.push_back(netlab::AvahiDaemon::Responder(*host, hostName, services));
        if (!responders.back()->WaitReady()) ADD_FAILURE() << responders.back()->Output();
        return *responders.back();
    }

    std::unique_ptr<netlab::AvahiDaemon> desktop;
    std::vector<std::unique_ptr<netlab::AvahiDaemon>> responders;
};

// One row per address: a file server with its model, an AFP-only one, every
// vendor of nasscout's protocol, and where both found an address, the
// protocol's record. A web page alone is no NAS. Names and TXT records that
// carry controls, bidi overrides, invalid UTF-8 or too many bytes reach the
// output escaped and cut to the field. Without the option: today's rows.
TEST_F(CliWithAllMakes, ListsEveryNasOfTheNetworkInOneTable)
{
    StartShelf();
    Announce("192.0.2.20", "nas-b", {{"_smb._tcp", "Office NAS", 445, {}},
                                     {"_device-info._tcp", "Office NAS", 0, {"model=NS-4"}},
                                     {"_http._tcp", "Office NAS", 5000, {"path=/admin"}}});
    Announce("192.0.2.21", "nas-c", {{"_afpovertcp._tcp", "Backup", 548, {}}});
    Announce("192.0.2.22", "printer", {{"_http._tcp", "Printer", 80, {}}});
    Announce("192.0.2.23", "evil", {{"_smb._tcp", "Evil\u202Egpj.exe\u0085" + std::string(40, 'x'), 445, {}},
                                    {"_device-info._tcp", "Evil", 0, {"model=\x1b[2J\xff\xfe" + std::string(200, 'm')}}});
    netlab::Host& twin = lab.AddHost("twin", {"192.0.2.13"});
    lab.StartSimulator(twin, {"--device", LabSimulator::Device("192.0.2.13", "tw-6")});
    Announce("192.0.2.13", "twin", {{"_smb._tcp", "Twin", 445, {}}}, &twin);

    ProgramRun run = RunCli({"--all-makes", "--json", "--seconds", "3"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> rows;
    for (const json& device : JsonLines(run.out)) {
        rows.push_back(device.value("ip", "") + " " + device.value("id", "") + " " + device.value("found", "") + " " +
                       device.value("product", "") + " " + device.value("detail", ""));
    }
    ASSERT_EQ(rows.size(), 7u) << run.out;
    EXPECT_EQ(rows[0], "192.0.2.10 zv-1 nasscout NS200 A1");
    EXPECT_EQ(rows[3], "192.0.2.13 tw-6 nasscout NS200 A1");
    EXPECT_EQ(rows[4], "192.0.2.20 nas-b.local dns-sd NS-4 smb");
    EXPECT_EQ(rows[5], "192.0.2.21 nas-c.local dns-sd  afp");
    EXPECT_EQ(rows[6].substr(0, 29), "192.0.2.23 evil.local dns-sd ");
    EXPECT_EQ(JsonLines(run.out)[2].value("factory", ""), "OBRANDA");
    for (const std::string raw : {"\x1b", "\xff", "\u202E", "\u0085"}) EXPECT_EQ(run.out.find(raw), std::string::npos);
    EXPECT_NE(run.out.find("Evil\\u202egpj.exe\\u0085xx"), std::string::npos) << run.out;

    run = RunCli({"--all-makes", "--seconds", "3"});
    EXPECT_NE(run.out.find("FOUND"), std::string::npos);
    EXPECT_NE(run.out.find("192.0.2.20  NS-4 "), std::string::npos) << run.out;

    run = RunCli({"--json", "--seconds", "3"});
    std::set<std::string> ids;
    for (const json& device : JsonLines(run.out)) ids.insert(device.value("id", "") + device.value("found", ""));
    EXPECT_EQ(ids, (std::set<std::string>{"zv-1", "qd-2", "tw-6"})) << run.out;
}

// A host that says goodbye leaves the watch with reason bye-bye.
TEST_F(CliWithAllMakes, WatchSeesAHostLeaveWithItsGoodbye)
{
    netlab::AvahiDaemon& leaving = Announce("192.0.2.21", "nas-c", {{"_afpovertcp._tcp", "Backup", 548, {}}});
    const pid_t cli = StartCli({"--watch", "--json", "--all-makes"});
    ASSERT_TRUE(WaitForOutput([](const std::string& out) { return HasEvent(out, "appeared", "nas-c.local"); }))
        << lab.Out() << lab.Err();
    leaving.Stop();
    ASSERT_TRUE(WaitForOutput([](const std::string& out) { return HasEvent(out, "left", "nas-c.local"); }))
        << lab.Out();
    kill(cli, SIGTERM);
    EXPECT_EQ(lab.finder.Wait(cli, 10s), 0) << lab.Err();
    const std::vector<json> events = JsonLines(lab.Out());
    ASSERT_EQ(events.size(), 2u) << lab.Out();
    EXPECT_EQ(events[1].value("reason", ""), "bye-bye");
    EXPECT_EQ(events[1].value("found", ""), "dns-sd");
}

}  // namespace
