// The soak: nasscout-cli --watch as users leave it running, three simulated
// devices beside it, and soak_flooder sending random and near-miss datagrams
// at every port the engine listens on. ctest leaves it out: scripts/soak.sh
// runs it. NASSCOUT_SOAK_SECONDS (60) is how long the flood lasts,
// NASSCOUT_SOAK_RATE its datagrams a second (0: as fast as the flooder can),
// NASSCOUT_SOAK_SEED repeats an earlier flood.
#include "tests/support/finder_lab.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How far the resident set may grow from the end of the first pass to the
// end of the flood: buffers touched for the first time, never a cost per
// datagram. What SIGTERM may take to end the watch. How fast the flood is
// unless NASSCOUT_SOAK_RATE says: as fast as the flooder can, or, under a
// sanitizer, what the slowed engine still reads in full.
#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer's own memory grows through the first seconds of the flood,
// and it sleeps a second at exit to catch late races (atexit_sleep_ms).
constexpr long kRssGrowthBoundKib = 16384;
constexpr auto kPromptStop = 2s;
constexpr char kDefaultRate[] = "5000";
#elif defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory in quarantine, up to 256 MiB.
constexpr long kRssGrowthBoundKib = 300 * 1024;
constexpr auto kPromptStop = 1s;
constexpr char kDefaultRate[] = "20000";
#else
constexpr long kRssGrowthBoundKib = 4096;
constexpr auto kPromptStop = 1s;
constexpr char kDefaultRate[] = "0";
#endif

std::string Setting(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// VmRSS of a process in KiB, or -1 once it is gone.
long RssKib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// The --watch events so far; a line still being written is left for later.
std::vector<nlohmann::json> Events(const std::string& out)
{
    std::vector<nlohmann::json> events;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (nlohmann::json::accept(line)) events.push_back(nlohmann::json::parse(line));
    }
    return events;
}

// The store's vendor lines on standard error: one per report it took in,
// less those its writer dropped and counted ("nasscout: N diagnostic lines dropped").
std::pair<std::size_t, unsigned long long> VendorLines(const std::string& err)
{
    std::size_t written = 0;
    unsigned long long dropped = 0;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("NewDeviceInfo.factory = ", 0) == 0) ++written;
        if (line.rfind("nasscout: ", 0) == 0 && line.find(" diagnostic lines dropped") != std::string::npos)
            dropped += std::stoull(line.substr(10));
    }
    return {written, dropped};
}

std::string SanitizerReport(const std::string& output)
{
    const std::size_t at = output.find("Sanitizer");
    return at == std::string::npos ? "" : output.substr(output.rfind('\n', at) + 1, 2000);
}

}  // namespace

TEST(Soak, AFloodedWatchKeepsItsDevicesListsNothingElseAndStopsPromptly)
{
    const std::string seconds = Setting("NASSCOUT_SOAK_SECONDS", "60");
    const std::vector<LabDevice> devices = {
        {"192.0.2.10", "zv-1", "ZORVA"}, {"192.0.2.11", "bm-2", "BELMIR4"}, {"192.0.2.12", "qd-3", "QUENDA"}};
    FinderLab lab;
    LabSimulator& simulator = lab.StartDevices("shelf", devices);
    netlab::Host& flooderHost = lab.AddHost("flooder", {"192.0.2.66"});

    // --verbose: the store's lines under the flood too, its busiest writer.
    const pid_t cli = lab.Spawn({NASSCOUT_CLI_PATH, "--watch", "--json", "--interval", "2", "--verbose"});
    // Each device appears once, whichever of its answers comes first; the one
    // that fills in its detail later is no change. The flood starts once all
    // three have appeared, and from then on the watch has nothing to say.
    const auto appeared = [&lab] {
        std::set<std::string> ids;
        for (const nlohmann::json& event : Events(lab.Out()))
            if (event.value("event", "") == "appeared") ids.insert(event.value("id", ""));
        return ids.size();
    };
    for (const auto deadline = Clock::now() + 15s; appeared() < devices.size(); std::this_thread::sleep_for(20ms))
        ASSERT_LT(Clock::now(), deadline) << "the first pass did not find the three devices:\n" << lab.Out();
    const std::size_t linesBefore = Events(lab.Out()).size();
    const long rssStart = RssKib(cli);

    std::vector<std::string> flood = {SOAK_FLOODER_PATH, "--to", "192.0.2.1", "--seconds", seconds,
                                      "--rate", Setting("NASSCOUT_SOAK_RATE", kDefaultRate)};
    if (const char* seed = std::getenv("NASSCOUT_SOAK_SEED")) flood.insert(flood.end(), {"--seed", seed});
    for (const LabDevice& device : devices) flood.insert(flood.end(), {"--real-id", device.id});
    const std::string flooderOutput = lab.files.File("flooder");
    const pid_t flooder = flooderHost.Spawn(flood, flooderOutput);

    // The process is looked at four times a second until the flooder is done.
    long rssMax = rssStart;
    std::string rssSamples;  // one a second, for the failure message
    int cliStatus = -1, flooderStatus = -1, samples = 0;
    const auto watchdog = Clock::now() + std::chrono::seconds(std::stoi(seconds)) + 30s;
    while (flooderStatus < 0 && cliStatus < 0 && Clock::now() < watchdog) {
        std::this_thread::sleep_for(250ms);
        const long rss = RssKib(cli);
        rssMax = std::max(rssMax, rss);
        if (++samples % 4 == 0) rssSamples += " " + std::to_string(rss);
        cliStatus = lab.finder.Poll(cli);
        flooderStatus = flooderHost.Poll(flooder);
    }
    const long rssEnd = RssKib(cli);
    const std::string flooderText = ReadWholeFile(flooderOutput);
    ASSERT_LT(cliStatus, 0) << "nasscout-cli ended during the flood, status " << cliStatus << ":\n"
                            << SanitizerReport(lab.Err()) << lab.Out();
    ASSERT_EQ(flooderStatus, 0) << flooderText;

    const auto stopStart = Clock::now();
    const int stopStatus = lab.finder.Stop(cli, kPromptStop);
    const auto stopTime = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stopStart);
    EXPECT_EQ(stopStatus, 0) << "SIGTERM did not end nasscout-cli within " << kPromptStop.count() << " s";

    // Any line now is a hostile datagram that became or changed a device, or
    // a real device that left. Told once per event and kind of near miss (the
    // id without its random end), with a count and the first line.
    std::map<std::string, std::pair<int, std::string>> unexpected;
    const std::vector<nlohmann::json> events = Events(lab.Out());
    for (std::size_t line = linesBefore; line < events.size(); ++line) {
        const std::string id = events[line].value("id", "");
        auto& [count, first] = unexpected[events[line].value("event", "") + " " + id.substr(0, id.rfind('-'))];
        if (count++ == 0) first = events[line].dump();
    }
    for (const auto& [what, seen] : unexpected)
        ADD_FAILURE() << "unexpected watch event, " << seen.first << " times: " << what
                      << "; the first: " << seen.second;
    EXPECT_LE(rssMax - rssStart, kRssGrowthBoundKib)
        << "RSS grew from " << rssStart << " to " << rssMax << " KiB; each second:" << rssSamples;
    const std::string err = lab.Err();
    EXPECT_EQ(SanitizerReport(err), "");
    EXPECT_EQ(SanitizerReport(simulator.Output()), "");

    const auto [written, dropped] = VendorLines(err);
    std::cout << flooderText << "soak: " << events.size() << " watch lines; " << written + dropped
              << " reports reached the store (" << written << " vendor lines written, " << dropped << " dropped)\n"
              << "soak: RSS " << rssStart << " KiB after the first pass, at most " << rssMax << " KiB, " << rssEnd
              << " KiB at the end; SIGTERM ended it in " << stopTime.count() << " ms, status " << stopStatus << "\n";
}
