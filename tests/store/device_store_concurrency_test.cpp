// The store under its real concurrency: reporter threads call the store's
// callback as engine receive threads do, each inside a stand-in for the
// engine's report lock, while another thread copies, clears and ages.
#include "store_test_support.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

namespace {

constexpr int kReporters = 4;
constexpr int kReportsEach = 1500;
constexpr int kAddresses = 8;

// Report `sequence` of reporter `reporter`. Every text but ip and id carries
// the pair, so a record put together from two reports is recognised.
deviceinfo Sent(int reporter, int sequence)
{
    static const char* const vendors[] = {"zorva", "BELMIR4", "Quenda", "taviro", "NESTRAL", "acme"};
    static const int32_t types[] = {1, 1, 2, 1, 4, 1, 2, 0, 1, 3};
    int address = (reporter * 5 + sequence * 3) % kAddresses;
    std::string tag = "r" + std::to_string(reporter) + "-s" + std::to_string(sequence);
    deviceinfo device = Device(("10.1.0." + std::to_string(address)).c_str(), ("dev-" + std::to_string(address)).c_str(),
                               vendors[sequence % 6], types[sequence % 10], ("host-" + tag).c_str());
    std::snprintf(device.product, sizeof device.product, "P-%s", tag.c_str());
    std::snprintf(device.detail, sizeof device.detail, "D-%s", tag.c_str());
    std::snprintf(device.version, sizeof device.version, "V-%s", tag.c_str());
    return device;
}

// Empty when every entry is a whole record some reporter sent (upper-cased)
// and no address is listed twice; otherwise what is wrong.
std::string ListProblem(const std::vector<deviceinfo>& devices)
{
    std::set<std::string> addresses;
    for (const deviceinfo& entry : devices) {
        int reporter = -1, sequence = -1;
        if (std::sscanf(entry.host, "host-r%d-s%d", &reporter, &sequence) != 2) return "unknown host " + std::string(entry.host);
        deviceinfo sent = Sent(reporter, sequence);
        ToUpperAscii(sent.factory);
        if (!entry.compare(sent)) return "torn record " + std::string(entry.host) + " " + entry.product + " " + entry.ip;
        if (!addresses.insert(entry.ip).second) return "two entries for " + std::string(entry.ip);
    }
    return "";
}

// The window's side: it takes its own lock around copying, as a window
// guarding its table would. The application callback takes the same lock, so
// a store that called out while holding its mutex shows as a lock-order
// inversion (and under ThreadSanitizer is reported as one).
std::mutex g_applicationMutex;
std::condition_variable g_forwarded;
// Guarded by g_applicationMutex.
size_t g_forwardedCount = 0;
int g_reportersSending = 0;

void* CountForwarded(void*, int)
{
    { std::lock_guard<std::mutex> lock(g_applicationMutex); ++g_forwardedCount; }
    g_forwarded.notify_all();
    return nullptr;
}

class StoreUnderReporters : public EmptyStore {
protected:
    void SetUp() override
    {
        EmptyStore::SetUp();
        g_forwardedCount = 0;
        store->applicationCallback = CountForwarded;
    }

    // Runs the reporters, released together, and `step` on this thread each
    // time reports have come in since the last step (paced by the reports,
    // so neither side can starve the other), once more after the last.
    void Run(const std::function<void()>& step)
    {
        std::mutex engineReportLock;  // stands in for the engine's dispatch mutex
        g_reportersSending = kReporters;
        std::vector<std::thread> reporters;
        {
            std::lock_guard<std::mutex> gate(g_applicationMutex);
            for (int reporter = 0; reporter < kReporters; ++reporter) {
                reporters.emplace_back([&, reporter] {
                    { std::lock_guard<std::mutex> opened(g_applicationMutex); }
                    for (int sequence = 0; sequence < kReportsEach; ++sequence) {
                        deviceinfo device = Sent(reporter, sequence);
                        std::lock_guard<std::mutex> lock(engineReportLock);
                        DeviceStoreCallback(&device, 1530 + 20 * reporter);
                    }
                    { std::lock_guard<std::mutex> lock(g_applicationMutex); --g_reportersSending; }
                    g_forwarded.notify_all();
                });
            }
        }
        size_t seen = 0;
        bool last = false;
        while (!last) {
            {
                std::unique_lock<std::mutex> lock(g_applicationMutex);
                g_forwarded.wait(lock, [&] { return g_forwardedCount > seen || g_reportersSending == 0; });
                seen = g_forwardedCount;
                last = g_reportersSending == 0;
            }
            step();
        }
        for (std::thread& thread : reporters) thread.join();
    }
};

// Which reports the list keeps is the operations table's business; here
// whether a reader ever meets a torn or doubled entry, and no report is held up.
TEST_F(StoreUnderReporters, CopiesClearsAndAgeingDuringReportsNeverMeetATornOrDoubleEntry)
{
    int rounds = 0;
    Run([&] {
        std::vector<deviceinfo> copy;
        {
            std::lock_guard<std::mutex> window(g_applicationMutex);
            CopyDeviceList(store, copy);
        }
        ASSERT_EQ(ListProblem(copy), "");
        if (rounds % 3 == 0) ClearDeviceList(store);
        AgeDeviceList(store);
        ++rounds;
    });
    EXPECT_GT(rounds, 1);
    EXPECT_EQ(ListProblem(StoredDevices()), "");
    EXPECT_EQ(g_forwardedCount, static_cast<size_t>(kReporters * kReportsEach));
}

}  // namespace
